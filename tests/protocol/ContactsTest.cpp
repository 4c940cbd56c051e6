#include "protocol/ProtocolFixture.h"

namespace {

ByteString Entries(std::initializer_list<uint32_t> users)
{
    ByteString p;
    for (uint32_t u : users)
        p += U32(u) + "\x0F";
    return p;
}

ByteString Entry(uint32_t user, uint8_t status)
{
    return U32(user) + ByteString(1, static_cast<char>(status)) + ByteString(9, '\0');
}

}  // namespace

TEST_F(ProtocolTest, ContactsLastListsConnectedUsersWithTheirRawStatus)
{
    TZzPeer& five = Connect(5);
    TZzPeer& seven = Connect(7);
    seven.SendPacket(cpNewStatus, U32(3));
    ASSERT_TRUE(LogLines(8));
    five.ReadPacket();  // seven's status change
    five.SendPacket(cpContactsLast, Entries({7, 9}));
    TPacket reply = five.ReadPacket();
    EXPECT_EQ(reply.Type, 17u);
    EXPECT_EQ(Hex(reply.Payload), "07 00 00 00 03 00 00 00 00 00 00 00 00 00");
    ASSERT_TRUE(LogLines(9));
    EXPECT_EQ(Log.Lines[8], Cp("5>ostatnie pozycje listy kontaktów"));
}

TEST_F(ProtocolTest, PiecesAccumulateUntilTheNextLogin)
{
    TZzPeer& five = Connect(5);
    Connect(7);
    Connect(8);
    five.SendPacket(cpContactsMore, Entries({7}));
    ASSERT_TRUE(LogLines(10));
    EXPECT_EQ(Log.Lines[9], Cp("5>kolejne pozycje listy kontaktów"));
    EXPECT_TRUE(Silent(five));
    five.SendPacket(cpContactsLast, Entries({8}));
    EXPECT_EQ(five.ReadPacket().Payload, Entry(7, 0) + Entry(8, 0));
    // Sent again, the list comes back with the first one in front.
    five.SendPacket(cpContactsLast, Entries({5}));
    EXPECT_EQ(five.ReadPacket().Payload, Entry(7, 0) + Entry(8, 0) + Entry(5, 0));
    five.SendPacket(cpLogin, U32(5));
    five.ReadPacket();
    five.SendPacket(cpContactsLast, "");
    TPacket empty = five.ReadPacket();
    EXPECT_EQ(empty.Type, 17u);
    EXPECT_EQ(empty.Payload, "");
}

TEST_F(ProtocolTest, UserConnectedTwiceGivesOneEntryFromTheFirst)
{
    TZzPeer& five = Connect(5);
    TZzPeer& first = Connect(7);
    Connect(7);
    first.SendPacket(cpNewStatus, U32(0x8014));
    ASSERT_TRUE(LogLines(11));
    five.ReadPacket();
    five.SendPacket(cpContactsLast, Entries({7}));
    EXPECT_EQ(five.ReadPacket().Payload, Entry(7, 20));
}

TEST_F(ProtocolTest, EmptyListAndRemoveContactOnlyLog)
{
    TZzPeer& five = Connect(5);
    five.SendPacket(cpContactsEmpty, "ignored");
    five.SendPacket(cpRemoveContact, U32(7));
    ASSERT_TRUE(LogLines(5));
    EXPECT_EQ(Log.Lines[3], Cp("5>nie mam nikogo na liście kontaktów"));
    EXPECT_EQ(Log.Lines[4], Cp(">usunięcie śledzenia użytkownika"));
    EXPECT_TRUE(Silent(five));
}

TEST_F(ProtocolTest, TruncatedLastEntryCountsMissingBytesAsZero)
{
    TZzPeer& seven = Connect(7);
    seven.SendPacket(cpContactsLast, "\x07\x00");
    EXPECT_EQ(seven.ReadPacket().Payload, Entry(7, 0));
}

TEST_F(ProtocolTest, ContactReplyBeyondItsBoundDisconnects)
{
    TZzPeer& five = Connect(5);
    TZzPeer& other = Connect(7);
    // Listing oneself over and over: 14 bytes of reply for every 5 bytes sent.
    ByteString piece;
    for (int i = 0; i < 50000; ++i)
        piece += U32(5) + "x";
    five.SendPacket(cpContactsMore, piece);
    five.SendPacket(cpContactsMore, piece);
    EXPECT_TRUE(five.WaitClosed());
    other.SendPacket(cpPing, "");
    ASSERT_TRUE(RunUntil([&] { return Log.Lines.back() == Cp("7>ciągle jestem"); }));
}
