// The program and its settings file as a person meets them: edited by hand, unreadable, or with
// no home to keep it in; and the HTTP port refused for want of privilege.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/ProgramFixture.h"

namespace {

// Ordinary users are what these tests are about; root runs the program as 'nobody' instead.
constexpr const char* Setpriv = "/usr/bin/setpriv";

struct TOrdinaryProgram : TChildProgram {
    TOrdinaryProgram(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                     const std::vector<std::string>& unset = {})
        : TChildProgram(geteuid() == 0 ? Setpriv : TZZ_PROGRAM, Arguments(args), env, unset)
    {
    }
    static std::vector<std::string> Arguments(const std::vector<std::string>& args)
    {
        if (geteuid() != 0)
            return args;
        std::vector<std::string> all = {"--reuid=65534", "--regid=65534", "--clear-groups", TZZ_PROGRAM};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }
    static bool Possible() { return geteuid() != 0 || access(Setpriv, X_OK) == 0; }
};

std::vector<std::string> FreePorts(int http = 0)
{
    return {"--headless", "--messenger-port", std::to_string(FreePort()), "--http-port",
            std::to_string(http ? http : FreePort())};
}

std::string AskAddress(int http)
{
    TPeer peer;
    if (!peer.Connect(http))
        return "(no connection)";
    peer.Send("GET /appsvc/appmsg4.asp HTTP/1.0\r\n\r\n");
    return peer.ReadFor(300);
}

}  // namespace

TEST(ProgramSettings, HandEditedFileGivesTheAddressItsEditorMeant)
{
    std::string folder = ConfigDir() + "/Welkor/Trelubki";
    std::filesystem::create_directories(folder);
    int http = FreePort();
    for (std::string text : {"\xEF\xBB\xBF[ustawienia]\nadres=10.0.0.9\n", "[ustawienia]\r\nadres=10.0.0.9\r\n",
                             "[ustawienia]\n  adres = 10.0.0.9  \n", "; moje\n[ ustawienia ]\n\tadres\t=\t10.0.0.9\n"}) {
        std::ofstream(folder + "/Serwer.ini", std::ios::binary) << text;
        TProgram program(FreePorts(http));
        ASSERT_TRUE(program.WaitFor("prawym klawiszem.\n"));
        EXPECT_EQ(AskAddress(http), "Content-Type: text/data\r\n\r\n0 0 10.0.0.9:8074 10.0.0.9") << text;
        EXPECT_EQ(program.Stop(SIGTERM), 0);
        EXPECT_EQ(program.Stderr, "");
    }
    std::filesystem::remove(folder + "/Serwer.ini");
}

TEST(ProgramSettings, UnreadableFileIsReportedNotTakenForAMissingOne)
{
    std::string file = ConfigDir() + "/Welkor/Trelubki/Serwer.ini";
    std::filesystem::create_directories(file);  // there, but no file to read
    int http = FreePort();
    TProgram program(FreePorts(http));
    ASSERT_TRUE(program.WaitFor("prawym klawiszem.\n"));
    EXPECT_EQ(AskAddress(http), "Content-Type: text/data\r\n\r\n0 0 localhost:8074 localhost");
    EXPECT_EQ(program.Stop(SIGTERM), 0);
    EXPECT_EQ(program.Stderr, "trelubki-serwer: the stored address cannot be read: cannot read " + file +
                                  ": Is a directory; \"localhost\" is announced\n");
    std::filesystem::remove(file);

    if (!TOrdinaryProgram::Possible())
        GTEST_SKIP() << "no setpriv to run the program as an ordinary user";
    // A file its user may not read, as permissions leave it.
    std::string config = MakeTempDir("tzz-unreadable-");
    chmod(config.c_str(), 0755);
    std::filesystem::create_directories(config + "/Welkor/Trelubki");
    std::filesystem::permissions(config + "/Welkor", std::filesystem::perms(0777));
    std::filesystem::permissions(config + "/Welkor/Trelubki", std::filesystem::perms(0777));
    std::ofstream(config + "/Welkor/Trelubki/Serwer.ini") << "[ustawienia]\nadres=10.0.0.9\n";
    chmod((config + "/Welkor/Trelubki/Serwer.ini").c_str(), 0);
    if (geteuid() != 0) {
        ASSERT_NE(access((config + "/Welkor/Trelubki/Serwer.ini").c_str(), R_OK), 0);
    }
    TOrdinaryProgram other(FreePorts(http), {{"XDG_CONFIG_HOME", config}});
    ASSERT_TRUE(other.WaitFor("prawym klawiszem.\n")) << other.Stderr;
    EXPECT_EQ(AskAddress(http), "Content-Type: text/data\r\n\r\n0 0 localhost:8074 localhost");
    EXPECT_EQ(other.Stop(SIGTERM), 0);
    EXPECT_EQ(other.Stderr, "trelubki-serwer: the stored address cannot be read: cannot read " + config +
                                "/Welkor/Trelubki/Serwer.ini: Permission denied; \"localhost\" is announced\n");
    std::filesystem::remove_all(config);
}

