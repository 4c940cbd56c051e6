// What a client sent before its connection ended is handled, in order, before the one
// disconnect: behind a logout in the same write, and before the peer's close, however many
// turns it takes.
#include <algorithm>

#include "protocol/ProtocolFixture.h"

namespace {

ByteString Message(uint32_t to, const ByteString& text)
{
    return TZzPeer::Frame(cpSendMessage, U32(to) + U32(1) + U32(0) + text + ByteString(1, '\0'));
}

ByteString Pings(int count)
{
    ByteString pings;
    for (int i = 0; i < count; ++i)
        pings += TZzPeer::Frame(cpPing, {});
    return pings;
}

}  // namespace

struct ConnectionEndTest : ProtocolTest {
    std::vector<size_t> DisconnectedAtLine;  // the log's length at each disconnect

    void SetUp() override
    {
        ProtocolTest::SetUp();
        Serwer.OnClientDisconnect = [this](TZzGenericSerwer*, TZzClient*) { DisconnectedAtLine.push_back(Log.Lines.size()); };
    }
    size_t Count(const char* utf8) { return static_cast<size_t>(std::count(Log.Lines.begin(), Log.Lines.end(), Cp(utf8))); }
    // A message as the recipient gets it; its sequence number is the next draw.
    ByteString Relayed(uint32_t from, const ByteString& text)
    {
        return U32(from) + U32(Expected.Random(MaxDraw)) + U32(0) + U32(4) + text + ByteString(1, '\0');
    }
};

TEST_F(ConnectionEndTest, WhatFollowsALogoutInTheSameWriteIsHandledButAnnouncesNobody)
{
    TZzPeer& five = Connect(5);
    TZzPeer& seven = Connect(7);
    five.Send(TZzPeer::Frame(cpNewStatus, U32(stLogout)) + TZzPeer::Frame(cpNewStatus, U32(2)) + Message(7, "hej") +
              TZzPeer::Frame(cpPing, {}) + TZzPeer::Frame(cpPublicDirectory, {}));
    TPacket gone = seven.ReadPacket();
    ASSERT_EQ(gone.Type, spStatusChange);
    EXPECT_EQ(Hex(gone.Payload), "05 00 00 00 01 00 00 00 00 00 00 00 00 00");
    // The message written before the user left still reaches its recipient; nobody is told
    // that the user who has gone is back.
    TPacket message = seven.ReadPacket();
    EXPECT_EQ(message.Type, spMessage);
    EXPECT_EQ(message.Payload, Relayed(5, "hej"));
    EXPECT_TRUE(Silent(seven));
    EXPECT_TRUE(five.WaitClosed());
    ASSERT_TRUE(RunUntil([&] { return DisconnectedAtLine.size() == 1; }));
    ASSERT_EQ(Log.Lines.size(), 13u);
    EXPECT_EQ(Log.Lines[6], Cp("5>wyloguj mnie (paczka o długości 4)"));
    EXPECT_EQ(Log.Lines[7], Cp("5>użytkownik zmienił status na 1 \"{01}{00}{00}{00}\" (paczka o długości 4)"));
    EXPECT_EQ(Log.Lines[8], Cp("5>jestem dostępny (paczka o długości 4)"));
    EXPECT_EQ(Log.Lines[9], Cp("5>użytkownik zmienił status na 2 \"{02}{00}{00}{00}\" (paczka o długości 4)"));
    EXPECT_EQ(Log.Lines[10], Cp("5>wypowiedź dla 7 o treści \"hej\""));
    EXPECT_EQ(Log.Lines[11], Cp("5>ciągle jestem"));
    EXPECT_EQ(Log.Lines[12], Cp("5>żądanie do katalogu publicznego"));
    EXPECT_EQ(DisconnectedAtLine[0], 13u);
}

TEST_F(ConnectionEndTest, AStatusChangeOfAClientWhoseConnectionHasClosedIsOnlyLogged)
{
    Connect(5);
    TZzPeer& seven = Connect(7);
    TZzClient* five = ClientOf(0);
    five->Close();  // listed until the loop frees it, as behind a logout
    Handler.ZZSerwerClientCommand(five, cpNewStatus, U32(2) + "jestem");
    // Not kept either: a contact list asked for meanwhile finds the status it had.
    EXPECT_EQ(five->Status, 0u);
    EXPECT_EQ(Log.Lines.back(), Cp("5>użytkownik zmienił status na 2 \"{02}{00}{00}{00}jestem\" (paczka o długości 10)"));
    EXPECT_TRUE(Silent(seven));
}

