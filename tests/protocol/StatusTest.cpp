#include "protocol/ProtocolFixture.h"

TEST_F(ProtocolTest, StatusGoesToEveryOtherNumber)
{
    TZzPeer& five = Connect(5);
    TZzPeer& seven = Connect(7);
    TZzPeer& anon = Connect();
    five.SendPacket(cpNewStatus, U32(2));
    for (TZzPeer* p : {&seven, &anon}) {
        TPacket change = p->ReadPacket();
        EXPECT_EQ(change.Type, 15u);
        EXPECT_EQ(Hex(change.Payload), "05 00 00 00 02 00 00 00 00 00 00 00 00 00");
    }
    EXPECT_TRUE(Silent(five));
    ASSERT_TRUE(LogLines(9));
    EXPECT_EQ(Log.Lines[7], Cp("5>jestem dostępny (paczka o długości 4)"));
    EXPECT_EQ(Log.Lines[8], Cp("5>użytkownik zmienił status na 2 \"{02}{00}{00}{00}\" (paczka o długości 4)"));
    EXPECT_EQ(ClientOf(0)->Status, 2u);
}

TEST_F(ProtocolTest, FriendsOnlyHiddenGetsTheNoticeAndIsShownNotAvailable)
{
    TZzPeer& five = Connect(5);
    TZzPeer& seven = Connect(7);
    five.SendPacket(cpNewStatus, U32(0x8014));
    TPacket notice = five.ReadPacket();
    EXPECT_EQ(notice.Type, 10u);
    ASSERT_EQ(notice.Payload.size(), 96u);
    EXPECT_EQ(notice.Payload, SystemMessageHeader(0) +
                                  Cp("Serwer nie rozróżnia przyjaciół od reszty, wyłącz pokazuj status tylko znajomym") +
                                  ByteString(1, '\0'));
    EXPECT_EQ(Hex(seven.ReadPacket().Payload), "05 00 00 00 01 00 00 00 00 00 00 00 00 00");
    ASSERT_TRUE(LogLines(8));
    EXPECT_EQ(Log.Lines[6], Cp("5>ukryj mnie (paczka o długości 4)"));
    // Only bytes below 32 are escaped: 0x80 stays as it is.
    EXPECT_EQ(Log.Lines[7], Cp("5>użytkownik zmienił status na 8014 \"{14}") + "\x80" + Cp("{00}{00}\" (paczka o długości 4)"));
    EXPECT_EQ(ClientOf(0)->Status, 0x8014u);
}

TEST_F(ProtocolTest, HiddenAltWithDescriptionIsShownAs21)
{
    Connect(5);
    TZzPeer& seven = Connect(7);
    Peers[0]->SendPacket(cpNewStatus, U32(22) + "opis\x01");
    TPacket change = seven.ReadPacket();
    EXPECT_EQ(change.Payload, U32(5) + ByteString(1, 21) + ByteString(9, '\0') + "opis\x01");
    ASSERT_TRUE(LogLines(8));
    EXPECT_EQ(Log.Lines[7], Cp("5>użytkownik zmienił status na 16 \"{16}{00}{00}{00}opis{01}\" (paczka o długości 9)"));
}

TEST_F(ProtocolTest, OtherCodesAreStoredAndPassedOnWithTheirLowByte)
{
    TZzPeer& five = Connect(5);
    TZzPeer& seven = Connect(7);
    five.SendPacket(cpNewStatus, U32(0x10002) + "d");
    EXPECT_EQ(Hex(seven.ReadPacket().Payload), "05 00 00 00 02 00 00 00 00 00 00 00 00 00 64");
    ASSERT_TRUE(LogLines(7));
    EXPECT_EQ(Log.Lines[6], Cp("5>użytkownik zmienił status na 10002 \"{02}{00}{01}{00}d\" (paczka o długości 5)"));
    EXPECT_EQ(ClientOf(0)->Status, 0x10002u);
}

TEST_F(ProtocolTest, LogoutClosesTheSenderAndIsStillBroadcast)
{
    TZzPeer& five = Connect(5);
    TZzPeer& seven = Connect(7);
    five.SendPacket(cpNewStatus, U32(21) + "pa");
    EXPECT_EQ(seven.ReadPacket().Payload, U32(5) + ByteString(1, 21) + ByteString(9, '\0') + "pa");
    EXPECT_TRUE(five.WaitClosed());
    ASSERT_TRUE(LogLines(8));
    EXPECT_EQ(Log.Lines[6], Cp("5>wyloguj mnie (paczka o długości 6)"));
    ASSERT_TRUE(RunUntil([&] { return Serwer.ClientCount() == 1; }));
}

TEST_F(ProtocolTest, FriendsOnlyLogoutInItsOrder)
{
    TZzPeer& five = Connect(5);
    TZzPeer& seven = Connect(7);
    std::vector<std::string> order;
    TZzClient* sender = ClientOf(0);
    sender->OnSessionClosed = [&](TCustomWSocket*, uint16_t) { order.push_back("close " + std::to_string(Log.Lines.size())); };
    five.SendPacket(cpNewStatus, U32(0x8001));
    TPacket notice = five.ReadPacket();  // sent before the close
    EXPECT_EQ(notice.Type, 10u);
    EXPECT_EQ(Hex(seven.ReadPacket().Payload), "05 00 00 00 01 00 00 00 00 00 00 00 00 00");
    ASSERT_TRUE(LogLines(8));
    // The close came right after the logout line (line 6) and before the final line.
    EXPECT_EQ(order, (std::vector<std::string>{"close 7"}));
}

TEST_F(ProtocolTest, SameNumberIsSkippedAndNumberZeroReachesTheLoggedIn)
{
    TZzPeer& anon = Connect();
    TZzPeer& twin = Connect(5);
    TZzPeer& five = Connect(5);
    TZzPeer& otherAnon = Connect();
    five.SendPacket(cpNewStatus, U32(3));
    ASSERT_TRUE(LogLines(10));
    EXPECT_TRUE(Silent(twin));
    EXPECT_EQ(anon.ReadPacket().Type, 15u);
    EXPECT_EQ(otherAnon.ReadPacket().Type, 15u);

    anon.SendPacket(cpNewStatus, U32(4));
    EXPECT_EQ(Hex(twin.ReadPacket().Payload), "00 00 00 00 04 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(five.ReadPacket().Type, 15u);
    EXPECT_TRUE(Silent(otherAnon));
}

TEST_F(ProtocolTest, BroadcastPassesAClientThatHasJustClosed)
{
    Connect(5);
    TZzPeer& seven = Connect(7);
    TZzPeer& nine = Connect(9);
    // Seven's connection ends in this round; its object stays listed until the loop frees it.
    ClientOf(1)->Close();
    Handler.ZZSerwerClientCommand(ClientOf(0), cpNewStatus, U32(2));
    EXPECT_EQ(Serwer.ClientCount(), 3);
    EXPECT_EQ(Hex(nine.ReadPacket().Payload), "05 00 00 00 02 00 00 00 00 00 00 00 00 00");
    EXPECT_TRUE(seven.WaitClosed());
    EXPECT_EQ(Log.Lines.back(), Cp("5>użytkownik zmienił status na 2 \"{02}{00}{00}{00}\" (paczka o długości 4)"));
}

TEST_F(ProtocolTest, EscapeControlBytes)
{
    EXPECT_EQ(TZzCommandHandler::EscapeControlBytes(ByteString("\x00\x1F \xB9", 4)), "{00}{1F} \xB9");
    EXPECT_EQ(TZzCommandHandler::EscapeControlBytes(""), "");
}
