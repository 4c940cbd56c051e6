// Back-pressure that holds only whoever feeds the stuck: readers that stop are dropped, readers
// that keep reading are kept, and nobody else waits for either. The bounds are scaled down here
// (the loop's TSendQueueTotal and the server's timeout) so that each case takes seconds.
#include <cstring>
#include <map>

#include "protocol/ProtocolFixture.h"
#include "support/TestPlatform.h"

namespace {

TSendQueueTotal& Total()
{
    return TEventLoop::Default().QueuedTotal();
}

// Puts the loop's bounds back as they were after the test.
struct TBoundsRestore {
    size_t Limit = Total().Limit;
    size_t QueueLimit = Total().QueueLimit;
    ~TBoundsRestore()
    {
        Total().Limit = Limit;
        Total().QueueLimit = QueueLimit;
    }
};

// Small kernel buffers on both sides of one connection: what its reader does not take stays in
// the server's queue, and what the server does not read stays with the peer.
void Narrow(TZzClient* client, TZzPeer& peer)
{
    int small = 4096;
    SocketSetOption(client->Handle(), SOL_SOCKET, SO_SNDBUF, small);
    SocketSetOption(client->Handle(), SOL_SOCKET, SO_RCVBUF, small);
    SocketSetOption(peer.Handle(), SOL_SOCKET, SO_SNDBUF, small);
    peer.SetReceiveBuffer(small);
}

ByteString Message(uint32_t to, uint32_t seq, size_t textSize)
{
    return U32(to) + U32(seq) + U32(0) + ByteString(textSize, 'm') + ByteString(1, '\0');
}

ByteString Description(uint32_t index, size_t size)
{
    return U32(index) + ByteString(size - 4, static_cast<char>('a' + index % 26));
}

// Counts the packets of one connection's stream without keeping their payloads.
struct TPacketCount {
    ByteString Header;
    size_t Left = 0;
    std::map<uint32_t, int> ByType;
    std::map<uint32_t, size_t> LastLength;
    size_t Bytes = 0;
    bool Ended = false;

    void Take(const char* p, size_t n)
    {
        Bytes += n;
        while (n > 0) {
            if (Left == 0) {
                size_t want = std::min(n, PacketHeaderSize - Header.size());
                Header.append(p, want);
                p += want;
                n -= want;
                if (Header.size() < PacketHeaderSize)
                    return;
                uint32_t type = BytesToUInt32(Header);
                Left = BytesToUInt32(ByteView(Header).substr(4));
                ++ByType[type];
                LastLength[type] = Left;
                Header.clear();
                continue;
            }
            size_t part = std::min(n, Left);
            p += part;
            n -= part;
            Left -= part;
        }
    }

    // Takes what is waiting, at most max bytes; returns the bytes taken.
    size_t Pull(TPeer& peer, size_t max = SIZE_MAX)
    {
        static char buf[64 * 1024];
        size_t taken = 0;
        while (taken < max) {
            int n = peer.ReceiveNow(buf, static_cast<int>(std::min(sizeof buf, max - taken)));
            if (n == 0)
                Ended = true;
            if (n <= 0)
                break;
            Take(buf, static_cast<size_t>(n));
            taken += static_cast<size_t>(n);
        }
        return taken;
    }
};

// Writes a prepared stream as fast as the connection takes it.
struct TWriter {
    TPeer* Peer = nullptr;
    ByteString Out;
    size_t Sent = 0;
    bool Done() const { return Sent == Out.size(); }
    void Push()
    {
        while (!Done()) {
            int n = Peer->SendNow(Out.data() + Sent, Out.size() - Sent);
            if (n <= 0)
                return;
            Sent += static_cast<size_t>(n);
        }
    }
};

// The filler relays 2 KB messages to the stuck reader (user 9), reading its own answers, until
// all queues are over their bound and the filler is held for feeding it.
bool FillUntilHeld(TZzPeer& filler, const TZzClient* fillerClient)
{
    TWriter fill{&filler, {}, 0};
    for (uint32_t k = 0; k < 1000; ++k)
        fill.Out += TZzPeer::Frame(cpSendMessage, Message(9, k, 1999));
    TPacketCount fillerGot;
    return RunUntil([&] {
        fill.Push();
        fillerGot.Pull(filler);
        return Total().OverLimit() && fillerClient->ReadPaused;
    });
}

}  // namespace