TEST(ProgramSettings, WithoutHomeOrConfigFolderNothingLandsInTheCurrentFolder)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to run the program as a user whose home is known (not the tester's own)";
    std::string here = MakeTempDir("tzz-cwd-");
    chmod(here.c_str(), 0777);
    int http = FreePort();
    std::vector<std::string> args = {"-c", "cd '" + here + "' && exec \"$@\"", "sh"};
    for (const std::string& a : TOrdinaryProgram::Arguments(FreePorts(http)))
        args.push_back(a);
    args.insert(args.begin() + 3, Setpriv);
    TChildProgram program("/bin/sh", args, {}, {"HOME", "XDG_CONFIG_HOME"});
    ASSERT_TRUE(program.WaitFor("prawym klawiszem.\n")) << program.Stderr;
    EXPECT_EQ(program.Stop(SIGTERM), 0);
    EXPECT_FALSE(std::filesystem::exists(here + "/.config"));
    // The home of 'nobody' in the password database does not exist: the program says so.
    EXPECT_NE(program.Stderr.find("trelubki-serwer: the stored address cannot be read: cannot make the folder /"),
              std::string::npos)
        << program.Stderr;
    std::filesystem::remove_all(here);
}

TEST(ProgramSettings, HttpPortRefusedForWantOfPrivilegeSaysWhyAndWhatToDo)
{
    if (!TOrdinaryProgram::Possible())
        GTEST_SKIP() << "no setpriv to run the program as an ordinary user";
    std::ifstream start("/proc/sys/net/ipv4/ip_unprivileged_port_start");
    int unprivileged = 1024;
    start >> unprivileged;
    // A privileged port nothing listens on.
    int port = 0;
    for (int p = std::min(unprivileged, 1024) - 1; p > 500 && port == 0; --p) {
        int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_port = htons(static_cast<uint16_t>(p));
        if (geteuid() != 0 || ::bind(s, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0)
            port = p;
        ::close(s);
    }
    if (port == 0)
        GTEST_SKIP() << "every port is open to ordinary users here";
    std::string config = MakeTempDir("tzz-privilege-");
    chmod(config.c_str(), 0777);
    TOrdinaryProgram program(FreePorts(port), {{"XDG_CONFIG_HOME", config}});
    ASSERT_TRUE(program.WaitFor("prawym klawiszem.\n")) << program.Stderr;
    // The log keeps its text, which names the port.
    EXPECT_EQ(program.Stdout.rfind("Nie udało się otworzyć portu " + std::to_string(port) + " !", 0), 0u);
    EXPECT_EQ(program.Stop(SIGTERM), 0);
    EXPECT_EQ(program.Stderr,
              "trelubki-serwer: HTTP port " + std::to_string(port) +
                  " could not be opened: Error 10013 in function Bind Permission denied. Ports below 1024 need "
                  "privilege: run the server as its service (trelubki-serwer.service), give the program "
                  "CAP_NET_BIND_SERVICE (setcap cap_net_bind_service=+ep), or choose another port with --http-port\n");
    std::filesystem::remove_all(config);
}
