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
    std::string captured = "second";
    conn.OnDataSent = [&](TCustomWSocket* s, uint16_t) {
        seen.push_back("first");
        s->OnDataSent = [&seen, captured](TCustomWSocket*, uint16_t) { seen.push_back(captured); };
        s->SendString("b");
    };
    conn.SendString("a");
    EXPECT_EQ(peer.ReadExactly(2, 3000), "ab");
    ASSERT_TRUE(RunUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen, (std::vector<std::string>{"first", "second"}));
}