TEST_F(ProtocolTest, StuckReadersAtTheBoundHoldOnlyTheirFeederAndAreDroppedInTime)
{
    TBoundsRestore restore;
    Total().Limit = 1024 * 1024;
    Serwer.SlowReaderTimeoutMs = 4000;
    TZzPeer& five = Connect(5);
    TZzPeer& seven = Connect(7);
    TZzPeer& filler = Connect(9);
    constexpr int stuckCount = 20;
    for (int i = 0; i < stuckCount; ++i) {
        TZzPeer& p = Connect(100 + i);  // logged in, never reads
        Narrow(ClientOf(3 + i), p);
    }
    // The filler relays 2 KB messages to them, round the circle, and reads its own answers.
    TWriter fill{&filler, {}, 0};
    for (uint32_t k = 0; k < 1500; ++k)
        fill.Out += TZzPeer::Frame(cpSendMessage, Message(100 + k % stuckCount, k, 1999));
    TPacketCount fillerGot;
    TZzClient* fillerClient = ClientOf(2);
    ASSERT_TRUE(RunUntil([&] {
        fill.Push();
        fillerGot.Pull(filler);
        return Total().OverLimit() && fillerClient->ReadPaused;
    })) << "total " << Total().Bytes();
    // Until the system's buffers of the stuck are full too: then the total stays over.
    RunUntil(
        [&] {
            fill.Push();
            fillerGot.Pull(filler);
            return false;
        },
        1000);
    ASSERT_TRUE(Total().OverLimit());
    ASSERT_TRUE(fillerClient->ReadPaused);
    EXPECT_TRUE(TEventLoop::Default().ReadPaused(fillerClient->Handle()));

    // An unrelated pair goes on talking, answers and relays alike, while the total is over.
    for (uint32_t k = 0; k < 3; ++k) {
        five.SendPacket(cpSendMessage, Message(7, k, 10));
        TPacket ack = five.ReadPacket(2000);
        ASSERT_EQ(ack.Type, spMessageAck) << "message " << k;
        EXPECT_EQ(ack.Payload, U32(ackRelayed) + U32(5) + U32(k));
        TPacket got = seven.ReadPacket(2000);
        ASSERT_EQ(got.Type, spMessage) << "message " << k;
        seven.SendPacket(cpSendMessage, Message(5, k, 10));
        ASSERT_EQ(seven.ReadPacket(2000).Type, spMessageAck) << "answer " << k;
        ASSERT_EQ(five.ReadPacket(2000).Type, spMessage) << "answer " << k;
    }
    EXPECT_TRUE(fillerClient->ReadPaused);

    // None of the stuck takes anything: all are dropped, whatever the size of their queues
    // (each holds far less than the slow-reader mark), and the filler is read again.
    ASSERT_TRUE(RunUntil(
        [&] {
            fill.Push();
            fillerGot.Pull(filler);
            return Serwer.ClientCount() == 3;
        },
        15000)) << Serwer.ClientCount() << " clients, total " << Total().Bytes();
    EXPECT_FALSE(Total().OverLimit());
    filler.SendPacket(cpPing, "");
    EXPECT_TRUE(RunUntil([&] {
        fill.Push();
        fillerGot.Pull(filler);
        return !Log.Lines.empty() && Log.Lines.back() == Cp("9>ciągle jestem");
    }));
    EXPECT_TRUE(fill.Done());
}

TEST_F(ProtocolTest, ClientsThatReadOnlyOnceTheirWriteIsDoneDoNotDeadlockAtTheBound)
{
    TBoundsRestore restore;
    Total().Limit = 2 * 1024 * 1024;
    Serwer.SlowReaderTimeoutMs = 3000;
    constexpr int clients = 10;
    constexpr uint32_t statuses = 8;
    constexpr size_t descriptionSize = 40 * 1024;
    std::vector<TZzPeer*> peers;
    for (int i = 0; i < clients; ++i) {
        peers.push_back(&Connect(10 + i));
        // Buffers small enough that a batch cannot go without the server reading it, and what
        // is sent to them waits in the server's queues (not so small that TCP itself stalls).
        TZzClient* c = ClientOf(static_cast<size_t>(i));
        SocketSetOption(c->Handle(), SOL_SOCKET, SO_SNDBUF, 4096);
        SocketSetOption(c->Handle(), SOL_SOCKET, SO_RCVBUF, 16 * 1024);
        SocketSetOption(peers.back()->Handle(), SOL_SOCKET, SO_SNDBUF, 16 * 1024);
    }
    // Each writes a batch of big statuses (to all the others) and reads nothing before the
    // whole batch has gone: a simple client on one thread. Together they are over the bound.
    std::vector<TWriter> writers(clients);
    std::vector<TPacketCount> got(clients);
    for (int i = 0; i < clients; ++i) {
        writers[i].Peer = peers[i];
        for (uint32_t k = 0; k < statuses; ++k)
            writers[i].Out += TZzPeer::Frame(cpNewStatus, U32(2) + Description(k, descriptionSize));
    }
    const int expected = (clients - 1) * static_cast<int>(statuses);
    auto done = [&] {
        for (int i = 0; i < clients; ++i)
            if (got[i].ByType[spStatusChange] < expected)
                return false;
        return true;
    };
    bool finished = RunUntil(
        [&] {
            for (int i = 0; i < clients; ++i) {
                if (!writers[i].Done())
                    writers[i].Push();
                else
                    got[i].Pull(*peers[i]);
            }
            return done();
        },
        30000);
    for (int i = 0; i < clients; ++i) {
        EXPECT_TRUE(writers[i].Done()) << "client " << i << " wrote " << writers[i].Sent;
        EXPECT_EQ(got[i].ByType[spStatusChange], expected) << "client " << i;
        EXPECT_FALSE(got[i].Ended) << "client " << i;
    }
    EXPECT_TRUE(finished);
    EXPECT_EQ(Serwer.ClientCount(), clients);
    EXPECT_TRUE(RunUntil([&] { return Serwer.PausedClients() == 0; }));
}

