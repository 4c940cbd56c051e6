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

TEST_F(ProtocolTest, RequestsAfterTheConnectionClosedCostNothingMore)
{
    constexpr int Readers = 4;
    std::vector<TZzPeer*> big;
    for (int i = 0; i < Readers; ++i)
        big.push_back(&Connect(50 + i));
    TZzPeer& a = Connect(7);
    TZzPeer& b = Connect(8);
    for (TZzPeer* p : big) {
        ByteString piece(1 + 1000 * 1000, 'u');
        piece[0] = static_cast<char>(ulBegin);
        p->SendPacket(cpUserList, piece);
        piece[0] = static_cast<char>(ulMore);
        for (int i = 0; i < 3; ++i)
            p->SendPacket(cpUserList, piece);
    }
    ASSERT_TRUE(LogLines(3 * (Readers + 2) + 4 * Readers));
    // A logout closes the connection, and the rest of the same read is still handled (so is
    // that of a client aborted for not reading): requests for the 4 MB list must not have
    // their replies built any more, each a copy of the list while everybody else waits.
    ByteString burst = TZzPeer::Frame(cpNewStatus, U32(stLogout));
    for (int i = 0; i < 1800; ++i)
        burst += TZzPeer::Frame(cpUserList, ByteString(1, ulGet));
    int64_t start = MonotonicMs();
    for (TZzPeer* p : big)
        p->Send(burst);
    a.SendPacket(cpSendMessage, U32(8) + U32(1) + U32(4) + ByteString("hi", 3));
    auto arrives = [](TZzPeer& p, uint32_t type) {  // past the logouts' status changes
        for (TPacket packet = p.ReadPacket(); packet.Valid; packet = p.ReadPacket())
            if (packet.Type == type)
                return true;
        return false;
    };
    EXPECT_TRUE(arrives(a, spMessageAck));
    EXPECT_TRUE(arrives(b, spMessage));
    EXPECT_LT(MonotonicMs() - start, 300);
    for (TZzPeer* p : big)
        EXPECT_TRUE(p->WaitClosed());
}

TEST_F(ProtocolTest, StoredUserListsHaveATotalBoundAndAClientPastItIsTold)
{
    Serwer.UserListLimit = 1024 * 1024;  // scaled down
    TZzPeer& five = Connect(5);
    TZzPeer& six = Connect(6);
    TZzPeer& seven = Connect(7);
    auto list = [](uint8_t subtype, size_t size, char fill) {
        return ByteString(1, static_cast<char>(subtype)) + ByteString(size, fill);
    };
    five.SendPacket(cpUserList, list(ulBegin, 400 * 1024, 'a'));
    six.SendPacket(cpUserList, list(ulBegin, 400 * 1024, 'b'));
    ASSERT_TRUE(LogLines(3 * 3 + 2));
    // The third list does not fit beside them: the upload is refused whole, and the client is
    // told so as the server tells it other things, by a message from the system.
    seven.SendPacket(cpUserList, list(ulBegin, 100 * 1024, 'c'));
    seven.SendPacket(cpUserList, list(ulMore, 400 * 1024, 'c'));
    TPacket notice = seven.ReadPacket();
    ASSERT_EQ(notice.Type, spMessage);
    ByteString text = Cp("Serwer nie ma miejsca na listę użytkowników. Lista nie została zapisana.");
    EXPECT_EQ(notice.Payload, SystemMessageHeader(SystemSender) + text + ByteString(1, '\0'));
    // The rest of that upload is not kept (a list with a piece missing would be wrong), and
    // the next request is answered as usual, with what is stored: nothing.
    seven.SendPacket(cpUserList, list(ulMore, 10, 'c'));
    seven.SendPacket(cpUserList, ByteString(1, ulGet));
    EXPECT_EQ(Hex(seven.ReadPacket().Payload), "06");
    EXPECT_TRUE(Silent(seven));
    // Each request is logged as always.
    ASSERT_TRUE(LogLines(3 * 3 + 2 + 4));
    EXPECT_EQ(Log.Lines.back(), Cp("7>pobranie listy użytkowników"));
    // Nothing else is lost: the lists that fit are whole.
    five.SendPacket(cpUserList, ByteString(1, ulGet));
    EXPECT_EQ(five.ReadPacket().Payload, ByteString(1, ulReplyGet) + ByteString(400 * 1024, 'a'));
    six.SendPacket(cpUserList, ByteString(1, ulGet));
    EXPECT_EQ(six.ReadPacket().Payload, ByteString(1, ulReplyGet) + ByteString(400 * 1024, 'b'));

    // Room comes back with a connection that goes: the next upload is stored, without a word.
    five.Close();
    ASSERT_TRUE(RunUntil([&] { return Serwer.ClientCount() == 2; }));
    seven.SendPacket(cpUserList, list(ulBegin, 300 * 1024, 'd'));
    seven.SendPacket(cpUserList, list(ulMore, 100 * 1024, 'e'));
    seven.SendPacket(cpUserList, ByteString(1, ulGet));
    TPacket reply = seven.ReadPacket();
    EXPECT_EQ(reply.Type, spUserListReply);
    EXPECT_EQ(reply.Payload, ByteString(1, ulReplyGet) + ByteString(300 * 1024, 'd') + ByteString(100 * 1024, 'e'));
}
