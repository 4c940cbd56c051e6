// The counters as the metrics endpoint gives them: a scripted conversation through real sockets
// moves exactly the counters it should.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include "app/Metrics.h"
#include "app/Serwer.h"
#include "support/TestPlatform.h"
#include "support/ZzPeer.h"

namespace {

struct TNoLog : TActivityLog {
    void Append(ByteView) override { ++Lines; }
    void SetColour(TLogColour) override {}
    size_t Lines = 0;
};

// Sample name with its labels, as written ("a_total{service=\"x\"}"), to its value.
using TSamples = std::map<std::string, double>;

TSamples ParseSamples(const std::string& text)
{
    TSamples samples;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        size_t space = line.rfind(' ');
        samples[line.substr(0, space)] = std::stod(line.substr(space + 1));
    }
    return samples;
}

struct MetricsTest : ::testing::Test {
    std::filesystem::path Config = MakeTempDir("tzz-metrics-");
    TNoLog Log;
    std::unique_ptr<TSerwer> Serwer;

    void Start(int httpTimeoutSeconds = 30, int loginTimeoutSeconds = 60)
    {
        setenv("XDG_CONFIG_HOME", Config.c_str(), 1);
        TCommandLine options;
        options.MessengerPort = 0;
        options.HttpPort = 0;
        options.MetricsPort = 0;
        options.Address = "10.1.2.3";
        options.HttpTimeoutSeconds = httpTimeoutSeconds;
        options.LoginTimeout = loginTimeoutSeconds;
        Serwer = std::make_unique<TSerwer>(Log, options);
        ASSERT_EQ(Serwer->Start(), "");
    }
    void TearDown() override
    {
        Serwer.reset();
        unsetenv("XDG_CONFIG_HOME");
        std::filesystem::remove_all(Config);
    }

    int MessengerPort() { return BoundPort(Serwer->ZZSerwer().SocketServer()); }
    int HttpPort() { return BoundPort(*Serwer->HttpPomocniczy().WSocketServer()); }
    int MetricsPort() { return BoundPort(*Serwer->MetricsServer()->WSocketServer()); }

    // One request to a port; what came back before the server closed.
    static std::string Ask(int port, const std::string& request)
    {
        TPeer peer(port);
        peer.Send(request);
        EXPECT_TRUE(peer.WaitClosed(5000));
        return peer.ReadFor(0);
    }
    TSamples Scrape()
    {
        std::string reply = Ask(MetricsPort(), "GET /metrics HTTP/1.1\r\nHost: localhost\r\n\r\n");
        size_t body = reply.find("\r\n\r\n");
        EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << reply;
        return body == std::string::npos ? TSamples{} : ParseSamples(reply.substr(body + 4));
    }
};

// What each of the two scrapes differs by, sample by sample; a sample missing from either
// counts as a difference.
std::map<std::string, double> Changes(const TSamples& before, const TSamples& after)
{
    std::map<std::string, double> changes;
    for (const auto& [name, value] : after) {
        auto b = before.find(name);
        if (b == before.end())
            changes[name + " (new)"] = value;
        else if (b->second != value)
            changes[name] = value - b->second;
    }
    for (const auto& [name, value] : before)
        if (!after.count(name))
            changes[name + " (gone)"] = -value;
    return changes;
}

// Reads one packet and adds its size to what the peers have received.
TPacket Read(TZzPeer& peer, uint64_t& received)
{
    TPacket p = peer.ReadPacket();
    EXPECT_TRUE(p.Valid);
    received += PacketHeaderSize + p.Payload.size();
    return p;
}

}  // namespace

