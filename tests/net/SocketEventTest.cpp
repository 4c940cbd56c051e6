// A socket's event handler, held only while assigned: assigned, tested, called, copied and
// replaced as the std::function it stands for, also by the handler while it runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/WSocket.h"
#include "support/Loopback.h"

TEST(SocketEvent, AssignedTestedCalledAndUnassignedAsAFunction)
{
    TSocketEvent<TSendData> event;
    EXPECT_FALSE(event);
    std::vector<int> calls;
    event = [&](TCustomWSocket*, int n) { calls.push_back(n); };
    ASSERT_TRUE(event);
    event(nullptr, 5);
    // A copy is a handler of its own: replacing one leaves the other.
    TSocketEvent<TSendData> copy = event;
    copy = [&](TCustomWSocket*, int n) { calls.push_back(-n); };
    event(nullptr, 6);
    copy(nullptr, 7);
    EXPECT_EQ(calls, (std::vector<int>{5, 6, -7}));
    // An empty function, like nullptr, leaves it unassigned.
    event = TSendData();
    EXPECT_FALSE(event);
    copy = nullptr;
    EXPECT_FALSE(copy);
}

TEST(SocketEvent, AHandlerReplacingItselfWhileItRunsOnAConnection)
{
    // As the HTTP side does with OnDataSent: the handler sets the one for the next time.
    TWSocket listener;
    listener.SetAddr("127.0.0.1");
    listener.SetPort("0");
    TWSocket conn;
    listener.OnSessionAvailable = [&](TCustomWSocket*, uint16_t) { conn.Dup(listener.Accept()); };
    listener.Listen();
    TPeer peer;
    ASSERT_TRUE(peer.Connect(BoundPort(listener)));
    ASSERT_TRUE(RunUntil([&] { return conn.State() == wsConnected; }));
    RunFor(30);
    std::vector<std::string> seen;
    // The running handler goes on using what it captured after replacing itself, and the
    // second one clears itself: both as a std::function allowed.
    conn.OnDataSent = [&seen, &conn](TCustomWSocket* s, uint16_t) {
        s->OnDataSent = [&seen, &conn](TCustomWSocket*, uint16_t) {
            conn.OnDataSent = nullptr;
            seen.push_back("second");
        };
        seen.push_back("first");
        conn.SendString("b");
    };
    conn.SendString("a");
    EXPECT_EQ(peer.ReadExactly(2, 3000), "ab");
    ASSERT_TRUE(RunUntil([&] { return seen.size() == 2; }));
    conn.SendString("c");
    EXPECT_EQ(peer.ReadExactly(1, 3000), "c");
    RunFor(30);
    EXPECT_EQ(seen, (std::vector<std::string>{"first", "second"}));
    EXPECT_FALSE(conn.OnDataSent);
}
