// The window build of the program itself: how it ends on SIGINT and SIGTERM, and what it does
// when the display it is given cannot be reached.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "net/WSocket.h"
#include "support/ChildProgram.h"
#include "support/RawHttpServer.h"
#include "support/ZzPeer.h"
#include "window/XDisplay.h"

namespace {

std::string TempFolder(const char* name)
{
    std::string tmpl = std::string("/tmp/tzz-") + name + "-XXXXXX";
    return mkdtemp(tmpl.data());
}

// The program with an environment of the test's choosing: nothing of the test's own display or
// configuration.
struct TWindowProgram : TChildProgram {
    TWindowProgram(const std::vector<std::string>& args, const std::map<std::string, std::string>& env)
        : TChildProgram(TZZ_PROGRAM, args, env,
                        {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XAUTHORITY", "TRELUBKI_VERSION_URL"})
    {
    }
};

bool LoggedIn(int port)
{
    for (int i = 0; i < 150; ++i) {
        TZzPeer peer;
        if (peer.Connect(port))
            return peer.Login(3);
        usleep(20000);
    }
    return false;
}

size_t WkFiles(const std::string& folder)
{
    size_t n = 0;
    for (auto& e : std::filesystem::directory_iterator(folder))
        n += e.path().filename().string().rfind("wk", 0) == 0;
    return n;
}

std::string Placement(const std::string& config, const std::string& name)
{
    std::ifstream in(config + "/Welkor/Trelubki Serwer Zuli-Zuli.ini");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(name + "=", 0) == 0)
            return line.substr(name.size() + 1);
    return "(none)";
}

// SIGINT or SIGTERM while the version check still waits for its server: the window closes as
// with its close button, the placement is stored, no temporary file stays, exit status 0.
void StopsInOrder(const std::map<std::string, std::string>& platform, int sig)
{
    TRawHttpServer stalled([](const std::string&) { return std::string(); });
    std::string config = TempFolder("config"), temp = TempFolder("tmp");
    std::map<std::string, std::string> env = platform;
    env["XDG_CONFIG_HOME"] = config;
    env["TMPDIR"] = temp;
    env["TRELUBKI_VERSION_URL"] = stalled.Base();
    int port = FreePort();
    {
        TWindowProgram program({"--messenger-port", std::to_string(port), "--http-port", std::to_string(FreePort())}, env);
        ASSERT_TRUE(LoggedIn(port)) << "the servers answer while the check waits";
        int64_t end = MonotonicMs() + 2000;
        while (stalled.Requests() == 0 && MonotonicMs() < end)
            usleep(10000);
        ASSERT_EQ(stalled.Requests(), 1) << (program.Pull(), program.Stderr);
        EXPECT_EQ(WkFiles(temp), 1u);
        EXPECT_EQ(program.Stop(sig), 0) << program.Stderr;
        EXPECT_EQ(WkFiles(temp), 0u);
        EXPECT_EQ(Placement(config, "StanOkna"), "0");
        EXPECT_NE(Placement(config, "Szerokość"), "(none)");
    }
    std::filesystem::remove_all(config);
    std::filesystem::remove_all(temp);
}

}  // namespace

TEST(WindowProgram, StopSignalsCloseTheWindowInOrderOffscreen)
{
    StopsInOrder({{"QT_QPA_PLATFORM", "offscreen"}}, SIGTERM);
    StopsInOrder({{"QT_QPA_PLATFORM", "offscreen"}}, SIGINT);
}

TEST(WindowProgram, StopSignalsCloseTheWindowInOrderOnAnXServer)
{
    TXServer x;
    if (x.Display.empty())
        GTEST_SKIP() << "no Xvfb on this machine";
    StopsInOrder({{"DISPLAY", x.Display}}, SIGTERM);
    StopsInOrder({{"DISPLAY", x.Display}}, SIGINT);
}

TEST(WindowProgram, UnreachableDisplayFallsBackToHeadlessWithOneLine)
{
    int number = 271;
    while (access(("/tmp/.X11-unix/X" + std::to_string(number)).c_str(), F_OK) == 0)
        ++number;
    std::string config = TempFolder("config");
    int port = FreePort();
    TWindowProgram program({"--messenger-port", std::to_string(port), "--http-port", std::to_string(FreePort())},
                           {{"DISPLAY", ":" + std::to_string(number)}, {"XDG_CONFIG_HOME", config},
                            {"TRELUBKI_VERSION_URL", ""}});
    ASSERT_TRUE(program.WaitFor("prawym klawiszem.\n")) << program.Stderr;  // the log, headless, on stdout
    EXPECT_TRUE(LoggedIn(port));
    EXPECT_EQ(program.Stop(SIGTERM), 0);
    EXPECT_EQ(program.Stderr, "trelubki-serwer: the display (DISPLAY=:" + std::to_string(number) +
                                  ") cannot be reached; running headless\n");
    std::filesystem::remove_all(config);
}
