// The program itself, headless, driven by real clients.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "core/Znaki.h"
#include "net/WSocket.h"
#include "support/ZzPeer.h"

namespace {

int FreePort()
{
    TWSocket probe;
    probe.SetAddr("127.0.0.1");
    probe.SetPort("0");
    probe.Listen();
    return BoundPort(probe);
}

// A configuration folder of the tests' own, never the user's.
const std::string& ConfigDir()
{
    static const std::string dir = [] {
        char tmpl[] = "/tmp/tzz-program-XXXXXX";
        return std::string(mkdtemp(tmpl));
    }();
    return dir;
}

struct TProgram {
    pid_t Pid = -1;
    int Out = -1;
    int Err = -1;
    std::string Stdout, Stderr;

    explicit TProgram(std::vector<std::string> args)
    {
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0)
            return;
        Pid = fork();
        if (Pid == 0) {
            setenv("XDG_CONFIG_HOME", ConfigDir().c_str(), 1);
            dup2(out[1], 1);
            dup2(err[1], 2);
            std::vector<char*> argv;
            std::string program = TZZ_PROGRAM;
            argv.push_back(program.data());
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        Out = out[0];
        Err = err[0];
        fcntl(Out, F_SETFL, O_NONBLOCK);
        fcntl(Err, F_SETFL, O_NONBLOCK);
    }
    ~TProgram()
    {
        if (Pid > 0) {
            kill(Pid, SIGKILL);
            waitpid(Pid, nullptr, 0);
        }
        close(Out);
        close(Err);
    }
    void Pull()
    {
        char buf[4096];
        ssize_t n;
        while ((n = read(Out, buf, sizeof buf)) > 0)
            Stdout.append(buf, static_cast<size_t>(n));
        while ((n = read(Err, buf, sizeof buf)) > 0)
            Stderr.append(buf, static_cast<size_t>(n));
    }
    // Waits until stdout holds text (or timeout).
    bool WaitFor(const std::string& text, int timeoutMs = 5000)
    {
        int64_t end = MonotonicMs() + timeoutMs;
        while (Stdout.find(text) == std::string::npos && MonotonicMs() < end) {
            pollfd p{Out, POLLIN, 0};
            poll(&p, 1, 20);
            Pull();
        }
        return Stdout.find(text) != std::string::npos;
    }
    int Stop(int sig)
    {
        kill(Pid, sig);
        int status = 0;
        int64_t end = MonotonicMs() + 5000;
        while (waitpid(Pid, &status, WNOHANG) == 0 && MonotonicMs() < end)
            usleep(10000);
        Pull();
        Pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    int Wait()
    {
        int status = 0;
        waitpid(Pid, &status, 0);
        Pid = -1;
        Pull();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

bool Connected(TZzPeer& peer, int port)
{
    for (int i = 0; i < 100; ++i) {
        if (peer.Connect(port))
            return true;
        usleep(20000);
    }
    return false;
}

}  // namespace

TEST(Program, GreetsLogsInRelaysAndStopsInOrder)
{
    int port = FreePort();
    TProgram program({"--headless", "--messenger-port", std::to_string(port), "--http-port", std::to_string(FreePort())});
    ASSERT_TRUE(program.WaitFor("prawym klawiszem.\n"));

    TZzPeer five, seven, third;
    ASSERT_TRUE(Connected(five, port));
    ASSERT_TRUE(five.Login(5));
    ASSERT_TRUE(Connected(seven, port));
    ASSERT_TRUE(seven.Login(7));
    ASSERT_TRUE(program.WaitFor(">powitanie\n>logowanie użytkownika 5\n<użytkownik zalogowany\n"));

    five.SendPacket(cpNewStatus, U32(2) + "hej");
    TPacket change = seven.ReadPacket();
    EXPECT_EQ(change.Payload, U32(5) + "\x02" + ByteString(9, '\0') + "hej");
    seven.SendPacket(cpSendMessage, U32(5) + U32(1) + U32(0) + Znaki::ToCp1250("cześć") + ByteString(1, '\0'));
    EXPECT_EQ(Hex(seven.ReadPacket().Payload), "02 00 00 00 07 00 00 00 01 00 00 00");
    TPacket msg = five.ReadPacket();
    EXPECT_EQ(msg.Type, spMessage);
    EXPECT_EQ(msg.Payload.substr(16), Znaki::ToCp1250("cześć") + ByteString(1, '\0'));

    ASSERT_TRUE(Connected(third, port));
    ASSERT_TRUE(third.Login(9));
    third.SendPacket(cpContactsLast, U32(5) + "x" + U32(7) + "x" + U32(8) + "x");
    TPacket contacts = third.ReadPacket();
    EXPECT_EQ(contacts.Payload, U32(5) + "\x02" + ByteString(9, '\0') + U32(7) + ByteString(10, '\0'));

    ASSERT_TRUE(program.WaitFor("9>ostatnie pozycje listy kontaktów\n"));
    EXPECT_NE(program.Stdout.find("5>jestem dostępny (paczka o długości 7)\n"), std::string::npos);
    EXPECT_NE(program.Stdout.find("7>wypowiedź dla 5 o treści \"cześć\"\n"), std::string::npos);
    EXPECT_NE(program.Stdout.find("5>użytkownik zmienił status na 2 \"{02}{00}{00}{00}hej\" (paczka o długości 7)\n"),
              std::string::npos);

    EXPECT_EQ(program.Stop(SIGTERM), 0);
    EXPECT_TRUE(five.WaitClosed());
    EXPECT_TRUE(third.WaitClosed());
    EXPECT_EQ(program.Stderr, "");
}

TEST(Program, MessengerPortInUseIsReportedOnStderrAndTheProgramStaysUp)
{
    TWSocket holder;
    holder.SetAddr("0.0.0.0");
    holder.SetPort("0");
    holder.Listen();
    int port = BoundPort(holder);
    TProgram program({"--headless", "--messenger-port", std::to_string(port)});
    ASSERT_TRUE(program.WaitFor("prawym klawiszem.\n"));
    usleep(50000);
    program.Pull();
    EXPECT_NE(program.Stderr.find("could not be opened: Error 10048 in function Bind"), std::string::npos);
    EXPECT_EQ(program.Stop(SIGINT), 0);
}

TEST(Program, BadOptionIsOneLineAndExitStatusTwo)
{
    TProgram program({"--messenger-port", "http"});
    EXPECT_EQ(program.Wait(), 2);
    EXPECT_EQ(program.Stderr, "trelubki-serwer: --messenger-port: 'http' is not a port number (1-65535)\n");
    EXPECT_EQ(program.Stdout, "");
}

TEST(Program, BadHttpTimeoutOrEmptyDocDirIsRefusedBeforeAnythingStarts)
{
    int http = FreePort();
    for (auto args : {std::vector<std::string>{"--headless", "--http-port", std::to_string(http), "--http-timeout", "-5"},
                      std::vector<std::string>{"--headless", "--http-port", std::to_string(http), "--doc-dir", ""}}) {
        TProgram program(args);
        EXPECT_EQ(program.Wait(), 2);
        EXPECT_EQ(program.Stdout, "");
        EXPECT_EQ(std::count(program.Stderr.begin(), program.Stderr.end(), '\n'), 1) << program.Stderr;
        TPeer peer;
        EXPECT_FALSE(peer.Connect(http));
    }
}

TEST(Program, HttpTimeoutEndsASilentConnection)
{
    int http = FreePort();
    TProgram program({"--headless", "--messenger-port", std::to_string(FreePort()), "--http-port", std::to_string(http),
                      "--http-timeout", "1"});
    ASSERT_TRUE(program.WaitFor("prawym klawiszem.\n"));
    TPeer peer;
    ASSERT_TRUE(peer.Connect(http));
    ASSERT_TRUE(program.WaitFor("nowe połączenie\n"));
    EXPECT_TRUE(peer.WaitClosed(4000));
    EXPECT_TRUE(program.WaitFor("nowe połączenie\nrozłączenie\n"));
    EXPECT_EQ(program.Stop(SIGTERM), 0);
}

TEST(Program, HttpPortTakenGivesTheRedMessageThenTheNotice)
{
    TWSocket holder;
    holder.SetAddr("0.0.0.0");
    holder.SetPort("0");
    holder.Listen();
    std::string http = std::to_string(BoundPort(holder));
    int port = FreePort();
    TProgram program({"--headless", "--messenger-port", std::to_string(port), "--http-port", http, "--address", "łódź.lan"});
    ASSERT_TRUE(program.WaitFor("prawym klawiszem.\n"));
    std::string expected = "Nie udało się otworzyć portu " + http +
                           " !\n\nNajprawdopodobniej jest on blokowany przez funkcjonujący serwer HTTP. Wyłącz go lub "
                           "skonfiguruj tak, by na żądanie dokumentu „\\appsvc\\appmsg4.asp” serwera witrualnego "
                           "„łódź.lan” odpowiadał „0 0 łódź.lan:" +
                           std::to_string(port) + " łódź.lan”\n\nKorzystanie z klientów";
    EXPECT_EQ(program.Stdout.substr(0, expected.size()), expected);
    TZzPeer client;
    ASSERT_TRUE(Connected(client, port));  // the messenger server opened all the same
    EXPECT_TRUE(client.Login(3));
    EXPECT_EQ(program.Stop(SIGTERM), 0);
}

TEST(Program, BootstrapRequestCarriesTheAnnouncedAddress)
{
    int http = FreePort();
    TProgram program({"--headless", "--messenger-port", std::to_string(FreePort()), "--http-port", std::to_string(http),
                      "--address", "192.168.1.5"});
    ASSERT_TRUE(program.WaitFor("prawym klawiszem.\n"));
    TPeer peer;
    ASSERT_TRUE(peer.Connect(http));
    peer.Send("GET /appsvc/appmsg4.asp?fmnumber=5 HTTP/1.0\r\n\r\n");
    EXPECT_EQ(peer.ReadFor(300), "Content-Type: text/data\r\n\r\n0 0 192.168.1.5:8074 192.168.1.5");
    peer.Close();
    ASSERT_TRUE(program.WaitFor("nowe połączenie\nget /appsvc/appmsg4.asp\nrozłączenie\n"));
    EXPECT_EQ(program.Stop(SIGTERM), 0);
}

TEST(Program, StoredAddressIsAnnouncedAndAnEmptyOneStaysEmpty)
{
    std::string folder = ConfigDir() + "/Welkor/Trelubki";
    std::filesystem::create_directories(folder);
    int http = FreePort();
    auto ask = [&](const std::string& stored) {
        std::ofstream(folder + "/Serwer.ini") << "[ustawienia]\nadres=" << stored << "\n";
        TProgram program({"--headless", "--messenger-port", std::to_string(FreePort()), "--http-port", std::to_string(http)});
        EXPECT_TRUE(program.WaitFor("prawym klawiszem.\n"));
        TPeer peer;
        EXPECT_TRUE(peer.Connect(http));
        peer.Send("GET / HTTP/1.0\r\n\r\n");
        std::string reply = peer.ReadFor(300);
        EXPECT_EQ(program.Stop(SIGTERM), 0);
        return reply;
    };
    EXPECT_EQ(ask("żółw.lan"), "Content-Type: text/data\r\n\r\n0 0 \xBF\xF3\xB3w.lan:8074 \xBF\xF3\xB3w.lan");
    EXPECT_EQ(ask(""), "Content-Type: text/data\r\n\r\n0 0 :8074 ");
    std::filesystem::remove(folder + "/Serwer.ini");
}