TEST_F(MetricsTest, AScriptedConversationMovesExactlyTheCountersItShould)
{
    Start();
    TSamples before = Scrape();
    uint64_t sentByPeers = 0, receivedByPeers = 0;
    auto send = [&](TZzPeer& peer, uint32_t type, const ByteString& payload) {
        peer.SendPacket(type, payload);
        sentByPeers += PacketHeaderSize + payload.size();
    };
    auto login = [&](TZzPeer& peer, uint32_t user) {
        EXPECT_EQ(Read(peer, receivedByPeers).Type, spWelcome);
        send(peer, cpLogin, U32(user));
        EXPECT_EQ(Read(peer, receivedByPeers).Type, spLoginOk);
    };

    TZzPeer a(MessengerPort()), b(MessengerPort());
    login(a, 100);
    login(b, 200);
    send(a, cpSendMessage, U32(200) + U32(1) + U32(0) + "hi" + ByteString(1, '\0'));
    EXPECT_EQ(Read(a, receivedByPeers).Type, spMessageAck);
    EXPECT_EQ(Read(b, receivedByPeers).Type, spMessage);
    send(a, cpSendMessage, U32(300) + U32(2) + U32(0) + "anyone?" + ByteString(1, '\0'));
    EXPECT_EQ(Read(a, receivedByPeers).Type, spMessageAck);
    EXPECT_EQ(Read(a, receivedByPeers).Type, spMessage);  // the absence notice
    send(a, cpNewStatus, U32(2) + "here");
    EXPECT_EQ(Read(b, receivedByPeers).Type, spStatusChange);
    send(b, cpContactsLast, U32(100) + "x" + U32(300) + "x");
    EXPECT_EQ(Read(b, receivedByPeers).Type, spContactsStatus);
    send(a, cpUserList, ByteString(1, static_cast<char>(ulBegin)) + "list");
    send(a, cpUserList, ByteString(1, static_cast<char>(ulGet)));
    EXPECT_EQ(Read(a, receivedByPeers).Type, spUserListReply);

    // A client that declares a packet over the limit is dropped; one that just leaves is not.
    TZzPeer c(MessengerPort()), d(MessengerPort());
    EXPECT_EQ(Read(c, receivedByPeers).Type, spWelcome);
    EXPECT_EQ(Read(d, receivedByPeers).Type, spWelcome);
    ByteString huge = U32(cpSendMessage) + U32(TZzSerwer::MaxPacketLength + 1);
    c.Send(huge);
    sentByPeers += huge.size();
    EXPECT_TRUE(c.WaitClosed());
    d.Close();
    const TConnectionCounters& messenger = Serwer->ZZSerwer().SocketServer().Counters;
    ASSERT_TRUE(RunUntil([&] { return messenger.Closed[ccClientClosed] == 1; }));
    // B logs out: closed by the server, its going out sent to A.
    send(b, cpNewStatus, U32(stLogout));
    EXPECT_TRUE(b.WaitClosed());
    EXPECT_EQ(Read(a, receivedByPeers).Type, spStatusChange);

    std::string addressRequest = "GET /appsvc/appmsg4.asp?fmnumber=100 HTTP/1.0\r\n\r\n";
    std::string address = "Content-Type: text/data\r\n\r\n0 0 10.1.2.3:8074 10.1.2.3";
    TPeer http(HttpPort());
    http.Send(addressRequest);
    EXPECT_EQ(http.ReadExactly(address.size()), address);
    http.Close();
    ASSERT_TRUE(RunUntil([&] { return Serwer->HttpPomocniczy().ConnectionCounters().Open() == 0; }));

    TSamples after = Scrape();
    const std::string messengerLabel = "{service=\"messenger\"}";
    const std::map<std::string, double> expected = {
        {"trelubki_connections_accepted_total{service=\"messenger\"}", 4},
        {"trelubki_connections_open{service=\"messenger\"}", 1},
        {"trelubki_connections_closed_total{service=\"messenger\",cause=\"client_closed\"}", 1},
        {"trelubki_connections_closed_total{service=\"messenger\",cause=\"packet_too_long\"}", 1},
        {"trelubki_connections_closed_total{service=\"messenger\",cause=\"logout\"}", 1},
        {"trelubki_received_bytes_total{service=\"messenger\"}", static_cast<double>(sentByPeers)},
        {"trelubki_sent_bytes_total{service=\"messenger\"}", static_cast<double>(receivedByPeers)},
        {"trelubki_users_logged_in", 1},
        {"trelubki_logins_total", 2},
        {"trelubki_messages_relayed_total", 1},
        {"trelubki_absence_notices_total", 1},
        {"trelubki_status_changes_total", 2},
        {"trelubki_status_deliveries_total", 2},
        {"trelubki_contact_list_requests_total", 1},
        {"trelubki_user_list_requests_total{operation=\"upload\"}", 1},
        {"trelubki_user_list_requests_total{operation=\"download\"}", 1},
        {"trelubki_connections_accepted_total{service=\"bootstrap\"}", 1},
        {"trelubki_connections_closed_total{service=\"bootstrap\",cause=\"client_closed\"}", 1},
        {"trelubki_received_bytes_total{service=\"bootstrap\"}", static_cast<double>(addressRequest.size())},
        {"trelubki_sent_bytes_total{service=\"bootstrap\"}", static_cast<double>(address.size())},
        {"trelubki_http_requests_total{service=\"bootstrap\",reply=\"address\"}", 1},
        // The scrape itself: its connection is open and its reply counted while it is written.
        {"trelubki_connections_accepted_total{service=\"metrics\"}", 1},
        {"trelubki_connections_closed_total{service=\"metrics\",cause=\"server\"}", 1},
        {"trelubki_http_requests_total{service=\"metrics\",reply=\"metrics\"}", 1},
    };
    std::map<std::string, double> changes = Changes(before, after);
    // What the scrape's own bytes and the process do between two scrapes is not the script's.
    for (const char* moving : {"trelubki_received_bytes_total{service=\"metrics\"}",
                               "trelubki_sent_bytes_total{service=\"metrics\"}", "trelubki_process_resident_memory_bytes",
                               "trelubki_process_cpu_seconds_total", "trelubki_process_open_fds"})
        changes.erase(moving);
    EXPECT_EQ(changes, expected);
    EXPECT_EQ(Serwer->StatusLine(), "1 user online, 1 message relayed, 1 client dropped");
}