TEST_F(ConnectionEndTest, AMessageBehindALogoutReachesTheNextConnectionOfTheSameNumber)
{
    TZzPeer& first = Connect(5);
    TZzPeer& second = Connect(5);
    first.Send(TZzPeer::Frame(cpNewStatus, U32(stLogoutAlt)) + Message(5, "do siebie"));
    TPacket message = second.ReadPacket();
    EXPECT_EQ(message.Type, spMessage);
    EXPECT_EQ(message.Payload, Relayed(5, "do siebie"));
    EXPECT_TRUE(first.WaitClosed());
    EXPECT_TRUE(Silent(second));
}

TEST_F(ConnectionEndTest, EverythingBehindALogoutIsHandledAlsoPastTheTurn)
{
    TZzPeer& five = Connect(5);
    TZzPeer& seven = Connect(7);
    ByteString write = TZzPeer::Frame(cpNewStatus, U32(stLogout));
    const int messages = 3 * TZzSerwer::MaxPacketsPerTurn;
    for (int i = 0; i < messages; ++i)
        write += Message(7, "m" + std::to_string(i));
    five.Send(write);
    EXPECT_EQ(seven.ReadPacket().Type, spStatusChange);
    for (int i = 0; i < messages; ++i) {
        TPacket message = seven.ReadPacket();
        ASSERT_EQ(message.Payload, Relayed(5, "m" + std::to_string(i))) << i;
    }
    ASSERT_TRUE(RunUntil([&] { return DisconnectedAtLine.size() == 1; }));
    EXPECT_EQ(Count("5>wypowiedź dla 7 o treści \"m0\""), 1u);
    EXPECT_EQ(DisconnectedAtLine[0], Log.Lines.size());
}

TEST_F(ConnectionEndTest, EveryPacketBeforeThePeersCloseIsHandledBeforeTheDisconnect)
{
    TZzPeer& five = Connect(5);
    TZzPeer& seven = Connect(7);
    // Both the packets and the close are there before the server looks: it sees them together.
    five.Send(Pings(1000) + Message(7, "ostatnia"));
    five.ShutdownWrite();
    ASSERT_TRUE(RunUntil([&] { return DisconnectedAtLine.size() == 1; }));
    EXPECT_EQ(Count("5>ciągle jestem"), 1000u);
    EXPECT_EQ(Log.Lines.back(), Cp("5>wypowiedź dla 7 o treści \"ostatnia\""));
    EXPECT_EQ(DisconnectedAtLine[0], Log.Lines.size());
    // Until then the connection was whole: the sender, which only shut its sending side, got
    // its acknowledgement, and the recipient the message.
    EXPECT_EQ(seven.ReadPacket().Payload, Relayed(5, "ostatnia"));
    TPacket ack = five.ReadPacket();
    EXPECT_EQ(ack.Type, spMessageAck);
    EXPECT_EQ(Hex(ack.Payload), "02 00 00 00 05 00 00 00 01 00 00 00");
    EXPECT_TRUE(five.WaitClosed());
    RunFor(50);
    EXPECT_EQ(DisconnectedAtLine.size(), 1u);
}

TEST_F(ConnectionEndTest, ACloseReportedBeforeTheDataIsReadStillComesLast)
{
    // Some systems report the peer's close while what it sent is still unread; posted here by
    // hand, as a system would deliver it, ahead of the data.
    TZzPeer& five = Connect(5);
    TZzClient* client = ClientOf(0);
    five.Send(Pings(1000));
    five.ShutdownWrite();
    client->PostMessageToSelf(WM_ASYNCSELECT, static_cast<uintptr_t>(client->Handle()), MakeSelectLParam(FD_CLOSE, 0));
    ASSERT_TRUE(RunUntil([&] { return DisconnectedAtLine.size() == 1; }));
    EXPECT_EQ(Count("5>ciągle jestem"), 1000u);
    EXPECT_EQ(DisconnectedAtLine[0], Log.Lines.size());
    RunFor(50);
    EXPECT_EQ(DisconnectedAtLine.size(), 1u);
}
