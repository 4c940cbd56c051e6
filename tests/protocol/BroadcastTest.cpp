// Big status descriptions to many users: one copy shared by the send queues, a bound on what
// all queues hold, and senders slowed down (not read) instead of readers dropped.
#include <cstring>

#include "protocol/ProtocolFixture.h"
#include "support/TestPlatform.h"

namespace {

TSendQueueTotal& Total()
{
    return TEventLoop::Default().QueuedTotal();
}

// Reads status changes as they come, without keeping them: checks that each one is the next
// description in order, byte for byte.
struct TStatusReader {
    TPeer* Peer = nullptr;
    uint32_t From = 0;
    size_t DescriptionSize = 0;
    uint32_t Next = 0;   // index of the description expected next
    long Errors = 0;
    bool Ended = false;
    ByteString Header;   // the packet's first 26 bytes: header, entry, description index
    size_t Left = 0;     // description bytes of the current packet still to come
    char Fill = 0;

    static char FillOf(uint32_t index) { return static_cast<char>('a' + index % 26); }

    void Pull()
    {
        static char buf[256 * 1024];
        for (;;) {
            int n = Peer->ReceiveNow(buf, sizeof buf);
            if (n == 0)
                Ended = true;
            if (n <= 0)
                return;
            Take(buf, static_cast<size_t>(n));
        }
    }

    void Take(const char* p, size_t n)
    {
        while (n > 0) {
            if (Left == 0) {
                size_t want = std::min(n, 26 - Header.size());
                Header.append(p, want);
                p += want;
                n -= want;
                if (Header.size() < 26)
                    return;
                uint32_t index = BytesToUInt32(ByteView(Header).substr(22));
                if (BytesToUInt32(Header) != spStatusChange ||
                    BytesToUInt32(ByteView(Header).substr(4)) != 14 + DescriptionSize ||
                    BytesToUInt32(ByteView(Header).substr(8)) != From || Header[12] != 2 || index != Next)
                    ++Errors;
                Next = index + 1;
                Fill = FillOf(index);
                Left = DescriptionSize - 4;
                Header.clear();
                continue;
            }
            size_t part = std::min(n, Left);
            for (size_t i = 0; i < part; ++i)
                if (p[i] != Fill) {
                    ++Errors;
                    break;
                }
            p += part;
            n -= part;
            Left -= part;
        }
    }
};

ByteString Description(uint32_t index, size_t size)
{
    return U32(index) + ByteString(size - 4, TStatusReader::FillOf(index));
}

}  // namespace

TEST_F(ProtocolTest, BigDescriptionsToReadersThatPauseReachEveryoneInOrderWithBoundedMemory)
{
    constexpr int readers = 80;
    constexpr uint32_t statuses = 20;
    constexpr size_t descriptionSize = TZzSerwer::MaxPacketLength - 4;  // a payload of 1 MiB
    TZzPeer& sender = Connect(5);
    std::vector<TStatusReader> got(readers);
    for (int i = 0; i < readers; ++i) {
        got[i].Peer = &Connect(100 + i);
        got[i].From = 5;
        got[i].DescriptionSize = descriptionSize;
    }
    ByteString out;
    for (uint32_t k = 0; k < statuses; ++k)
        out += TZzPeer::Frame(cpNewStatus, U32(2) + Description(k, descriptionSize));

    Total().ResetPeak();
    size_t totalBefore = Total().Bytes();
    size_t heapBefore = HeapInUse(), heapPeak = heapBefore;
    size_t sent = 0;
    int64_t start = MonotonicMs();
    auto allDone = [&] {
        for (auto& r : got)
            if (r.Next < statuses || r.Left > 0)
                return false;
        return true;
    };
    while (!allDone() && MonotonicMs() - start < 60000) {
        TEventLoop::Default().ProcessEvents(1);
        if (sent < out.size()) {
            int n = sender.SendNow(out.data() + sent, out.size() - sent);
            if (n > 0)
                sent += static_cast<size_t>(n);
        }
        // Every reader pauses for the first second, some of them a little longer.
        int64_t now = MonotonicMs() - start;
        for (int i = 0; i < readers; ++i)
            if (now >= 1000 + (i % 4) * 150)
                got[i].Pull();
        Log.Lines.clear();  // each status line holds its whole description
        heapPeak = std::max(heapPeak, HeapInUse());
    }

    for (int i = 0; i < readers; ++i) {
        EXPECT_EQ(got[i].Next, statuses) << "reader " << i;
        EXPECT_EQ(got[i].Errors, 0) << "reader " << i;
        EXPECT_FALSE(got[i].Ended) << "reader " << i;
    }
    EXPECT_EQ(Serwer.ClientCount(), readers + 1);  // nobody dropped
    // Copied into each queue, the descriptions would be 20 MiB per reader; shared, each is held
    // once, whatever the number of readers.
    EXPECT_LE(Total().Peak() - totalBefore, statuses * (descriptionSize + 64) + 1024 * 1024);
    EXPECT_LE(heapPeak - heapBefore, 64u * 1024 * 1024);
    EXPECT_TRUE(RunUntil([&] { return Serwer.PausedClients() == 0 && Total().Bytes() == totalBefore; }));
}