TEST_F(MetricsTest, TimeoutsAndResetsAreCountedByCause)
{
    Start(1, 1);
    TPeer silentHttp(HttpPort());
    TZzPeer silent(MessengerPort());
    TZzPeer resetting(MessengerPort());
    ASSERT_TRUE(resetting.Login(5));
    resetting.Reset();
    EXPECT_TRUE(silentHttp.WaitClosed(5000));
    EXPECT_TRUE(silent.WaitClosed(5000));
    const TConnectionCounters& messenger = Serwer->ZZSerwer().SocketServer().Counters;
    ASSERT_TRUE(RunUntil([&] { return messenger.Open() == 0; }));

    TSamples s = Scrape();
    EXPECT_EQ(s["trelubki_connections_closed_total{service=\"bootstrap\",cause=\"http_timeout\"}"], 1);
    EXPECT_EQ(s["trelubki_connections_closed_total{service=\"messenger\",cause=\"login_timeout\"}"], 1);
    EXPECT_EQ(s["trelubki_connections_closed_total{service=\"messenger\",cause=\"error\"}"], 1);
    EXPECT_EQ(s["trelubki_users_logged_in"], 0);
    EXPECT_EQ(s["trelubki_logins_total"], 1);
    EXPECT_EQ(Serwer->StatusLine(), "0 users online, 0 messages relayed, 1 client dropped");
}

TEST_F(MetricsTest, TheProcessAndTheBuildAreDescribed)
{
    Start();
    TSamples s = Scrape();
    EXPECT_EQ(s["trelubki_build_info{version=\"" TZZ_VERSION "\"}"], 1);
    EXPECT_GT(s["trelubki_process_resident_memory_bytes"], 1024 * 1024);
    // Three listening sockets and the scrape's connection at least.
    EXPECT_GE(s["trelubki_process_open_fds"], 4);
    EXPECT_GE(s["trelubki_process_max_fds"], s["trelubki_process_open_fds"]);
    EXPECT_GE(s["trelubki_process_cpu_seconds_total"], 0);
    double now = static_cast<double>(time(nullptr));
    EXPECT_NEAR(s["trelubki_start_time_seconds"], now, 60);
    EXPECT_EQ(s["trelubki_send_queue_bytes"], 0);
    EXPECT_EQ(s["trelubki_readers_held"], 0);
    EXPECT_EQ(Log.Lines, 1u);  // the start-up notice only: the endpoint writes nothing to the log
}

TEST(StatusLine, CountsAreGroupedAndNounsAgree)
{
    EXPECT_EQ(StatusLine(120, 45210, 2), "120 users online, 45,210 messages relayed, 2 clients dropped");
    EXPECT_EQ(StatusLine(1, 1, 1), "1 user online, 1 message relayed, 1 client dropped");
    EXPECT_EQ(StatusLine(0, 1234567, 0), "0 users online, 1,234,567 messages relayed, 0 clients dropped");
    EXPECT_EQ(GroupedNumber(999), "999");
    EXPECT_EQ(GroupedNumber(1000), "1,000");
    EXPECT_EQ(GroupedNumber(18446744073709551615u), "18,446,744,073,709,551,615");
}
