// Connections that do not log in in time are closed; logged-in ones may stay quiet for ever.
#include "protocol/ProtocolFixture.h"

namespace {

struct LoginTimeoutTest : ProtocolTest {
    // Waits for the server to end the peer's connection; the milliseconds it took, -1 if it did not.
    static int64_t MsUntilClosed(TZzPeer& p, int64_t since, int timeoutMs = 5000)
    {
        return p.WaitClosed(timeoutMs) ? MonotonicMs() - since : -1;
    }
};

}  // namespace

TEST_F(LoginTimeoutTest, SilentOrChattyWithoutLoginIsClosedLoggedInIsKept)
{
    Serwer.SetLoginTimeoutMs(300);
    int64_t start = MonotonicMs();
    TZzPeer& silent = Connect();
    TZzPeer& chatty = Connect();         // sends everything but a login
    TZzPeer& loggedIn = Connect(5);
    TZzPeer& loggedInAsZero = Connect(0);  // a login all the same
    for (int i = 0; i < 3; ++i) {
        chatty.SendPacket(cpPing, "");
        RunFor(50);
    }
    int64_t silentAfter = MsUntilClosed(silent, start);
    EXPECT_GE(silentAfter, 250);
    EXPECT_LT(silentAfter, 3000);
    EXPECT_GE(MsUntilClosed(chatty, start), 250);

    // Well past the deadline the logged-in ones are still served.
    RunFor(400);
    ASSERT_TRUE(RunUntil([&] { return Serwer.ClientCount() == 2; }));
    loggedIn.SendPacket(cpSendMessage, U32(0) + U32(1) + U32(0) + ByteString("hi\0", 3));
    EXPECT_EQ(BytesToUInt32(loggedIn.ReadPacket().Payload), ackRelayed);
    EXPECT_EQ(loggedInAsZero.ReadPacket().Type, spMessage);
    EXPECT_EQ(ClientOf(0)->State(), wsConnected);
    EXPECT_EQ(ClientOf(1)->State(), wsConnected);
}

TEST_F(LoginTimeoutTest, EachConnectionHasItsOwnDeadlineAndLoginInTimeSavesIt)
{
    Serwer.SetLoginTimeoutMs(400);
    int64_t start = MonotonicMs();
    TZzPeer& early = Connect();
    RunFor(300);
    TZzPeer& late = Connect();
    TZzPeer& rescued = Connect();
    TZzPeer& gone = Connect();
    gone.Close();  // leaves before its deadline: freed, not swept
    ASSERT_TRUE(RunUntil([&] { return Serwer.ClientCount() == 3; }));

    EXPECT_GE(MsUntilClosed(early, start), 350);
    // The sweep that closed the early one stopped at the late ones, whose time has not come.
    RunFor(50);
    EXPECT_EQ(Serwer.ClientCount(), 2);
    EXPECT_EQ(ClientOf(0)->State(), wsConnected);
    rescued.SendPacket(cpLogin, U32(9));
    EXPECT_EQ(rescued.ReadPacket().Type, spLoginOk);

    EXPECT_GE(MsUntilClosed(late, start), 650);
    RunFor(300);
    ASSERT_EQ(Serwer.ClientCount(), 1);
    EXPECT_EQ(ClientOf(0)->UserNumber(), 9u);
    EXPECT_EQ(ClientOf(0)->State(), wsConnected);
}

TEST_F(LoginTimeoutTest, ZeroMeansNoLimit)
{
    Serwer.SetLoginTimeoutMs(0);
    TZzPeer& p = Connect();
    RunFor(500);
    EXPECT_EQ(Serwer.ClientCount(), 1);
    EXPECT_EQ(ClientOf(0)->State(), wsConnected);
    // Turned on later, it applies to those already waiting.
    Serwer.SetLoginTimeoutMs(100);
    EXPECT_TRUE(p.WaitClosed(3000));
}

TEST_F(LoginTimeoutTest, DefaultIsOneMinute)
{
    EXPECT_EQ(TZzSerwer().GetLoginTimeoutMs(), 60000);
}
