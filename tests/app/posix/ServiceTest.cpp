// The program as a service: the service manager's notifications, received on a socket of the
// test's own (as systemd's NOTIFY_SOCKET), and the metrics endpoint as a monitoring system
// scrapes and checks it.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/ProgramFixture.h"
#include "net/WSocket.h"
#include "support/ZzPeer.h"

namespace {

// A datagram socket standing in for the service manager's.
class TNotifySocket {
public:
    TNotifySocket()
    {
        Path = (std::filesystem::path(FDir) / "notify").string();
        FFd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        Path.copy(address.sun_path, sizeof address.sun_path - 1);
        EXPECT_EQ(bind(FFd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    ~TNotifySocket()
    {
        close(FFd);
        std::filesystem::remove_all(FDir);
    }
    // The next notification, or "" when none comes in time.
    std::string Next(int timeoutMs)
    {
        pollfd p{FFd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) != 1)
            return {};
        char buffer[4096];
        ssize_t n = recv(FFd, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    }

    std::string Path;

private:
    std::string FDir = MakeTempDir("tzz-notify-");
    int FFd = -1;
};

std::map<std::string, std::string> ServiceEnvironment(const TNotifySocket& manager, const std::string& watchdogUs)
{
    return {{"XDG_CONFIG_HOME", ConfigDir()}, {"NOTIFY_SOCKET", manager.Path}, {"WATCHDOG_USEC", watchdogUs}};
}

const std::string Quiet = "0 users online, 0 messages relayed, 0 clients dropped";

}  // namespace

#ifdef TZZ_WITH_SYSTEMD
TEST(Service, ReadyOnceListeningThenStatusAndWatchdogThenStopping)
{
    TNotifySocket manager;
    int port = FreePort(), http = FreePort();
    TChildProgram program(TZZ_PROGRAM,
                          {"--headless", "--messenger-port", std::to_string(port), "--http-port", std::to_string(http)},
                          ServiceEnvironment(manager, "400000"), {"WATCHDOG_PID"});
    EXPECT_EQ(manager.Next(10000), "READY=1\nSTATUS=" + Quiet);
    // Ready means listening: the first attempt connects, with no waiting for a start.
    TZzPeer five;
    ASSERT_TRUE(five.Connect(port));
    TPeer bootstrap;
    EXPECT_TRUE(bootstrap.Connect(http));
    ASSERT_TRUE(five.Login(5));

    // Fed twice per watchdog interval, the status line sent along when it has changed.
    int watchdogs = 0;
    bool loggedIn = false;
    int64_t start = MonotonicMs();
    while ((!loggedIn || MonotonicMs() - start < 1500) && MonotonicMs() - start < 10000) {
        std::string n = manager.Next(1000);
        watchdogs += n.rfind("WATCHDOG=1", 0) == 0;
        if (n.find("STATUS=1 user online, 0 messages relayed, 0 clients dropped") != std::string::npos)
            loggedIn = true;
    }
    EXPECT_TRUE(loggedIn);
    EXPECT_GE(watchdogs, 3);

    EXPECT_EQ(program.Stop(SIGTERM), 0);
    std::string last;
    for (std::string n; !(n = manager.Next(1000)).empty();)
        last = n;
    EXPECT_EQ(last, "STOPPING=1\nSTATUS=Stopping");
    EXPECT_EQ(program.Stderr, "");
}

TEST(Service, ReadyWithTheMessengerAloneSaysWhichPortFailed)
{
    TNotifySocket manager;
    TWSocket holder;  // the HTTP port is taken
    holder.SetAddr("0.0.0.0");
    holder.SetPort("0");
    holder.Listen();
    int http = BoundPort(holder), port = FreePort();
    TChildProgram program(TZZ_PROGRAM,
                          {"--headless", "--messenger-port", std::to_string(port), "--http-port", std::to_string(http)},
                          ServiceEnvironment(manager, "0"), {"WATCHDOG_PID"});
    EXPECT_EQ(manager.Next(10000),
              "READY=1\nSTATUS=" + Quiet + "; HTTP port " + std::to_string(http) + " could not be opened");
    TPeer peer;
    EXPECT_TRUE(peer.Connect(port));
    // No watchdog asked for: nothing until the status changes (checked every five seconds).
    EXPECT_EQ(manager.Next(300), "");
    EXPECT_EQ(program.Stop(SIGTERM), 0);
    EXPECT_EQ(manager.Next(2000), "STOPPING=1\nSTATUS=Stopping");
}
#endif

TEST(Service, WithoutAServiceManagerNothingIsSent)
{
    TNotifySocket manager;  // named nowhere: the program must not find it
    int port = FreePort();
    TChildProgram program(TZZ_PROGRAM, {"--headless", "--messenger-port", std::to_string(port), "--http-port",
                                        std::to_string(FreePort())},
                          {{"XDG_CONFIG_HOME", ConfigDir()}, {"WATCHDOG_USEC", "100000"}}, {"NOTIFY_SOCKET"});
    ASSERT_TRUE(program.WaitFor("prawym klawiszem.\n"));
    EXPECT_EQ(program.Stop(SIGTERM), 0);
    EXPECT_EQ(manager.Next(0), "");
    EXPECT_EQ(program.Stderr, "");
}

TEST(Service, MetricsPassPromtoolsCheck)
{
    int metrics = FreePort();
    TProgram program({"--headless", "--messenger-port", std::to_string(FreePort()), "--http-port",
                      std::to_string(FreePort()), "--metrics-port", std::to_string(metrics)});
    TPeer peer;
    ASSERT_TRUE(Connected(peer, metrics));
    peer.Send("GET /metrics HTTP/1.1\r\nHost: localhost\r\n\r\n");
    ASSERT_TRUE(peer.WaitClosed());
    std::string reply = peer.ReadFor(0);
    size_t body = reply.find("\r\n\r\n");
    ASSERT_NE(body, std::string::npos) << reply;
    std::string dir = MakeTempDir("tzz-promtool-");
    std::string file = dir + "/metrics.txt";
    std::ofstream(file, std::ios::binary) << reply.substr(body + 4);
    // promtool (Debian's prometheus package) lints the text as Prometheus reads it.
    FILE* check = popen(("promtool check metrics < " + file + " 2>&1").c_str(), "r");
    ASSERT_NE(check, nullptr);
    std::string said;
    char buffer[512];
    while (size_t n = fread(buffer, 1, sizeof buffer, check))
        said.append(buffer, n);
    int status = pclose(check);
    EXPECT_EQ(status, 0) << said << "\n(promtool comes with Debian's prometheus package)";
    EXPECT_EQ(said, "");
    std::filesystem::remove_all(dir);
    EXPECT_EQ(program.Stop(SIGTERM), 0);
}

TEST(Service, MetricsPortInUseIsSaidOnStderrAndTheServersStayUp)
{
    TWSocket holder;
    holder.SetAddr("127.0.0.1");
    holder.SetPort("0");
    holder.Listen();
    int taken = BoundPort(holder), port = FreePort();
    TProgram program({"--headless", "--messenger-port", std::to_string(port), "--http-port",
                      std::to_string(FreePort()), "--metrics-port", std::to_string(taken)});
    ASSERT_TRUE(program.WaitFor("prawym klawiszem.\n"));
    TZzPeer five;
    ASSERT_TRUE(Connected(five, port));
    EXPECT_TRUE(five.Login(5));
    EXPECT_EQ(program.Stop(SIGTERM), 0);
    EXPECT_EQ(program.Stderr, "trelubki-serwer: metrics port " + std::to_string(taken) +
                                  " on 127.0.0.1 could not be opened: Error 10048 in function Bind Address already in use\n");
}

TEST(Service, BadMetricsOptionsAreOneLineAndExitStatusTwo)
{
    int messenger = FreePort();
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--metrics-port", "0"}, "--metrics-port: '0' is not a port number (1-65535)"},
        {{"--metrics-port"}, "--metrics-port needs a port number"},
        {{"--metrics-port", "9100", "--metrics-address", "localhost"},
         "--metrics-address: 'localhost' is not an IPv4 address (such as 127.0.0.1)"},
        {{"--metrics-address", "10.0.0.1"}, "--metrics-address needs --metrics-port"},
        {{"--metrics-port", std::to_string(messenger)},
         "--metrics-port: " + std::to_string(messenger) + " is the messenger port"},
    };
    for (const auto& [extra, error] : cases) {
        std::vector<std::string> args = {"--headless", "--messenger-port", std::to_string(messenger)};
        args.insert(args.end(), extra.begin(), extra.end());
        TProgram program(args);
        EXPECT_EQ(program.Wait(), 2);
        EXPECT_EQ(program.Stderr, "trelubki-serwer: " + error + "\n");
        EXPECT_EQ(program.Stdout, "");
        TPeer peer;
        EXPECT_FALSE(peer.Connect(messenger));
    }
}