TEST_F(ProtocolTest, ReadingPausesAtTheBoundOfAllQueuesAndResumesWhenTheyDrain)
{
    struct TLimit {
        size_t Old = Total().Limit;
        ~TLimit() { Total().Limit = Old; }
    } restore;
    Total().Limit = 2 * 1024 * 1024;
    constexpr size_t descriptionSize = 512 * 1024;
    constexpr uint32_t statuses = 8;

    TZzPeer& sender = Connect(5);
    TZzPeer& reader = Connect(7);
    // A small kernel buffer on the server's side: what the reader does not take waits in the
    // server's queue. (A tiny receive window on loopback would stall TCP itself.)
    int small = 4096;
    TZzClient* senderClient = ClientOf(0);
    TZzClient* readerClient = ClientOf(1);
    SocketSetOption(readerClient->Handle(), SOL_SOCKET, SO_SNDBUF, small);
    readerClient->SetSlowQueueMark(0);  // only the bound of all queues holds the sender back
    int reads = 0;
    auto serverRead = senderClient->OnDataAvailable;
    senderClient->OnDataAvailable = [&reads, serverRead](TCustomWSocket* s, uint16_t e) {
        ++reads;
        serverRead(s, e);
    };

    ByteString out;
    for (uint32_t k = 0; k < statuses; ++k)
        out += TZzPeer::Frame(cpNewStatus, U32(2) + Description(k, descriptionSize));
    size_t sent = 0;
    auto push = [&] {
        int n = sender.SendNow(out.data() + sent, out.size() - sent);
        if (n > 0)
            sent += static_cast<size_t>(n);
    };
    ASSERT_TRUE(RunUntil([&] {
        push();
        return Serwer.PausedClients() == 1 && Total().OverLimit();  // not a turn's end: the bound
    }));
    EXPECT_TRUE(senderClient->ReadPaused);
    EXPECT_TRUE(TEventLoop::Default().ReadPaused(senderClient->Handle()));
    // Held back, and not polled: its waiting bytes raise no readiness while it is paused.
    reads = 0;
    RunFor(300);
    EXPECT_EQ(reads, 0);
    EXPECT_TRUE(senderClient->ReadPaused);
    EXPECT_LE(Total().Bytes(), Total().Limit + descriptionSize + 64 * 1024);
    size_t handled = 0;
    for (auto& line : Log.Lines)
        handled += line.find(Cp("zmienił status")) != ByteString::npos;
    EXPECT_LT(handled, statuses);

    // The reader catches up: every description arrives, in order, and the sender is read again.
    TStatusReader r;
    r.Peer = &reader;
    r.From = 5;
    r.DescriptionSize = descriptionSize;
    ASSERT_TRUE(RunUntil(
        [&] {
            push();
            r.Pull();
            return r.Next == statuses && r.Left == 0;
        },
        20000)) << r.Next << " paused " << Serwer.PausedClients() << " total " << Total().Bytes() << " sent " << sent
                 << " buffered " << readerClient->BufferedBytes() << " over the limit " << Total().OverLimit();
    EXPECT_EQ(r.Errors, 0);
    EXPECT_TRUE(RunUntil([&] { return Serwer.PausedClients() == 0; }));
    EXPECT_FALSE(TEventLoop::Default().ReadPaused(senderClient->Handle()));
    EXPECT_EQ(Serwer.ClientCount(), 2);
    // Read again: a ping after the statuses is handled.
    sender.SendPacket(cpPing, "");
    EXPECT_TRUE(RunUntil([&] { return !Log.Lines.empty() && Log.Lines.back() == Cp("5>ciągle jestem"); }));
}

