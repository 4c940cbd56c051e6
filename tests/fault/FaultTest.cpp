// Broken clients, floods and resets: the server keeps serving the well-behaved ones, keeps its
// memory and descriptors, and never stops.
#include <random>

#include "http/HttpSrv.h"
#include "protocol/ProtocolFixture.h"
#include "support/TestPlatform.h"

namespace {

// Every packet a well-behaved client may receive: known type, sound layout.
bool WellFormed(const TPacket& p)
{
    switch (p.Type) {
    case spWelcome:
        return p.Payload.size() == 4;
    case spLoginOk:
        return p.Payload.empty();
    case spMessageAck:
        return p.Payload.size() == 12;
    case spMessage:
        return p.Payload.size() >= 17 && p.Payload.back() == '\0';
    case spStatusChange:
        return p.Payload.size() >= 14;
    case spUserListReply:
        return !p.Payload.empty() && p.Payload[0] == 6;
    case spContactsStatus:
        return p.Payload.size() % 14 == 0;
    default:
        return false;
    }
}

ByteString Message(uint32_t to, uint32_t seq, const std::string& text)
{
    return U32(to) + U32(seq) + U32(0) + text + ByteString(1, '\0');
}

}  // namespace

TEST_F(ProtocolTest, GarbageFromManyClientsNeverReachesTwoThatChat)
{
    TZzPeer& five = Connect(5);
    TZzPeer& seven = Connect(7);
    std::mt19937 rng(20261208);
    std::vector<std::unique_ptr<TZzPeer>> noise;
    for (int i = 0; i < 20; ++i)
        noise.push_back(std::make_unique<TZzPeer>(BoundPort(Serwer.SocketServer())));

    const int messages = 200;
    std::vector<TPacket> atFive, atSeven;
    for (int m = 0; m < messages; ++m) {
        for (auto& n : noise) {
            auto bytes = [&](size_t count) {
                ByteString b(count, '\0');
                for (char& c : b)
                    c = static_cast<char>(rng());
                return b;
            };
            ByteString junk;
            switch (rng() % 7) {
            case 0:  // raw bytes
                junk = bytes(rng() % 50);
                break;
            case 1:  // a header that promises far too much, or more than ever comes
                junk = U32(rng() % 30) + U32(rng() % 2 ? 0x7FFFFFF0u : 4000 + rng() % 5000) + bytes(3);
                break;
            default:  // packets of every type with random payloads, the last one cut short
                for (int k = 0; k < 3; ++k)
                    junk += TZzPeer::Frame(rng() % 25, bytes(rng() % 40));
                junk.resize(junk.size() - rng() % 6);
                break;
            }
            n->Send(junk);
        }
        five.SendPacket(cpSendMessage, Message(7, static_cast<uint32_t>(m), "wiadomość " + std::to_string(m)));
        RunFor(1);
    }
    // Collect until every message and acknowledgement has come.
    auto collect = [](TZzPeer& p, std::vector<TPacket>& into, uint32_t type, int want) {
        int got = 0;
        while (got < want) {
            TPacket packet = p.ReadPacket(5000);
            if (!packet.Valid)
                return false;
            got += packet.Type == type;
            into.push_back(packet);
        }
        return true;
    };
    ASSERT_TRUE(collect(five, atFive, spMessageAck, messages));
    ASSERT_TRUE(collect(seven, atSeven, spMessage, messages));
    uint32_t nextAck = 0, nextMessage = 0;
    for (const TPacket& p : atFive) {
        ASSERT_TRUE(WellFormed(p)) << p.Type << " " << Hex(p.Payload.substr(0, 32));
        if (p.Type == spMessageAck) {
            EXPECT_EQ(p.Payload, U32(ackRelayed) + U32(5) + U32(nextAck));
            ++nextAck;
        }
    }
    for (const TPacket& p : atSeven) {
        ASSERT_TRUE(WellFormed(p)) << p.Type << " " << Hex(p.Payload.substr(0, 32));
        if (p.Type == spMessage && BytesToUInt32(p.Payload) == 5) {
            std::string text = "wiadomość " + std::to_string(nextMessage++);
            EXPECT_EQ(p.Payload.substr(16), text + ByteString(1, '\0'));
        }
    }
    EXPECT_EQ(nextMessage, static_cast<uint32_t>(messages));
    // The noise was read and handled too: lines of its own beyond the 200 relays and the logins.
    EXPECT_GT(Log.Lines.size(), static_cast<size_t>(messages) + 50);
    EXPECT_EQ(ClientOf(0)->State(), wsConnected);
    EXPECT_EQ(ClientOf(1)->State(), wsConnected);
}

TEST_F(ProtocolTest, ClientThatNeverReadsIsDroppedFromABroadcastOthersGetItAll)
{
    TZzPeer& five = Connect(5);
    TZzPeer& seven = Connect(7);
    TZzPeer& stalled = Connect(9);
    (void)stalled;
    // Its congested queue holds the sender back until it has sent nothing for this long.
    Serwer.SlowReaderTimeoutMs = 300;
    ByteString description(512 * 1024, 'd');
    const int rounds = 40;  // 20 MiB towards the one that never reads
    int received = 0;
    for (int i = 0; i < rounds; ++i) {
        five.SendPacket(cpNewStatus, U32(2) + description);
        TPacket change = seven.ReadPacket(5000);
        ASSERT_TRUE(change.Valid);
        ASSERT_EQ(change.Type, spStatusChange);
        ASSERT_EQ(change.Payload.size(), 14 + description.size());
        ++received;
    }
    EXPECT_EQ(received, rounds);
    ASSERT_TRUE(RunUntil([&] { return Serwer.ClientCount() == 2; }));
    EXPECT_EQ(ClientOf(0)->UserNumber(), 5u);
    EXPECT_EQ(ClientOf(1)->UserNumber(), 7u);
    EXPECT_EQ(Serwer.SocketServer().Counters.Closed[ccStalledReader], 1u);
    EXPECT_EQ(Serwer.SocketServer().Counters.Open(), 2u);
}

