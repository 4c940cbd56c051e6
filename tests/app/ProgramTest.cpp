// The program itself, headless, driven by real clients.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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
    TProgram program({"--headless", "--messenger-port", std::to_string(port), "--http-port", "1"});
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