TEST_F(ProtocolTest, SharedPayloadsAreGivenBackOnAbortResetCloseAndDestruction)
{
    size_t totalBefore = Total().Bytes();
    constexpr size_t descriptionSize = 600 * 1024;
    TZzPeer& sender = Connect(5);
    TZzPeer& reads = Connect(6);
    TZzPeer& resets = Connect(7);
    TZzPeer& aborted = Connect(8);
    TZzPeer& closed = Connect(9);
    (void)aborted;
    (void)closed;
    int small = 4096;
    for (size_t i = 2; i < 5; ++i) {
        SocketSetOption(ClientOf(i)->Handle(), SOL_SOCKET, SO_SNDBUF, small);
        ClientOf(i)->SetSlowQueueMark(0);  // keep the sender going: this is about lifetimes
    }
    for (uint32_t k = 0; k < 3; ++k)
        sender.SendPacket(cpNewStatus, U32(2) + Description(k, descriptionSize));
    ASSERT_TRUE(RunUntil([&] { return ClientOf(4)->BufferedBytes() > descriptionSize; }));
    EXPECT_GE(Total().Bytes() - totalBefore, 2 * descriptionSize);  // held once, not per queue
    EXPECT_LT(Total().Bytes() - totalBefore, 4 * descriptionSize);

    ClientOf(3)->Abort();
    ClientOf(4)->Close();
    EXPECT_EQ(ClientOf(3)->BufferedBytes(), 0u);
    EXPECT_EQ(ClientOf(4)->BufferedBytes(), 0u);
    resets.Reset();
    TStatusReader r;
    r.Peer = &reads;
    r.From = 5;
    r.DescriptionSize = descriptionSize;
    ASSERT_TRUE(RunUntil([&] {
        r.Pull();
        return r.Next == 3 && r.Left == 0;
    }));
    EXPECT_EQ(r.Errors, 0);
    EXPECT_TRUE(RunUntil([&] { return Serwer.ClientCount() == 2 && Total().Bytes() == totalBefore; }));

    // A server destroyed while queues still hold a shared payload gives it back too.
    {
        TZzSerwer other;
        TMemoryLog log;
        TZzCommandHandler handler{other, log, Random};
        handler.Bind();
        other.SetPort(0);
        std::string error;
        other.Open(error);
        ASSERT_EQ(error, "");
        TZzPeer a(BoundPort(other.SocketServer())), b(BoundPort(other.SocketServer()));
        ASSERT_TRUE(a.Login(1));
        ASSERT_TRUE(b.Login(2));
        SocketSetOption(other.Client(1)->Handle(), SOL_SOCKET, SO_SNDBUF, small);
        a.SendPacket(cpNewStatus, U32(2) + Description(0, descriptionSize));
        ASSERT_TRUE(RunUntil([&] { return other.Client(1)->BufferedBytes() > 0; }));
        EXPECT_GT(Total().Bytes(), totalBefore);
    }
    EXPECT_EQ(Total().Bytes(), totalBefore);
    EXPECT_EQ(Total().CongestedQueues(), 0);
}