TEST_F(ProtocolTest, ClientWithMoreUnsentThanAnyReaderLetsPileUpIsAborted)
{
    struct TRestore {
        size_t Limit = TEventLoop::Default().QueuedTotal().QueueLimit;
        ~TRestore() { TEventLoop::Default().QueuedTotal().QueueLimit = Limit; }
    } restore;
    TEventLoop::Default().QueuedTotal().QueueLimit = 1024 * 1024;  // scaled down
    TZzPeer& five = Connect(5);
    Connect(7);
    Connect(9).SetReceiveBuffer(4096);  // never reads, and the system holds little for it
    Serwer.SlowReaderTimeoutMs = 600 * 1000;  // not stalled long enough to count as stalled
    // Messages are copied into the reader's own queue (a shared broadcast would count once);
    // the system's buffers take some megabytes first.
    const std::string text(1999, 'm');
    for (uint32_t i = 0; i < 20000 && Serwer.ClientCount() == 3; ++i) {
        five.SendPacket(cpSendMessage, Message(9, i, text));
        ASSERT_EQ(five.ReadPacket(5000).Type, spMessageAck);
    }
    ASSERT_TRUE(RunUntil([&] { return Serwer.ClientCount() == 2; }));
    EXPECT_EQ(Serwer.SocketServer().Counters.Closed[ccSendQueueOverLimit], 1u);
    EXPECT_EQ(Serwer.SocketServer().Counters.Closed[ccStalledReader], 0u);
}

TEST_F(ProtocolTest, PeerThatResetsWhileAReplyIsGoingOut)
{
    TZzPeer& big = Connect(5);
    TZzPeer& other = Connect(7);
    ByteString piece(1 + 700 * 1024, 'u');
    piece[0] = static_cast<char>(ulBegin);
    big.SendPacket(cpUserList, piece);
    piece[0] = static_cast<char>(ulMore);
    for (int i = 0; i < 4; ++i)
        big.SendPacket(cpUserList, piece);
    big.SendPacket(cpUserList, ByteString(1, ulGet));
    big.ReadExactly(1000);  // the reply has started
    big.Reset();
    other.SendPacket(cpPing, "");
    ASSERT_TRUE(RunUntil([&] { return Serwer.ClientCount() == 1; }));
    other.SendPacket(cpUserList, ByteString(1, ulGet));
    EXPECT_EQ(Hex(other.ReadPacket().Payload), "06");
}

TEST_F(ProtocolTest, ThousandsOfConnectionsLeaveNothingBehind)
{
    size_t accepted = 0;
    auto cycle = [&](int n) {
        accepted += static_cast<size_t>(n);
        for (int i = 0; i < n; ++i) {
            TZzPeer p(BoundPort(Serwer.SocketServer()));
            if (i % 2)
                p.Send(TZzPeer::Frame(cpLogin, U32(static_cast<uint32_t>(i))) + "\x02\x00");
            else
                p.Reset();
        }
        // Every connection greeted (accepted), and every one gone again.
        RunUntil([&] {
            return std::count(Log.Lines.begin(), Log.Lines.end(), ">powitanie") == static_cast<long>(accepted) &&
                   Serwer.ClientCount() == 0;
        }, 20000);
    };
    cycle(300);  // warm-up: allocator pools, the loop's tables
    size_t fds = OpenHandles();
    size_t heap = HeapInUse();
    cycle(3000);
    EXPECT_EQ(Serwer.ClientCount(), 0);
    EXPECT_EQ(OpenHandles(), fds);
    // The log in memory grows by design; what it holds is not the server's.
    size_t logBytes = Log.Lines.capacity() * sizeof(ByteString);
    for (auto& l : Log.Lines)
        logBytes += l.capacity() + sizeof l;
    EXPECT_LT(HeapInUse(), heap + logBytes + 256 * 1024);
}

TEST(HttpFault, EndlessHeaderLineIsDroppedAtTheLimit)
{
    THttpServer server;
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.Start();
    TPeer peer(BoundPort(*server.WSocketServer()));
    peer.Send("GET / HTTP/1.0\r\nX-Endless: ");
    ByteString chunk(64 * 1024, 'e');
    for (int i = 0; i < 32; ++i)  // 2 MiB without a line end
        peer.Send(chunk);
    ASSERT_TRUE(RunUntil([&] {
        THttpConnection* c = server.Client(0);
        return c && c->ReadCount() > 2 * 1024 * 1024;
    }));
    THttpConnection* c = server.Client(0);
    EXPECT_LE(c->BufferedCount(), c->LineLimit + 256 * 1024);
    EXPECT_EQ(c->State(), wsConnected);
    peer.Send("\r\n\r\n");
    EXPECT_TRUE(RunUntil([&] { return c->RequestState == StateBody; }));
}