TEST_F(ProtocolTest, HeldConnectionsWhosePeersCloseAreGoneAtOnce)
{
    TBoundsRestore restore;
    Total().Limit = 1024 * 1024;
    Serwer.SlowReaderTimeoutMs = 60000;  // the stuck reader holds the total for the whole test
    TZzPeer& stuck = Connect(9);
    Narrow(ClientOf(0), stuck);
    TZzPeer& filler = Connect(8);
    constexpr int senders = 20;
    std::vector<TZzPeer*> peers;
    for (int i = 0; i < senders; ++i)
        peers.push_back(&Connect(100 + i));
    ASSERT_TRUE(FillUntilHeld(filler, ClientOf(1))) << "total " << Total().Bytes();
    // Others write to the stuck one too, one message each: each is held after it. (Nothing is
    // left unread, so that every system reports the close at once, also one that reports it
    // only after the data before it has been read.)
    for (int i = 0; i < senders; ++i)
        peers[i]->Send(TZzPeer::Frame(cpSendMessage, Message(9, 1, 1999)));
    ASSERT_TRUE(RunUntil([&] { return Serwer.HeldAtBoundClients() == senders + 1; }))
        << "held " << Serwer.HeldAtBoundClients() << " total " << Total().Bytes();
    // Each has read its one answer, so that its close is an orderly end (FIN), which a
    // connection not read must still hear of.
    std::vector<TPacketCount> got(senders);
    ASSERT_TRUE(RunUntil([&] {
        bool all = true;
        for (int i = 0; i < senders; ++i) {
            got[i].Pull(*peers[i]);
            all &= got[i].ByType[spMessageAck] == 1;
        }
        return all;
    }));
    size_t handles = OpenHandles();

    for (TZzPeer* p : peers)
        p->Close();
    // Their descriptors and client objects go now, not when the total has drained.
    EXPECT_TRUE(RunUntil([&] { return Serwer.ClientCount() == 2; }, 3000))
        << Serwer.ClientCount() << " clients, paused " << Serwer.PausedClients();
    EXPECT_LE(OpenHandles() + 2 * senders, handles);  // both ends of each
    EXPECT_EQ(Serwer.PausedClients(), 1);  // the filler, still
    EXPECT_EQ(ClientOf(0)->UserNumber(), 9u);
}

TEST_F(ProtocolTest, WhatAHeldConnectionSentBeforeItsPeerClosedIsStillHandled)
{
    TBoundsRestore restore;
    Total().Limit = 1024 * 1024;
    Serwer.SlowReaderTimeoutMs = 60000;  // the stuck reader holds the total for the whole test
    TZzPeer& stuck = Connect(9);
    Narrow(ClientOf(0), stuck);
    TZzPeer& filler = Connect(8);
    TZzPeer& seven = Connect(7);
    TZzPeer& sender = Connect(100);
    ASSERT_TRUE(FillUntilHeld(filler, ClientOf(1))) << "total " << Total().Bytes();
    sender.Send(TZzPeer::Frame(cpSendMessage, Message(9, 1, 1999)));
    ASSERT_TRUE(RunUntil([&] { return Serwer.HeldAtBoundClients() == 2; }));
    // Written while the server does not read it, then the end of the connection: the message
    // was sent before the close and is passed on, then the connection goes.
    sender.Send(TZzPeer::Frame(cpSendMessage, U32(7) + U32(2) + U32(0) + ByteString("jeszcze to") + ByteString(1, '\0')));
    sender.Close();
    TPacket got = seven.ReadPacket(5000);
    ASSERT_TRUE(got.Valid);
    EXPECT_EQ(got.Type, spMessage);
    EXPECT_NE(got.Payload.find("jeszcze to"), ByteString::npos);
    EXPECT_TRUE(RunUntil([&] { return Serwer.ClientCount() == 3; }, 3000)) << Serwer.ClientCount() << " clients";
    EXPECT_EQ(Serwer.HeldAtBoundClients(), 1);  // the filler, still
}

