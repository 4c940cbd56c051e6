#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "messenger/ZzSerwer.h"
#include "support/ZzPeer.h"

namespace {

struct Dispatched {
    TZzClient* Client;
    int32_t Type;
    ByteString Payload;
};

struct ZzSerwerTest : ::testing::Test {
    std::unique_ptr<TZzSerwer> Serwer = std::make_unique<TZzSerwer>();
    std::vector<Dispatched> Commands;
    std::vector<std::string> Events;

    void SetUp() override
    {
        Serwer->SetPort(0);
        Serwer->OnClientCommand = [this](TZzClient* c, int32_t type, ByteView payload) {
            Commands.push_back({c, type, ByteString(payload)});
            Events.push_back("command");
        };
        Serwer->OnClientDataAvailable = [this](TZzGenericSerwer*, TZzClient*, ByteView data) {
            Events.push_back("data " + std::to_string(data.size()));
        };
        std::string error;
        Serwer->Open(error);
        ASSERT_EQ(error, "");
        ASSERT_TRUE(Serwer->Active);
    }
    int Port() { return BoundPort(Serwer->SocketServer()); }
    TZzClient* WaitClient(int index)
    {
        RunUntil([&] { return Serwer->ClientCount() > index; });
        return Serwer->Client(index);
    }
};

}  // namespace

TEST_F(ZzSerwerTest, TwoPacketsAndPartOfAThirdInOneRead)
{
    TZzPeer peer(Port());
    TZzClient* client = WaitClient(0);
    ASSERT_NE(client, nullptr);
    ByteString third = TZzPeer::Frame(9, "xyz");
    peer.Send(TZzPeer::Frame(21, U32(5)) + TZzPeer::Frame(8, "") + third.substr(0, 5));
    ASSERT_TRUE(RunUntil([&] { return Commands.size() == 2; }));
    RunFor(20);
    EXPECT_EQ(client->ReceiveBuffer.size(), 5u);
    EXPECT_EQ(Commands[0].Type, 21);
    EXPECT_EQ(Commands[0].Payload, U32(5));
    EXPECT_EQ(Commands[1].Type, 8);
    EXPECT_EQ(Commands[1].Payload, "");
    // The bytes of each read reach OnClientDataAvailable before any packet in them.
    EXPECT_EQ(Events[0], "data 25");
    peer.Send(third.substr(5));
    ASSERT_TRUE(RunUntil([&] { return Commands.size() == 3; }));
    EXPECT_EQ(Commands[2].Type, 9);
    EXPECT_EQ(Commands[2].Payload, "xyz");
    EXPECT_TRUE(client->ReceiveBuffer.empty());
}

TEST_F(ZzSerwerTest, HeaderSplitThreeAndFiveThenPayload)
{
    TZzPeer peer(Port());
    ByteString packet = TZzPeer::Frame(0xFFFFFFFFu, "abcd");
    peer.Send(packet.substr(0, 3));
    RunFor(30);
    peer.Send(packet.substr(3, 5));
    RunFor(30);
    EXPECT_TRUE(Commands.empty());
    peer.Send(packet.substr(8));
    ASSERT_TRUE(RunUntil([&] { return Commands.size() == 1; }));
    EXPECT_EQ(Commands[0].Type, -1);
    EXPECT_EQ(Commands[0].Payload, "abcd");
    RunFor(20);
    EXPECT_EQ(Commands.size(), 1u);
}

TEST_F(ZzSerwerTest, SendPacketFramesExactly)
{
    TZzPeer peer(Port());
    TZzClient* client = WaitClient(0);
    ASSERT_NE(client, nullptr);
    SendPacket(client, 1, UInt32ToBytes(8074));
    EXPECT_EQ(Hex(peer.ReadExactly(12)), "01 00 00 00 04 00 00 00 8A 1F 00 00");
    SendPacket(client, 3, "");
    EXPECT_EQ(Hex(peer.ReadExactly(8)), "03 00 00 00 00 00 00 00");
    EXPECT_EQ(Hex(UInt32ToBytes(8074)), "8A 1F 00 00");
    EXPECT_EQ(BytesToUInt32("\x01\x02"), 0x0201u);  // missing bytes count as zero
}

