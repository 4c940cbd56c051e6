// The listener on Windows: accepts that fail as the system's do (made so by the socket calls'
// test seam, SocketAcceptFault) leave it accepting, and its port is its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/ServerFixture.h"

namespace {

struct ListenerTest : ServerTest {
    std::vector<std::string> Failures;

    void SetUp() override
    {
        ServerTest::SetUp();
        Server->Banner.clear();
        // As both servers of the program do: a failed accept does not stop the listener.
        Server->OnBgException = [this](TCustomWSocket*, const std::exception& e, bool& canClose) {
            Failures.push_back(e.what());
            canClose = false;
        };
    }
    void TearDown() override { SocketAcceptFault() = {}; }
    void FailAccepts(int code, int count) { SocketAcceptFault() = {code, count}; }
    // Adopted clients, each counted once it is connected.
    int Connected()
    {
        int n = 0;
        for (int i = 0; i < Server->ClientCount(); ++i)
            n += Server->Client(i)->State() == wsConnected ? 1 : 0;
        return n;
    }
};

}  // namespace

TEST_F(ListenerTest, AcceptFailingForWantOfResourcesIsTriedAgainUntilItSucceeds)
{
    Listen();
    // 10022 is what Wine gives with no descriptor left; the connection stays in the queue.
    FailAccepts(WSAEINVAL, 1);
    TPeer a(Port());
    ASSERT_TRUE(RunUntil([&] { return Connected() == 1; }, 10000));
    ASSERT_EQ(Failures.size(), 1u);
    EXPECT_EQ(Failures[0], "Error 10022 in function Accept\r\nInvalid argument");
    TPeer b(Port());
    EXPECT_TRUE(RunUntil([&] { return Connected() == 2; }, 10000));

    FailAccepts(WSAENOBUFS, 3);
    TPeer c(Port());
    ASSERT_TRUE(RunUntil([&] { return Connected() == 3; }, 10000));
    EXPECT_EQ(Failures.size(), 4u);
    EXPECT_EQ(Failures.back(), "Error 10055 in function Accept\r\nNo buffer space available");
    EXPECT_EQ(Server->State(), wsListening);
    EXPECT_EQ(Disconnects, 0);  // the clients made for the failed accepts never connected
}

TEST_F(ListenerTest, AResetWaitingConnectionFailsAloneAndTheNextIsTaken)
{
    Listen();
    FailAccepts(WSAECONNRESET, 1);
    TPeer a(Port()), b(Port());
    ASSERT_TRUE(RunUntil([&] { return Connected() == 1; }, 10000));
    EXPECT_EQ(Server->State(), wsListening);  // the listening socket was not dropped
    ASSERT_EQ(Failures.size(), 1u);
    EXPECT_EQ(Failures[0], "Error 10054 in function Accept\r\nConnection reset by peer");
    EXPECT_TRUE(a.WaitClosed());  // the connection that failed is gone; b was taken
    TPeer c(Port());
    EXPECT_TRUE(RunUntil([&] { return Connected() == 2; }, 10000));
    EXPECT_EQ(Server->ClientCount(), 2);
}

TEST_F(ListenerTest, AnAbortedWaitingConnectionIsSkippedForTheNext)
{
    Listen();
    FailAccepts(WSAECONNABORTED, 1);
    TPeer a(Port()), b(Port());
    ASSERT_TRUE(RunUntil([&] { return Connected() == 1; }, 10000));
    EXPECT_TRUE(a.WaitClosed());
    TPeer c(Port());
    EXPECT_TRUE(RunUntil([&] { return Connected() == 2; }, 10000));
    EXPECT_EQ(Failures.size(), 1u);
    EXPECT_EQ(Server->State(), wsListening);
}

TEST_F(ListenerTest, TheListeningPortIsTakenExclusively)
{
    Server->SetAddr("0.0.0.0");
    Listen();
    int exclusive = 0;
    int len = sizeof exclusive;
    ASSERT_EQ(getsockopt(Server->Handle(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<char*>(&exclusive), &len), 0);
    EXPECT_EQ(exclusive, 1);
    // Another program that asks to share the port gets it on no address of ours.
    for (const char* address : {"0.0.0.0", "127.0.0.1"}) {
        TSocket other = SocketOpen(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        ASSERT_NE(other, INVALID_SOCKET);
        SocketSetOption(other, SOL_SOCKET, SO_REUSEADDR, 1);
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_port = htons(static_cast<u_short>(Port()));
        inet_pton(AF_INET, address, &sin.sin_addr);
        EXPECT_NE(::bind(other, reinterpret_cast<sockaddr*>(&sin), sizeof sin), 0) << address;
        EXPECT_EQ(WSAGetLastError(), WSAEACCES) << address;
        SocketClose(other);
    }
    // And the listener still serves.
    TPeer a(Port());
    EXPECT_TRUE(RunUntil([&] { return Connected() == 1; }));
}