namespace {

// Holds both ends' socket buffers small and the slow-queue mark low, so that a few statuses the
// peer does not read make its queue congested, and what it reads is what the server sends.
void MakeSlow(TZzClient* client, TZzPeer& peer, size_t mark)
{
    int small = 4096;
    SocketSetOption(client->Handle(), SOL_SOCKET, SO_SNDBUF, small);
    peer.SetReceiveBuffer(small);
    client->SetSlowQueueMark(mark);
}

}  // namespace

TEST_F(ProtocolTest, OneReaderThatStopsReadingHoldsNoSenderBack)
{
    TZzPeer& five = Connect(5);
    TZzPeer& seven = Connect(7);
    TZzPeer& stalled = Connect(9);  // logged in, never reads
    Serwer.SlowReaderTimeoutMs = 30000;
    MakeSlow(ClientOf(2), stalled, 64 * 1024);
    for (uint32_t k = 0; k < 4; ++k) {
        five.SendPacket(cpNewStatus, U32(2) + Description(k, 32 * 1024));
        ASSERT_EQ(seven.ReadPacket().Type, spStatusChange);
    }
    ASSERT_TRUE(RunUntil([&] { return ClientOf(2) && ClientOf(2)->QueueCongested(); }));

    // Both who broadcast and who writes to the stalled one go on at once; only its own queue
    // is long.
    int64_t start = MonotonicMs();
    five.SendPacket(cpNewStatus, U32(3));
    EXPECT_EQ(seven.ReadPacket(2000).Type, spStatusChange);
    five.SendPacket(cpSendMessage, U32(9) + U32(1) + U32(0) + ByteString("hej\0", 4));
    EXPECT_EQ(five.ReadPacket(2000).Type, spMessageAck);
    five.SendPacket(cpSendMessage, U32(7) + U32(2) + U32(0) + ByteString("hej\0", 4));
    EXPECT_EQ(seven.ReadPacket(2000).Type, spMessage);
    EXPECT_LT(MonotonicMs() - start, 2000);
    EXPECT_EQ(Serwer.PausedClients(), 0);
    EXPECT_EQ(ClientOf(2)->State(), wsConnected);  // not yet past its time to catch up
}

TEST_F(ProtocolTest, ReaderThatTakesATrickleIsDroppedAsOneThatTakesNothing)
{
    TZzPeer& five = Connect(5);
    TZzPeer& seven = Connect(7);
    TZzPeer& trickle = Connect(9);
    Serwer.SlowReaderTimeoutMs = 30000;
    MakeSlow(ClientOf(2), trickle, 64 * 1024);
    for (uint32_t k = 0; k < 8; ++k) {
        five.SendPacket(cpNewStatus, U32(2) + Description(k, 32 * 1024));
        ASSERT_EQ(seven.ReadPacket().Type, spStatusChange);
    }
    ASSERT_TRUE(RunUntil([&] { return ClientOf(2) && ClientOf(2)->QueueCongested(); }));
    Serwer.SlowReaderTimeoutMs = 1000;
    // A kilobyte every 50 ms: it moves, but far slower than its backlog grew.
    char buf[1024];
    bool dropped = RunUntil(
        [&] {
            RunFor(50);
            int n = trickle.ReceiveNow(buf, sizeof buf);
            return n == 0 || Serwer.ClientCount() == 2;
        },
        5000);
    EXPECT_TRUE(dropped);
    ASSERT_TRUE(RunUntil([&] { return Serwer.ClientCount() == 2; }));
    EXPECT_EQ(ClientOf(1)->UserNumber(), 7u);
    EXPECT_EQ(Total().CongestedQueues(), 0);
}
