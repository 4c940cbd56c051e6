// The Windows program, run under Wine, serving clients of this (Linux) machine over loopback as
// it would serve those of a LAN: the bootstrap request, a document of the wwwroot beside it,
// greeting and login, a relayed message, a status change, a contact list; its activity log as it
// writes it to a pipe; and its orderly end.
#include <gtest/gtest.h>
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/Znaki.h"
#include "support/ChildProgram.h"
#include "support/ZzPeer.h"

namespace {

const std::string WineRun = TZZ_WINE_RUN;
const std::string WinePrefix = TZZ_WINE_PREFIX;

// What the program wrote, with the Windows line ends made plain ones.
std::string Plain(std::string text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    return out;
}

// The processes of this machine that run in the test's Wine prefix.
int ProcessesInPrefix()
{
    int count = 0;
    DIR* proc = opendir("/proc");
    while (dirent* entry = proc ? readdir(proc) : nullptr) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        std::ifstream environ(std::string("/proc/") + entry->d_name + "/environ");
        std::string variable;
        while (std::getline(environ, variable, '\0'))
            if (variable == "WINEPREFIX=" + WinePrefix)
                ++count;
    }
    if (proc)
        closedir(proc);
    return count;
}

void StopWineServer()
{
    TChildProgram(WineRun, {"--prefix", WinePrefix, "--stop-server"}).Wait();
}

// The Windows program under Wine, in the test's own prefix, with a UTF-8 locale so that its
// command line reaches it as Unicode.
struct TWindowsProgram : TChildProgram {
    TWindowsProgram(const std::string& program, const std::vector<std::string>& args)
        : TChildProgram(WineRun, Args(program, args), {{"LANG", "C.UTF-8"}, {"LC_ALL", "C.UTF-8"}})
    {
    }
    static std::vector<std::string> Args(const std::string& program, const std::vector<std::string>& args)
    {
        std::vector<std::string> all{"--prefix", WinePrefix, "--exec", program};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }
    // Waits until the log, line ends made plain, holds text (Wine starts in seconds, not ms).
    bool WaitForLog(const std::string& text, int timeoutMs = 20000)
    {
        for (int waited = 0; waited <= timeoutMs; waited += 20) {
            Pull();
            if (Plain(Stdout).find(text) != std::string::npos)
                return true;
            usleep(20000);
        }
        return false;
    }
    bool HasLog(const std::string& text) { return Plain(Stdout).find(text) != std::string::npos; }
};

class WindowsProgram : public testing::Test {
protected:
    // Wine must start here: a machine without it fails this test, it does not pass it by.
    static void SetUpTestSuite()
    {
        TChildProgram check(WineRun, {"--prefix", WinePrefix, "--check"});
        WineStarts = check.Wait() == 0;
        WineMessage = check.Stderr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(std::filesystem::exists(TZZ_WINDOWS_PROGRAM)) << TZZ_WINDOWS_PROGRAM << " is not built";
        ASSERT_TRUE(WineStarts) << "Wine cannot run the Windows program here: " << WineMessage;
        char tmpl[] = "/tmp/tzz-windows-program-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        Folder = tmpl;
    }
    void TearDown() override
    {
        // No Wine process of the test may outlive it.
        StopWineServer();
        EXPECT_EQ(ProcessesInPrefix(), 0);
        if (!Folder.empty())
            std::filesystem::remove_all(Folder);
    }
    static inline bool WineStarts = false;
    static inline std::string WineMessage;
    std::string Folder;
};

