// The round's sends made together (one system call for all the flushed connections where the
// system allows it): every connection still gets its bytes once and in order, failures come
// back to the connection they belong to, and whatever a handler does to another connection
// between the sends and their outcomes loses and repeats nothing. The same tests run with each
// way of sending (ctest runs this program again with TZZ_EVENT_BACKEND=epoll).
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/WSocket.h"
#include "support/Loopback.h"

namespace {

// Accepted connections of one listener, each with the raw peer that connected it.
struct TConnections {
    TWSocket Listener;
    std::vector<std::unique_ptr<TWSocket>> Conns;
    std::vector<std::unique_ptr<TPeer>> Peers;
    std::vector<int> Closes;
    std::vector<int> CloseErrors;

    bool Open(size_t count)
    {
        Listener.SetAddr("127.0.0.1");
        Listener.SetPort("0");
        Listener.OnSessionAvailable = [this](TCustomWSocket*, uint16_t) {
            auto c = std::make_unique<TWSocket>();
            size_t i = Conns.size();
            c->OnSessionClosed = [this, i](TCustomWSocket*, uint16_t e) {
                ++Closes[i];
                CloseErrors[i] = e;
            };
            Closes.push_back(0);
            CloseErrors.push_back(0);
            c->Dup(Listener.Accept());
            Conns.push_back(std::move(c));
        };
        Listener.Listen();
        for (size_t i = 0; i < count; ++i) {
            Peers.push_back(std::make_unique<TPeer>());
            // One at a time, so that connection i is peer i.
            if (!Peers.back()->Connect(BoundPort(Listener)) || !RunUntil([&] { return Conns.size() == i + 1; }))
                return false;
        }
        if (!RunUntil([&] {
                for (auto& c : Conns)
                    if (c->State() != wsConnected)
                        return false;
                return true;
            }))
            return false;
        RunFor(30);  // the adoptions' own write notifications
        return true;
    }
};

std::string Payload(size_t i, int round)
{
    return "conn" + std::to_string(i) + "/round" + std::to_string(round) + ";";
}

}  // namespace

TEST(SendTogether, ManyConnectionsFlushedInOneRoundGetTheirBytesOnceAndInOrder)
{
    TConnections t;
    ASSERT_TRUE(t.Open(12));
    std::vector<std::string> expected(t.Conns.size());
    // Several rounds, each queuing for every connection at once: one flush of twelve sockets.
    for (int round = 0; round < 5; ++round) {
        for (size_t i = 0; i < t.Conns.size(); ++i) {
            std::string p = Payload(i, round);
            ASSERT_EQ(t.Conns[i]->SendString(p), static_cast<int>(p.size()));
            expected[i] += p;
        }
        TEventLoop::Default().ProcessEvents(0);
    }
    for (size_t i = 0; i < t.Conns.size(); ++i) {
        EXPECT_EQ(t.Peers[i]->ReadExactly(expected[i].size(), 3000), expected[i]) << "connection " << i;
        EXPECT_TRUE(t.Conns[i]->SendQueueEmpty());
        EXPECT_EQ(t.Conns[i]->BufferedBytes(), 0u);
    }
    // Nothing more than that: no byte twice.
    for (size_t i = 0; i < t.Conns.size(); ++i)
        EXPECT_EQ(t.Peers[i]->ReadFor(50), "") << "connection " << i;
    EXPECT_EQ(TEventLoop::Default().QueuedTotal().Bytes(), 0u);
}