TEST_F(ZzSerwerTest, HandlerThatRaisesDoesNotGetThePacketAgain)
{
    bool first = true;
    Serwer->OnClientCommand = [&](TZzClient* c, int32_t type, ByteView payload) {
        Commands.push_back({c, type, ByteString(payload)});
        if (std::exchange(first, false))
            throw std::runtime_error("handler failed");
    };
    TZzPeer peer(Port());
    peer.SendPacket(2, U32(2));
    ASSERT_TRUE(RunUntil([&] { return Commands.size() == 1; }));
    peer.SendPacket(8, "");
    ASSERT_TRUE(RunUntil([&] { return Commands.size() == 2; }));
    RunFor(20);
    ASSERT_EQ(Commands.size(), 2u);
    EXPECT_EQ(Commands[1].Type, 8);
    EXPECT_EQ(Serwer->Client(0)->State(), wsConnected);
}

TEST_F(ZzSerwerTest, OversizedDeclaredLengthClosesOnlyThatConnection)
{
    TZzPeer bad(Port()), good(Port());
    ASSERT_NE(WaitClient(1), nullptr);
    bad.Send(UInt32ToBytes(2) + UInt32ToBytes(TZzSerwer::MaxPacketLength + 1) + "zz");
    EXPECT_TRUE(bad.WaitClosed());
    good.SendPacket(8, "");
    ASSERT_TRUE(RunUntil([&] { return Commands.size() == 1; }));
    EXPECT_EQ(Commands[0].Type, 8);
    ASSERT_TRUE(RunUntil([&] { return Serwer->ClientCount() == 1; }));
    // A packet of exactly the limit is still taken.
    good.SendPacket(9, ByteString(TZzSerwer::MaxPacketLength, 'p'));
    ASSERT_TRUE(RunUntil([&] { return Commands.size() == 2; }));
    EXPECT_EQ(Commands[1].Payload.size(), TZzSerwer::MaxPacketLength);
}

TEST_F(ZzSerwerTest, RoomOfALongPacketIsGivenBackOnceConsumed)
{
    TZzPeer peer(Port());
    TZzClient* client = WaitClient(0);
    ASSERT_NE(client, nullptr);
    // The longest packet allowed, then a short one and the start of another: afterwards the
    // connection holds what waits, not a mebibyte for the rest of its session.
    peer.Send(TZzPeer::Frame(22, ByteString(TZzSerwer::MaxPacketLength, 'p')));
    peer.Send(TZzPeer::Frame(8, "") + TZzPeer::Frame(9, "xyz").substr(0, 6));
    ASSERT_TRUE(RunUntil([&] { return Commands.size() == 2; }));
    RunFor(20);
    EXPECT_EQ(Commands[0].Payload.size(), TZzSerwer::MaxPacketLength);
    EXPECT_EQ(client->ReceiveBuffer.size(), 6u);
    EXPECT_LE(client->ReceiveBuffer.capacity(), TZzClient::KeptReceiveRoom);
    EXPECT_EQ(client->State(), wsConnected);
}

TEST_F(ZzSerwerTest, ClientThatNeverReadsIsAbortedAtTheBound)
{
    TZzPeer stalled(Port()), other(Port());
    TZzClient* slow = WaitClient(0);
    TZzClient* fine = WaitClient(1);
    ASSERT_NE(fine, nullptr);
    ByteString chunk(1024 * 1024, 'm');
    int sent = 0;
    while (slow->State() == wsConnected && sent < 64) {
        SendPacket(slow, 10, chunk);
        ++sent;
    }
    EXPECT_EQ(slow->State(), wsClosed);
    EXPECT_LT(sent, 64);
    // Sending to the closed client is quiet (before the loop frees it).
    SendPacket(slow, 3, "");
    SendPacket(fine, 3, "");
    EXPECT_EQ(Hex(other.ReadExactly(8)), "03 00 00 00 00 00 00 00");
}