TEST_F(WindowsProgram, ServesLinuxClientsEndToEndAndStopsInOrder)
{
    // The folder as the zip gives it: the program, and the documents in wwwroot beside it.
    std::filesystem::copy_file(TZZ_WINDOWS_PROGRAM, Folder + "/trelubki-serwer.exe");
    std::filesystem::create_directory(Folder + "/wwwroot");
    std::ofstream(Folder + "/wwwroot/plik.txt") << "abc";
    int http = FreePort(), port = FreePort();
    TWindowsProgram program(Folder + "/trelubki-serwer.exe", {"--messenger-port", std::to_string(port), "--http-port",
                                                              std::to_string(http), "--address", "łódź.lan"});
    ASSERT_TRUE(program.WaitForLog("prawym klawiszem.\n", 60000)) << program.Stdout << program.Stderr;

    // The bootstrap request: the address given on the (Unicode) command line, in code page 1250.
    TPeer bootstrap;
    ASSERT_TRUE(Connected(bootstrap, http, 10000));
    bootstrap.Send("GET /appsvc/appmsg4.asp?fmnumber=5 HTTP/1.0\r\n\r\n");
    std::string reply = "Content-Type: text/data\r\n\r\n0 0 \xB3\xF3" "d\x9F.lan:8074 \xB3\xF3" "d\x9F.lan";
    EXPECT_EQ(bootstrap.ReadExactly(reply.size(), 5000), reply);
    EXPECT_EQ(bootstrap.ReadFor(100), "");
    bootstrap.Close();  // the client ends the connection, as it does after the reply
    EXPECT_TRUE(program.WaitForLog("nowe połączenie\nget /appsvc/appmsg4.asp\nrozłączenie\n")) << program.Stdout;

    // A document of the default folder.
    TPeer head;
    ASSERT_TRUE(Connected(head, http, 10000));
    head.Send("HEAD /plik.txt HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(head.WaitClosed());
    std::string headers = head.Pending();
    EXPECT_EQ(headers.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << headers;
    EXPECT_NE(headers.find("Content-Length: 3\r\n"), std::string::npos) << headers;
    // The server may log its end of that connection after this side saw it: wait for it, so that
    // it does not come between the messenger lines checked below.
    EXPECT_TRUE(program.WaitForLog("get /appsvc/appmsg4.asp\nrozłączenie\nnowe połączenie\nrozłączenie\n"))
        << program.Stdout;

    TZzPeer five, seven, nine;
    ASSERT_TRUE(Connected(five, port, 10000));
    ASSERT_TRUE(five.Login(5));
    ASSERT_TRUE(Connected(seven, port, 10000));
    ASSERT_TRUE(seven.Login(7));

    five.SendPacket(cpNewStatus, U32(2) + "hej");
    TPacket change = seven.ReadPacket();
    EXPECT_EQ(change.Payload, U32(5) + "\x02" + ByteString(9, '\0') + "hej");

    seven.SendPacket(cpSendMessage, U32(5) + U32(1) + U32(0) + Znaki::ToCp1250("cześć") + ByteString(1, '\0'));
    EXPECT_EQ(Hex(seven.ReadPacket().Payload), "02 00 00 00 07 00 00 00 01 00 00 00");
    TPacket message = five.ReadPacket();
    EXPECT_EQ(message.Type, spMessage);
    EXPECT_EQ(message.Payload.substr(0, 4), U32(7));
    EXPECT_EQ(message.Payload.substr(16), Znaki::ToCp1250("cześć") + ByteString(1, '\0'));

    ASSERT_TRUE(Connected(nine, port, 10000));
    ASSERT_TRUE(nine.Login(9));
    nine.SendPacket(cpContactsLast, U32(5) + "x" + U32(7) + "x" + U32(8) + "x");
    EXPECT_EQ(nine.ReadPacket().Payload, U32(5) + "\x02" + ByteString(9, '\0') + U32(7) + ByteString(10, '\0'));

    // The log reaches the pipe in UTF-8: Polish letters as on Linux.
    ASSERT_TRUE(program.WaitForLog("9>ostatnie pozycje listy kontaktów\n")) << program.Stdout;
    EXPECT_TRUE(program.HasLog(">powitanie\n>logowanie użytkownika 5\n<użytkownik zalogowany\n")) << program.Stdout;
    EXPECT_TRUE(program.HasLog("5>jestem dostępny (paczka o długości 7)\n")) << program.Stdout;
    EXPECT_TRUE(program.HasLog("7>wypowiedź dla 5 o treści \"cześć\"\n")) << program.Stdout;

    // Ctrl+C (Wine gives the program a console control event for SIGINT): an orderly end.
    EXPECT_EQ(program.Stop(SIGINT, 20000), 0) << program.Stderr;
    EXPECT_TRUE(five.WaitClosed());
    EXPECT_TRUE(nine.WaitClosed());
}

}  // namespace
