// Long packets are put together in room that all connections share: one that does not fit waits,
// unread and losing nothing, and nobody else is held up by it.
#include "protocol/ProtocolFixture.h"

#include <algorithm>

namespace {

constexpr size_t ListBytes = 200 * 1024;  // a user list piece longer than a connection keeps alone

ByteString ListPiece(uint8_t subtype, char fill)
{
    return ByteString(1, static_cast<char>(subtype)) + ByteString(ListBytes, fill);
}

// The framed packet cut in two: what a slow sender has sent so far, and the rest.
std::pair<ByteString, ByteString> CutPacket(const ByteString& framed, size_t first)
{
    return {framed.substr(0, first), framed.substr(first)};
}

}  // namespace

struct ReceiveRoomTest : ProtocolTest {
    size_t Peak = 0;  // the most the room held at any look

    void SetUp() override
    {
        ProtocolTest::SetUp();
        Serwer.ReceiveRoomLimit = 300 * 1024;  // one long packet fits, two do not
    }
    bool Until(const std::function<bool()>& pred, int timeoutMs = 5000)
    {
        return RunUntil(
            [&] {
                Peak = std::max(Peak, Serwer.ReceiveRoomUsed());
                return pred();
            },
            timeoutMs);
    }
    ByteString StoredList(TZzPeer& p)
    {
        p.SendPacket(cpUserList, ByteString(1, ulGet));
        return p.ReadPacket().Payload;
    }
};

TEST_F(ReceiveRoomTest, ALongPacketThatDoesNotFitWaitsAndIsHandledWhenRoomComesBack)
{
    TZzPeer& five = Connect(5);
    TZzPeer& six = Connect(6);
    TZzPeer& seven = Connect(7);
    auto [fiveStart, fiveRest] = CutPacket(TZzPeer::Frame(cpUserList, ListPiece(ulBegin, 'a')), 10 * 1024);
    auto [sixStart, sixRest] = CutPacket(TZzPeer::Frame(cpUserList, ListPiece(ulBegin, 'b')), 10 * 1024);

    five.Send(fiveStart);
    ASSERT_TRUE(Until([&] { return Serwer.ReceiveRoomUsed() > 0; }));
    six.Send(sixStart);
    ASSERT_TRUE(Until([&] { return Serwer.RoomWaitingClients() == 1; }));
    EXPECT_EQ(Serwer.Counters.RoomWaits, 1u);

    // Short packets of others go on meanwhile.
    seven.SendPacket(cpUserList, ByteString(1, ulBegin) + "short");
    EXPECT_EQ(StoredList(seven), ByteString(1, ulReplyGet) + "short");

    // The one that waits sends the rest and more behind it; nothing of it is read yet.
    six.Send(sixRest);
    six.SendPacket(cpUserList, ByteString(1, ulMore) + "tail");
    RunFor(100);
    EXPECT_EQ(Serwer.RoomWaitingClients(), 1);

    // The first packet ends: its room goes to the one waiting, whose packets all come in order.
    five.Send(fiveRest);
    EXPECT_EQ(StoredList(five), ByteString(1, ulReplyGet) + ByteString(ListBytes, 'a'));
    EXPECT_EQ(StoredList(six), ByteString(1, ulReplyGet) + ByteString(ListBytes, 'b') + "tail");
    ASSERT_TRUE(Until([&] { return Serwer.ReceiveRoomUsed() == 0; }));
    EXPECT_EQ(Serwer.RoomWaitingClients(), 0);
    EXPECT_LE(Peak, Serwer.ReceiveRoomLimit);
}

