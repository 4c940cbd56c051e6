// Connections that do not complete a request in time end; clients that keep asking are kept.
#include "http/HttpFixture.h"

TEST_F(HttpTest, TheDefaultRequestTimeoutIsHalfAMinute)
{
    EXPECT_EQ(THttpServer().RequestTimeoutMs(), 30 * 1000);
}

TEST_F(HttpTest, SilentConnectionsEndAtTheRequestTimeout)
{
    Server.SetRequestTimeoutMs(500);
    std::vector<std::unique_ptr<TPeer>> peers;
    for (int i = 0; i < 50; ++i)
        peers.push_back(std::make_unique<TPeer>(Port()));
    ASSERT_TRUE(RunUntil([&] { return Server.ClientCount() == 50; }));
    RunFor(200);
    EXPECT_EQ(Server.ClientCount(), 50);  // not before their time
    for (auto& peer : peers)
        EXPECT_TRUE(peer->WaitClosed(3000));
    EXPECT_TRUE(RunUntil([&] { return Server.ClientCount() == 0; }));
    EXPECT_EQ(Disconnects, 50);
}

TEST_F(HttpTest, AHeaderDribbledByteByByteEndsAtTheRequestTimeout)
{
    Server.SetRequestTimeoutMs(1000);
    TPeer peer(Port());
    std::string request = "GET /slow HTTP/1.0\r\nX-Slow: " + std::string(100, 's');
    int64_t start = MonotonicMs();
    bool closed = false;
    for (size_t i = 0; i < request.size() && !closed && MonotonicMs() - start < 4000; ++i) {
        peer.Send(request.substr(i, 1));
        closed = peer.WaitClosed(200);
    }
    EXPECT_TRUE(closed);
    EXPECT_GE(MonotonicMs() - start, 900);
    EXPECT_EQ(peer.ReadFor(0), "");
}

TEST_F(HttpTest, AnsweredConnectionsLeftOpenEndAtTheRequestTimeout)
{
    Server.SetRequestTimeoutMs(500);
    Server.OnGetDocument = [](THttpServer*, THttpConnection* c, THttpGetFlag& flags) {
        flags = gfHandled;
        c->SendString("answer");
    };
    File("k.txt", "k");
    TPeer answered(Port());
    answered.Send("GET / HTTP/1.0\r\n\r\n");
    TPeer kept(Port());
    kept.Send("HEAD /k.txt HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n");
    EXPECT_EQ(answered.ReadFor(250), "answer");
    answered.Send("more lines do not count as a request\r\n");
    EXPECT_TRUE(answered.WaitClosed(3000));
    EXPECT_TRUE(kept.WaitClosed(3000));
    EXPECT_EQ(kept.ReadFor(0), Block("text/plain", 1, "k.txt"));
}

TEST_F(HttpTest, AKeptAliveClientThatKeepsAskingIsNotCut)
{
    Server.SetRequestTimeoutMs(1000);
    File("k.txt", "k");
    TPeer peer(Port());
    int64_t start = MonotonicMs();
    int replies = 0;
    while (MonotonicMs() - start < 2500) {
        peer.Send("HEAD /k.txt HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n");
        if (peer.ReadFor(300) != Block("text/plain", 1, "k.txt"))
            break;
        ++replies;
    }
    EXPECT_GE(replies, 7);
    EXPECT_FALSE(peer.WaitClosed(0));
    EXPECT_EQ(Server.ClientCount(), 1);
}

TEST_F(HttpTest, ADocumentThatKeepsMovingIsNotCut)
{
    Server.SetRequestTimeoutMs(300);
    File("big.bin", std::string(1024 * 1024, 'b'));
    TPeer peer(Port());
    ASSERT_TRUE(RunUntil([&] { return Last != nullptr; }));
    // Small buffers on both sides, so that the transfer goes at the reader's pace.
    int small = 4096;
    peer.SetReceiveBuffer(small);
    SocketSetOption(Last->Handle(), SOL_SOCKET, SO_SNDBUF, small);
    peer.Send("GET /big.bin HTTP/1.0\r\n\r\n");
    // A slow reader that still takes something every 100 ms: the transfer outlasts the limit.
    size_t got = 0;
    int64_t start = MonotonicMs();
    while (MonotonicMs() - start < 900) {
        got += peer.ReadExactly(4096, 50).size();
        RunFor(100);
    }
    EXPECT_FALSE(peer.WaitClosed(0));
    EXPECT_GT(got, 8u * 1024);
    EXPECT_LT(got, 1024u * 1024);
    // A reader that stops altogether runs out.
    EXPECT_TRUE(RunUntil([&] { return Server.ClientCount() == 0; }, 3000));
}

TEST_F(HttpTest, NoRequestTimeoutAtZeroAndAChangeAppliesToOpenConnections)
{
    TPeer peer(Port());
    ASSERT_TRUE(RunUntil([&] { return Server.ClientCount() == 1; }));
    Server.SetRequestTimeoutMs(0);
    EXPECT_FALSE(peer.WaitClosed(700));
    Server.SetRequestTimeoutMs(300);
    EXPECT_TRUE(peer.WaitClosed(3000));
}

TEST_F(HttpTest, PeersThatResetBeforeBeingAcceptedEndAtOnceWithNoTimeout)
{
    Server.SetRequestTimeoutMs(0);
    for (int i = 0; i < 20; ++i) {
        TPeer peer(Port());
        peer.Reset();
    }
    EXPECT_TRUE(RunUntil([&] { return Disconnects == 20 && Server.ClientCount() == 0; }, 10000));
}