TEST(SendTogether, AResetPeerAndAFullPeerAmongThemAffectOnlyTheirOwnConnection)
{
    TConnections t;
    ASSERT_TRUE(t.Open(6));
    const size_t reset = 1, full = 3;
    // The full peer reads nothing for a while: its send takes part of the queue and the rest
    // waits for room ("would block"). More than the system buffers on the two sides.
    t.Peers[reset]->Reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    std::string big(24 * 1024 * 1024, '\0');
    for (size_t k = 0; k < big.size(); ++k)
        big[k] = static_cast<char>('a' + k % 23);
    std::vector<std::string> expected(t.Conns.size());
    for (size_t i = 0; i < t.Conns.size(); ++i) {
        expected[i] = i == full ? big : Payload(i, 0);
        // The big one queues past the at-once mark and pushes part at once: it is still in the
        // round's flush with the rest.
        t.Conns[i]->SendString(expected[i]);
    }
    TEventLoop::Default().ProcessEvents(0);
    for (size_t i = 0; i < t.Conns.size(); ++i) {
        if (i == reset || i == full)
            continue;
        EXPECT_EQ(t.Peers[i]->ReadExactly(expected[i].size(), 3000), expected[i]) << "connection " << i;
    }
    EXPECT_TRUE(t.Conns[full]->SendBacklogged());
    EXPECT_GT(t.Conns[full]->BufferedBytes(), 0u);
    // The reset connection learns it from its own send (or from the loop's close report) once.
    ASSERT_TRUE(RunUntil([&] { return t.Conns[reset]->State() == wsClosed; }));
    EXPECT_EQ(t.Closes[reset], 1);
    if (SystemReportsResets()) {
        EXPECT_EQ(t.CloseErrors[reset], WSAECONNRESET);
    }
    // The full one resumes when its peer reads and gets all of it, in order.
    EXPECT_TRUE(t.Peers[full]->ReadExactly(big.size(), 20000) == big);
    RunFor(30);
    EXPECT_TRUE(t.Conns[full]->SendQueueEmpty());
    for (size_t i = 0; i < t.Conns.size(); ++i) {
        if (i != reset) {
            EXPECT_EQ(t.Closes[i], 0) << "connection " << i;
        }
    }
}

TEST(SendTogether, AHandlerEndingOtherConnectionsBetweenTheSendsAndTheirOutcomesLosesAndRepeatsNothing)
{
    // Connection 0's data-sent event ends the others: 1 closed, 2 aborted, 3 closed later. Their
    // sends of the same round were made with 0's, before its event ran; each peer must get its
    // bytes exactly once, then the end, and each session one close event.
    TConnections t;
    ASSERT_TRUE(t.Open(4));
    bool ended = false;
    t.Conns[0]->OnSendData = [&](TCustomWSocket*, int) {
        if (ended)
            return;
        ended = true;
        t.Conns[1]->Close();
        t.Conns[2]->Abort();
        t.Conns[3]->CloseLater();
    };
    std::vector<std::string> expected(t.Conns.size());
    for (size_t i = 0; i < t.Conns.size(); ++i) {
        expected[i] = Payload(i, 7);
        t.Conns[i]->SendString(expected[i]);
    }
    TEventLoop::Default().ProcessEvents(0);
    ASSERT_TRUE(ended);
    for (size_t i = 0; i < t.Conns.size(); ++i)
        EXPECT_EQ(t.Peers[i]->ReadExactly(expected[i].size(), 3000), expected[i]) << "connection " << i;
    for (size_t i = 1; i < t.Conns.size(); ++i) {
        EXPECT_TRUE(t.Peers[i]->WaitClosed(3000)) << "connection " << i;
        EXPECT_EQ(t.Peers[i]->Pending(), "") << "connection " << i;
    }
    RunFor(30);
    EXPECT_EQ(t.Closes, (std::vector<int>{0, 1, 1, 1}));
    EXPECT_EQ(TEventLoop::Default().QueuedTotal().Bytes(), 0u);
}

TEST(SendTogether, AConnectionDestroyedAfterItsSendWasMadeTogetherStillHandsItOver)
{
    TConnections t;
    ASSERT_TRUE(t.Open(3));
    // Connection 0's event queues more for 2 (its queue grows behind what was sent), and
    // connection 1 is destroyed by the loop's next message, after its send went out.
    bool done = false;
    t.Conns[0]->OnSendData = [&](TCustomWSocket*, int) {
        if (done)
            return;
        done = true;
        t.Conns[2]->SendString("+more");
    };
    for (size_t i = 0; i < t.Conns.size(); ++i)
        t.Conns[i]->SendString(Payload(i, 1));
    TEventLoop::Default().ProcessEvents(0);
    t.Conns[1].reset();
    EXPECT_EQ(t.Peers[0]->ReadExactly(Payload(0, 1).size(), 3000), Payload(0, 1));
    EXPECT_EQ(t.Peers[1]->ReadExactly(Payload(1, 1).size(), 3000), Payload(1, 1));
    EXPECT_TRUE(t.Peers[1]->WaitClosed(3000));
    std::string two = Payload(2, 1) + "+more";
    EXPECT_EQ(t.Peers[2]->ReadExactly(two.size(), 3000), two);
    EXPECT_EQ(t.Peers[2]->ReadFor(50), "");
}