TEST_F(ReceiveRoomTest, ManyHalfSentLongPacketsPastTheRoomAllComplete)
{
    // Each sender stops half-way until everyone has started: room granted once is never taken
    // back, so those that wait are not waiting for a packet that cannot be finished.
    constexpr int Senders = 6;
    std::vector<TZzPeer*> peers;
    std::vector<ByteString> rests;
    for (int i = 0; i < Senders; ++i) {
        peers.push_back(&Connect(10 + i));
        auto [start, rest] =
            CutPacket(TZzPeer::Frame(cpUserList, ListPiece(ulBegin, static_cast<char>('a' + i))), ListBytes / 2);
        peers.back()->Send(start);
        rests.push_back(rest);
    }
    ASSERT_TRUE(Until([&] { return Serwer.RoomWaitingClients() == Senders - 1; }));
    for (int i = 0; i < Senders; ++i)
        peers[i]->Send(rests[i]);
    for (int i = 0; i < Senders; ++i)
        EXPECT_EQ(StoredList(*peers[i]), ByteString(1, ulReplyGet) + ByteString(ListBytes, static_cast<char>('a' + i)));
    EXPECT_LE(Peak, Serwer.ReceiveRoomLimit);
    EXPECT_EQ(Serwer.Counters.RoomWaits, static_cast<uint64_t>(Senders - 1));
}

TEST_F(ReceiveRoomTest, RoomKeptBySenderThatStopsIsTakenBackOnlyWhileOthersWait)
{
    Serwer.SlowReaderTimeoutMs = 200;
    Serwer.MinReaderRate = 10 * 1024 * 1024;
    TZzPeer& five = Connect(5);
    TZzPeer& six = Connect(6);
    auto [fiveStart, fiveRest] = CutPacket(TZzPeer::Frame(cpUserList, ListPiece(ulBegin, 'a')), 10 * 1024);
    five.Send(fiveStart);
    ASSERT_TRUE(Until([&] { return Serwer.ReceiveRoomUsed() > 0; }));
    // Nobody waits: a sender may take its time.
    RunFor(600);
    EXPECT_EQ(ClientOf(0)->State(), wsConnected);

    auto [sixStart, sixRest] = CutPacket(TZzPeer::Frame(cpUserList, ListPiece(ulBegin, 'b')), 10 * 1024);
    six.Send(sixStart);
    ASSERT_TRUE(Until([&] { return Serwer.RoomWaitingClients() == 1; }));
    EXPECT_TRUE(five.WaitClosed());
    EXPECT_EQ(Serwer.SocketServer().Counters.Closed[ccSlowPacket], 1u);
    six.Send(sixRest);
    EXPECT_EQ(StoredList(six), ByteString(1, ulReplyGet) + ByteString(ListBytes, 'b'));
}

TEST_F(ReceiveRoomTest, WhatAWaitingSenderSentBeforeItClosedIsAllHandled)
{
    // Packets short enough for the system to take whole while the server does not read, so
    // that the close reaches the server behind them.
    constexpr size_t Bytes = 70 * 1024;
    Serwer.ReceiveRoomLimit = 100 * 1024;
    auto piece = [&](char fill) { return ByteString(1, static_cast<char>(ulBegin)) + ByteString(Bytes, fill); };
    TZzPeer& five = Connect(5);
    TZzPeer& six = Connect(6);
    auto [fiveStart, fiveRest] = CutPacket(TZzPeer::Frame(cpUserList, piece('a')), 10 * 1024);
    five.Send(fiveStart);
    ASSERT_TRUE(Until([&] { return Serwer.ReceiveRoomUsed() > 0; }));
    size_t before = Log.Lines.size();

    // Six sends a whole long packet and a short one behind it, then closes, while the room is
    // taken: both are handled before it goes.
    six.Send(TZzPeer::Frame(cpUserList, piece('b')) + TZzPeer::Frame(cpUserList, ByteString(1, ulGet)));
    six.ShutdownWrite();
    auto sixLines = [&] {
        return std::count_if(Log.Lines.begin() + static_cast<long>(before), Log.Lines.end(),
                             [&](const ByteString& l) { return l.rfind("6>", 0) == 0; });
    };
    ASSERT_TRUE(Until([&] { return sixLines() >= 2; }));
    // The whole list was taken, and the request behind it was handled.
    ByteString upload = Log.Lines[Log.Lines.size() - 2], request = Log.Lines.back();
    EXPECT_NE(upload.find(ByteString(Bytes, 'b')), ByteString::npos);
    EXPECT_EQ(request, Cp("6>pobranie listy użytkowników"));
    EXPECT_TRUE(six.WaitClosed());
    // The room holder was not disturbed.
    five.Send(fiveRest);
    EXPECT_EQ(StoredList(five), ByteString(1, ulReplyGet) + piece('a').substr(1));
}
