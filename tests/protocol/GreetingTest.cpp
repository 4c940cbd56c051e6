#include "protocol/ProtocolFixture.h"

TEST_F(ProtocolTest, GreetingIsTheOnlyPacketBeforeTheClientSpeaks)
{
    TZzPeer& p = Connect();
    EXPECT_TRUE(Silent(p));
    ASSERT_EQ(Log.Lines.size(), 1u);
    EXPECT_EQ(Log.Lines[0], ">powitanie");
}

TEST_F(ProtocolTest, LoginIsAnsweredAndLogged)
{
    TZzPeer& p = Connect();
    p.SendPacket(cpLogin, U32(5) + "password ignored");
    TPacket ok = p.ReadPacket();
    EXPECT_EQ(ok.Type, 3u);
    EXPECT_EQ(ok.Payload, "");
    ASSERT_TRUE(LogLines(3));
    EXPECT_EQ(Log.Lines[1], Cp(">logowanie użytkownika 5"));
    EXPECT_EQ(Log.Lines[2], Cp("<użytkownik zalogowany"));
    EXPECT_EQ(ClientOf(0)->UserNumber(), 5u);
    EXPECT_EQ(ClientOf(0)->Status, 0u);
}

TEST_F(ProtocolTest, SecondLoginReplacesTheNumberAndEmptiesTheContactReplyOnly)
{
    TZzPeer& p = Connect(5);
    TZzClient* c = ClientOf(0);
    c->ContactsReply = "old";
    c->UserListData = "kept";
    p.SendPacket(cpLogin, U32(4294967295u));
    EXPECT_EQ(p.ReadPacket().Type, spLoginOk);
    EXPECT_EQ(c->UserNumber(), 4294967295u);
    EXPECT_EQ(c->ContactsReply, "");
    EXPECT_EQ(c->UserListData, "kept");
    ASSERT_TRUE(LogLines(5));
    EXPECT_EQ(Log.Lines[3], Cp(">logowanie użytkownika -1"));
}

TEST_F(ProtocolTest, ShortLoginCountsMissingBytesAsZero)
{
    TZzPeer& p = Connect();
    p.SendPacket(cpLogin, "\x07");
    EXPECT_EQ(p.ReadPacket().Type, spLoginOk);
    EXPECT_EQ(ClientOf(0)->UserNumber(), 7u);
}

TEST_F(ProtocolTest, TwoConnectionsMayShareOneUserNumber)
{
    TZzPeer& a = Connect(5);
    TZzPeer& b = Connect(5);
    EXPECT_EQ(Serwer.ClientCount(), 2);
    EXPECT_EQ(ClientOf(0)->State(), wsConnected);
    EXPECT_EQ(ClientOf(1)->State(), wsConnected);
    EXPECT_TRUE(Silent(a));
    EXPECT_TRUE(Silent(b));
}

TEST_F(ProtocolTest, ClosingAConnectionTellsNobody)
{
    TZzPeer& a = Connect(5);
    TZzPeer& b = Connect(7);
    size_t lines = Log.Lines.size();
    a.Close();
    ASSERT_TRUE(RunUntil([&] { return Serwer.ClientCount() == 1; }));
    EXPECT_TRUE(Silent(b));
    EXPECT_EQ(Log.Lines.size(), lines);
}

TEST_F(ProtocolTest, OtherTypesArePingAndDirectoryAreOnlyLogged)
{
    TZzPeer& p = Connect(5);
    p.SendPacket(9, "abc");
    p.SendPacket(0xFFFFFFFFu, "");
    p.SendPacket(0, "");
    p.SendPacket(17, "x");
    p.SendPacket(cpPing, "");
    p.SendPacket(cpPublicDirectory, "q");
    ASSERT_TRUE(LogLines(9));
    EXPECT_EQ(Log.Lines[3], Cp("<żądanie 9 abc"));
    EXPECT_EQ(Log.Lines[4], Cp("<żądanie -1 "));
    EXPECT_EQ(Log.Lines[5], Cp("<żądanie 0 "));
    EXPECT_EQ(Log.Lines[6], Cp("<żądanie 17 x"));
    EXPECT_EQ(Log.Lines[7], Cp("5>ciągle jestem"));
    EXPECT_EQ(Log.Lines[8], Cp("5>żądanie do katalogu publicznego"));
    EXPECT_TRUE(Silent(p));
    EXPECT_EQ(ClientOf(0)->State(), wsConnected);
}