TEST_F(ProtocolTest, BurstOfSharedDescriptionsDropsNoReader)
{
    TBoundsRestore restore;
    Total().QueueLimit = 1024 * 1024;  // scaled down: what a queue may hold of its own
    constexpr int senders = 12;
    constexpr int readersOnly = 3;
    constexpr uint32_t statuses = 2;
    constexpr size_t descriptionSize = 128 * 1024;
    std::vector<TZzPeer*> peers;
    for (int i = 0; i < senders + readersOnly; ++i) {
        peers.push_back(&Connect(10 + i));
        int small = 4096;
        SocketSetOption(ClientOf(static_cast<size_t>(i))->Handle(), SOL_SOCKET, SO_SNDBUF, small);
    }
    // Everybody sets a big description at once: each reader is sent 3 MiB of them, more than
    // a queue may hold of its own, but each description is held once for all.
    for (int i = 0; i < senders; ++i) {
        ByteString out;
        for (uint32_t k = 0; k < statuses; ++k)
            out += TZzPeer::Frame(cpNewStatus, U32(2) + Description(k, descriptionSize));
        peers[i]->Send(out);
    }
    std::vector<TPacketCount> got(peers.size());
    auto expectedFor = [&](size_t i) { return static_cast<int>((i < senders ? senders - 1 : senders) * statuses); };
    bool all = RunUntil(
        [&] {
            bool done = true;
            for (size_t i = 0; i < peers.size(); ++i) {
                got[i].Pull(*peers[i]);
                done &= got[i].ByType[spStatusChange] == expectedFor(i);
            }
            return done;
        },
        20000);
    EXPECT_TRUE(all);
    for (size_t i = 0; i < peers.size(); ++i) {
        EXPECT_EQ(got[i].ByType[spStatusChange], expectedFor(i)) << "peer " << i;
        EXPECT_FALSE(got[i].Ended) << "peer " << i;
    }
    EXPECT_EQ(Serwer.ClientCount(), senders + readersOnly);
}

TEST_F(ProtocolTest, ReadersThatKeepReadingAreKeptOnesThatStopAreDropped)
{
    Serwer.SlowReaderTimeoutMs = 1500;
    TZzPeer& five = Connect(5);
    TZzPeer& steady = Connect(6);   // 120 KB/s from the start
    TZzPeer& pauses = Connect(7);   // nothing for a second, then 200 KB/s
    TZzPeer& stopped = Connect(8);  // never reads
    // A big send buffer on the server's side, as the system grows it on a fast link: it takes
    // a third of its size at a time once that much has drained. The peers' own buffers are
    // small, so what the peer has acknowledged is close to what it has read.
    for (size_t i = 1; i <= 3; ++i) {
        TZzClient* c = ClientOf(i);
#ifndef _WIN32
        SocketSetOption(c->Handle(), SOL_SOCKET, SO_SNDBUF, 1024 * 1024);
#endif
        c->SetSlowQueueMark(128 * 1024);
    }
    for (TZzPeer* p : {&steady, &pauses, &stopped})
        p->SetReceiveBuffer(64 * 1024);
    ByteString out;
    for (uint32_t k = 0; k < 40; ++k)
        out += TZzPeer::Frame(cpNewStatus, U32(2) + Description(k, 64 * 1024));
    five.Send(out);

    TPacketCount atSteady, atPauses;
    int64_t start = MonotonicMs();
    auto rateRead = [](TPacketCount& count, TZzPeer& peer, double bytesPerMs, int64_t sinceMs) {
        int64_t elapsed = MonotonicMs() - sinceMs;
        if (elapsed <= 0)
            return;
        auto allowed = static_cast<size_t>(bytesPerMs * static_cast<double>(elapsed));
        if (allowed > count.Bytes)
            count.Pull(peer, allowed - count.Bytes);
    };
    RunUntil(
        [&] {
            rateRead(atSteady, steady, 120.0, start);
            rateRead(atPauses, pauses, 200.0, start + 1000);
            return false;
        },
        4500);
    EXPECT_FALSE(atSteady.Ended);
    EXPECT_FALSE(atPauses.Ended);
    EXPECT_GT(atSteady.Bytes, 300u * 1024);
    EXPECT_GT(atPauses.Bytes, 300u * 1024);
    // The one that took nothing is gone, and only that one.
    ASSERT_EQ(Serwer.ClientCount(), 3);
    EXPECT_EQ(ClientOf(1)->UserNumber(), 6u);
    EXPECT_EQ(ClientOf(2)->UserNumber(), 7u);
    EXPECT_TRUE(stopped.WaitClosed(3000));
}
