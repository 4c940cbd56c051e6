#include "protocol/ProtocolFixture.h"

namespace {

ByteString Message(uint32_t to, uint32_t seq, ByteView text)
{
    ByteString p = U32(to) + U32(seq) + "\xAA\xBB\xCC\xDD";
    p.append(text);
    return p;
}

}  // namespace

TEST_F(ProtocolTest, RelayedMessageAndItsAck)
{
    TZzPeer& five = Connect(5);
    TZzPeer& seven = Connect(7);
    five.SendPacket(cpSendMessage, Message(7, 9, ByteString("abc\0after", 9)));
    TPacket ack = five.ReadPacket();
    EXPECT_EQ(ack.Type, 5u);
    EXPECT_EQ(Hex(ack.Payload), "02 00 00 00 05 00 00 00 09 00 00 00");
    TPacket msg = seven.ReadPacket();
    EXPECT_EQ(msg.Type, 10u);
    ASSERT_EQ(msg.Payload.size(), 20u);
    EXPECT_EQ(msg.Payload, SystemMessageHeader(5) + ByteString("abc\0", 4));
    ASSERT_TRUE(LogLines(7));
    EXPECT_EQ(Log.Lines[6], Cp("5>wypowiedź dla 7 o treści \"abc\""));
    EXPECT_TRUE(Silent(five));
}

TEST_F(ProtocolTest, AbsentRecipientGetsAckOneAndTheNotice)
{
    TZzPeer& five = Connect(5);
    five.SendPacket(cpSendMessage, Message(7, 9, ByteString("abc\0", 4)));
    TPacket ack = five.ReadPacket();
    EXPECT_EQ(Hex(ack.Payload), "01 00 00 00 05 00 00 00 09 00 00 00");
    TPacket notice = five.ReadPacket();
    EXPECT_EQ(notice.Type, 10u);
    ASSERT_EQ(notice.Payload.size(), 84u);
    EXPECT_EQ(notice.Payload, SystemMessageHeader(0) +
                                  Cp("Użytkownik gdzieś se poszedł. Wiadomość nie zostanie mu przekazana.") +
                                  ByteString(1, '\0'));
}

TEST_F(ProtocolTest, FirstConnectionWinsAndOneselfIsAValidRecipient)
{
    TZzPeer& five = Connect(5);
    TZzPeer& first7 = Connect(7);
    TZzPeer& second7 = Connect(7);
    five.SendPacket(cpSendMessage, Message(7, 1, ByteString("x\0", 2)));
    EXPECT_EQ(five.ReadPacket().Type, spMessageAck);
    EXPECT_EQ(first7.ReadPacket().Type, spMessage);
    EXPECT_TRUE(Silent(second7));
    Expected.Random(MaxDraw);

    five.SendPacket(cpSendMessage, Message(5, 2, ByteString("me\0", 3)));
    EXPECT_EQ(Hex(five.ReadPacket().Payload), "02 00 00 00 05 00 00 00 02 00 00 00");
    EXPECT_EQ(five.ReadPacket().Payload, SystemMessageHeader(5) + ByteString("me\0", 3));
}

TEST_F(ProtocolTest, MessageToUserZeroReachesTheFirstNotLoggedIn)
{
    TZzPeer& five = Connect(5);
    five.SendPacket(cpSendMessage, Message(0, 3, ByteString("?\0", 2)));
    EXPECT_EQ(BytesToUInt32(five.ReadPacket().Payload), ackRecipientAbsent);
    five.ReadPacket();
    Expected.Random(MaxDraw);  // the notice's sequence number
    TZzPeer& anon = Connect();
    five.SendPacket(cpSendMessage, Message(0, 4, ByteString("!\0", 2)));
    EXPECT_EQ(BytesToUInt32(five.ReadPacket().Payload), ackRelayed);
    EXPECT_EQ(anon.ReadPacket().Type, spMessage);
}

TEST_F(ProtocolTest, TextLengthRules)
{
    TZzPeer& five = Connect(5);
    TZzPeer& seven = Connect(7);
    // Exactly 12 bytes: an empty text.
    five.SendPacket(cpSendMessage, Message(7, 1, ""));
    five.ReadPacket();
    EXPECT_EQ(seven.ReadPacket().Payload.size(), 17u);
    // 1999 bytes and a NUL: whole.
    ByteString longest(1999, 't');
    five.SendPacket(cpSendMessage, Message(7, 2, longest + ByteString(1, '\0')));
    five.ReadPacket();
    TPacket whole = seven.ReadPacket();
    EXPECT_EQ(whole.Payload.size(), 16u + 1999u + 1u);
    EXPECT_EQ(whole.Payload.substr(16, 1999), longest);
    // 2000 bytes without a NUL among them: empty.
    five.SendPacket(cpSendMessage, Message(7, 3, ByteString(2000, 't') + ByteString(1, '\0')));
    five.ReadPacket();
    EXPECT_EQ(seven.ReadPacket().Payload.size(), 17u);
    // No NUL at all: empty too; a short payload reads missing fields as zero.
    five.SendPacket(cpSendMessage, Message(7, 4, "abc"));
    five.ReadPacket();
    EXPECT_EQ(seven.ReadPacket().Payload.size(), 17u);
    five.SendPacket(cpSendMessage, "\x07");
    EXPECT_EQ(Hex(five.ReadPacket().Payload), "02 00 00 00 05 00 00 00 00 00 00 00");
    EXPECT_EQ(seven.ReadPacket().Payload.size(), 17u);
}

TEST_F(ProtocolTest, RecipientWhoseConnectionHasJustClosedIsAbsent)
{
    TZzPeer& five = Connect(5);
    Connect(7);
    ClientOf(1)->Close();  // still listed until the loop frees it
    Handler.ZZSerwerClientCommand(ClientOf(0), cpSendMessage, Message(7, 9, ByteString("x\0", 2)));
    EXPECT_EQ(Hex(five.ReadPacket().Payload), "01 00 00 00 05 00 00 00 09 00 00 00");
    EXPECT_EQ(five.ReadPacket().Payload.size(), 84u);
}
