#include "protocol/ProtocolFixture.h"

TEST_F(ProtocolTest, UploadInPiecesAndGetItBack)
{
    TZzPeer& p = Connect(5);
    p.SendPacket(cpUserList, ByteString(1, ulBegin) + "A");
    p.SendPacket(cpUserList, ByteString(1, ulMore) + "B");
    p.SendPacket(cpUserList, ByteString(1, ulGet) + "ignored");
    TPacket reply = p.ReadPacket();
    EXPECT_EQ(reply.Type, 16u);
    EXPECT_EQ(Hex(reply.Payload), "06 41 42");
    ASSERT_TRUE(LogLines(6));
    EXPECT_EQ(Log.Lines[3], Cp("5>rozpoczęcie ustalenia listy użytkowników \"A\""));
    EXPECT_EQ(Log.Lines[4], Cp("5>ustalenie kolejnej porcji listy użytkowników \"B\""));
    EXPECT_EQ(Log.Lines[5], Cp("5>pobranie listy użytkowników"));

    p.SendPacket(cpUserList, ByteString(1, ulBegin) + "C");
    p.SendPacket(cpUserList, ByteString(1, ulGet));
    EXPECT_EQ(Hex(p.ReadPacket().Payload), "06 43");
}

TEST_F(ProtocolTest, FreshConnectionGetsTheMarkerAlone)
{
    TZzPeer& p = Connect(5);
    p.SendPacket(cpUserList, ByteString(1, ulGet));
    EXPECT_EQ(Hex(p.ReadPacket().Payload), "06");
}

TEST_F(ProtocolTest, EmptyPayloadLeavesNoTraceAndUnknownSubtypeIsOnlyLogged)
{
    TZzPeer& p = Connect(5);
    p.SendPacket(cpUserList, "");
    p.SendPacket(cpUserList, "\x03zz");
    ASSERT_TRUE(LogLines(4));
    RunFor(30);
    ASSERT_EQ(Log.Lines.size(), 4u);
    EXPECT_EQ(Log.Lines[3], Cp("5>żądanie nieznanego typu do listy użytkowników"));
    EXPECT_TRUE(Silent(p));
}

TEST_F(ProtocolTest, UserListBeyondItsBoundDisconnectsOnlyThatClient)
{
    TZzPeer& big = Connect(5);
    TZzPeer& other = Connect(7);
    ByteString piece(1 + 512 * 1024, 'u');
    piece[0] = static_cast<char>(ulBegin);
    big.SendPacket(cpUserList, piece);
    piece[0] = static_cast<char>(ulMore);
    for (int i = 0; i < 9; ++i)
        big.SendPacket(cpUserList, piece);
    EXPECT_TRUE(big.WaitClosed());
    other.SendPacket(cpUserList, ByteString(1, ulGet));
    EXPECT_EQ(Hex(other.ReadPacket().Payload), "06");
}