TEST_F(ZzSerwerTest, OpenCloseAndPortRules)
{
    std::string error;
    Serwer->Open(error);  // already active: nothing happens
    EXPECT_EQ(error, "");
    int port = Port();
    try {
        Serwer->SetPort(1234);
        ADD_FAILURE() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Port property can only be modified when proxy is not active");
    }
    EXPECT_EQ(Serwer->GetPort(), 0);

    TZzSerwer second;
    int listening = 0;
    second.OnServerListening = [&](TZzGenericSerwer*) { ++listening; };
    second.SetPort(port);
    second.Open(error);
    EXPECT_EQ(error, "Error 10048 in function Bind\r\nAddress already in use");
    EXPECT_FALSE(second.Active);
    EXPECT_EQ(listening, 0);

    int closedEvents = 0;
    Serwer->OnServerClosed = [&](TZzGenericSerwer*, uint16_t) { ++closedEvents; };
    TZzPeer peer(port);
    ASSERT_NE(WaitClient(0), nullptr);
    Serwer->Close();
    EXPECT_FALSE(Serwer->Active);
    EXPECT_EQ(closedEvents, 1);
    EXPECT_TRUE(peer.WaitClosed());
    second.Open(error);  // the port is free again
    EXPECT_EQ(error, "");
    EXPECT_EQ(listening, 1);
}

TEST_F(ZzSerwerTest, DisconnectOnceAndDestructionWithoutDisconnect)
{
    int disconnects = 0;
    Serwer->OnClientDisconnect = [&](TZzGenericSerwer*, TZzClient*) { ++disconnects; };
    TZzPeer a(Port()), b(Port()), c(Port());
    ASSERT_NE(WaitClient(2), nullptr);
    TZzClient* second = Serwer->Client(1);
    b.Close();
    ASSERT_TRUE(RunUntil([&] { return Serwer->ClientCount() == 2; }));
    EXPECT_EQ(disconnects, 1);
    EXPECT_NE(Serwer->Client(0), second);
    EXPECT_NE(Serwer->Client(1), second);
    Serwer.reset();
    EXPECT_EQ(disconnects, 1);
    EXPECT_TRUE(a.WaitClosed());
    EXPECT_TRUE(c.WaitClosed());
}

TEST_F(ZzSerwerTest, ARaisingHandlerLeavesTheRestOfItsReadForLaterInOrder)
{
    // The packets of a read are handled where they were read; what the raising one leaves
    // behind it must still come, once, in order, with the next read's bytes after it.
    bool first = true;
    Serwer->OnClientCommand = [&](TZzClient* c, int32_t type, ByteView payload) {
        Commands.push_back({c, type, ByteString(payload)});
        if (std::exchange(first, false))
            throw std::runtime_error("handler failed");
    };
    TZzPeer peer(Port());
    TZzClient* client = WaitClient(0);
    ASSERT_NE(client, nullptr);
    ByteString third = TZzPeer::Frame(9, "xyz");
    peer.Send(TZzPeer::Frame(2, U32(2)) + TZzPeer::Frame(8, "") + third.substr(0, 4));
    ASSERT_TRUE(RunUntil([&] { return !Commands.empty(); }));
    RunFor(20);
    peer.Send(third.substr(4));
    ASSERT_TRUE(RunUntil([&] { return Commands.size() == 3; }));
    RunFor(20);
    ASSERT_EQ(Commands.size(), 3u);
    EXPECT_EQ(Commands[0].Type, 2);
    EXPECT_EQ(Commands[1].Type, 8);
    EXPECT_EQ(Commands[2].Type, 9);
    EXPECT_EQ(Commands[2].Payload, "xyz");
    EXPECT_TRUE(client->ReceiveBuffer.empty());
    EXPECT_EQ(client->State(), wsConnected);
}

TEST_F(ZzSerwerTest, AConnectionWhosePacketsWereAllHandledHoldsNoReceiveBuffer)
{
    TZzPeer peer(Port());
    TZzClient* client = WaitClient(0);
    ASSERT_NE(client, nullptr);
    // Whole packets, then a packet in two pieces: nothing is kept once all are handled.
    peer.Send(TZzPeer::Frame(2, U32(2) + ByteString(40, 'd')) + TZzPeer::Frame(8, ByteString(40, 'e')));
    ASSERT_TRUE(RunUntil([&] { return Commands.size() == 2; }));
    ByteString last = TZzPeer::Frame(9, ByteString(40, 'f'));
    peer.Send(last.substr(0, 20));
    RunFor(30);
    peer.Send(last.substr(20));
    ASSERT_TRUE(RunUntil([&] { return Commands.size() == 3; }));
    RunFor(20);
    EXPECT_EQ(Commands[2].Payload, ByteString(40, 'f'));
    EXPECT_TRUE(client->ReceiveBuffer.empty());
    EXPECT_LE(client->ReceiveBuffer.capacity(), ByteString().capacity());
}
