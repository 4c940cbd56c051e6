// The socket's contract where the round-end gathering of sends meets the close paths: a Send
// queued in this round must behave as if it had gone out at once, whatever ends the session.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/WSocket.h"
#include "support/Loopback.h"

namespace {

// A connection whose handlers use the object's own members, as a derived client's do.
struct TOwnState : TWSocket {
    using TWSocket::TWSocket;
    ~TOwnState() override
    {
        if (DestroyingFlag)
            *DestroyingFlag = true;
    }
    std::vector<int> Seen = std::vector<int>(4, 7);
    bool* DestroyingFlag = nullptr;
};

template <class T>
struct Accepted {
    TWSocket Listener;
    std::unique_ptr<T> Conn = std::make_unique<T>();
    TPeer Peer;

    bool Open()
    {
        Listener.SetAddr("127.0.0.1");
        Listener.SetPort("0");
        Listener.OnSessionAvailable = [this](TCustomWSocket*, uint16_t) { Conn->Dup(Listener.Accept()); };
        Listener.Listen();
        if (!Peer.Connect(BoundPort(Listener)))
            return false;
        if (!RunUntil([&] { return Conn->State() == wsConnected; }))
            return false;
        RunFor(30);  // the adoption's own write notification
        return true;
    }
};

// The peer's reset has arrived, but the loop has not run since: the next send fails.
void ResetAndWait(TPeer& peer)
{
    peer.Reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
}

}  // namespace

TEST(SocketContract, NoEventWhileTheObjectIsDestroyedAndTheRoundsSendStillLeaves)
{
    for (bool peerReset : {false, true}) {
        SCOPED_TRACE(peerReset ? "peer reset" : "peer listening");
        Accepted<TOwnState> a;
        ASSERT_TRUE(a.Open());
        bool destroying = false;
        int eventsWhileDestroying = 0;
        long sum = 0;
        TOwnState* c = a.Conn.get();
        c->DestroyingFlag = &destroying;
        // Each handler reads the derived object's member: freed memory once its part is gone.
        c->OnSendData = [&, c](TCustomWSocket*, int) {
            eventsWhileDestroying += destroying;
            sum += c->Seen[0];
        };
        c->OnSessionClosed = [&, c](TCustomWSocket*, uint16_t) {
            eventsWhileDestroying += destroying;
            sum += c->Seen[0];
        };
        c->OnChangeState = [&](TCustomWSocket*, TSocketState, TSocketState) { eventsWhileDestroying += destroying; };
        if (peerReset)
            ResetAndWait(a.Peer);
        ASSERT_EQ(c->SendString("bye"), 3);
        a.Conn.reset();
        EXPECT_EQ(eventsWhileDestroying, 0);
        if (!peerReset) {
            EXPECT_EQ(a.Peer.ReadExactly(3, 2000), "bye");  // handed over as an immediate send was
        }
    }
}

TEST(SocketContract, SessionClosedAtMostOncePerSession)
{
    {
        SCOPED_TRACE("goodbye sent from the close notification to a peer that reset");
        Accepted<TWSocket> a;
        ASSERT_TRUE(a.Open());
        std::vector<int> closes;
        a.Conn->OnSessionClosed = [&](TCustomWSocket* s, uint16_t e) {
            closes.push_back(e);
            if (s->State() == wsConnected)
                s->SendString("bye");  // pending at the round end, to a peer that is gone
        };
        a.Peer.Reset();
        ASSERT_TRUE(RunUntil([&] { return a.Conn->State() == wsClosed; }));
        RunFor(30);
        EXPECT_EQ(closes.size(), 1u);
    }
    {
        SCOPED_TRACE("data handler closing inside the close notification's receive loop");
        Accepted<TWSocket> a;
        ASSERT_TRUE(a.Open());
        int closes = 0;
        std::string received;
        a.Conn->ComponentOptions = OptionBit(wsoNoReceiveLoop);
        a.Conn->OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
            char ch;
            if (s->Receive(&ch, 1) == 1)
                received += ch;
            if (received.size() >= 6 && received.compare(received.size() - 4, 4, "quit") == 0)
                s->Close();
        };
        a.Conn->OnSessionClosed = [&](TCustomWSocket*, uint16_t) { ++closes; };
        // Data and FIN together: the read takes one byte, the close's receive loop the rest.
        a.Peer.Send("..quit");
        a.Peer.Close();
        ASSERT_TRUE(RunUntil([&] { return a.Conn->State() == wsClosed; }));
        RunFor(30);
        EXPECT_EQ(received, "..quit");
        EXPECT_EQ(closes, 1);
    }
}

TEST(SocketContract, AbortHandsOverWhatSendAccepted)
{
    Accepted<TWSocket> a;
    ASSERT_TRUE(a.Open());
    int closes = 0;
    a.Conn->OnSessionClosed = [&](TCustomWSocket*, uint16_t) { ++closes; };
    ASSERT_EQ(a.Conn->SendString("hello"), 5);
    a.Conn->Abort();
    EXPECT_EQ(a.Conn->State(), wsClosed);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(a.Peer.ReadExactly(5, 2000), "hello");
    EXPECT_TRUE(a.Peer.WaitClosed(2000));

    // The same through an exception left with CanClose set, which aborts the socket.
    Accepted<TWSocket> b;
    ASSERT_TRUE(b.Open());
    bool answered = false;
    b.Conn->OnDataSent = [&](TCustomWSocket* s, uint16_t) {
        if (answered)
            return;
        answered = true;
        s->SendString("reply");
        throw ESocketException("handler failed");
    };
    ASSERT_EQ(b.Conn->SendString("x"), 1);
    EXPECT_EQ(b.Peer.ReadExactly(6, 2000), "xreply");
    EXPECT_EQ(b.Conn->State(), wsClosed);
}

TEST(SocketContract, DataSentComesBeforeTheDeferredClose)
{
    Accepted<TWSocket> a;
    ASSERT_TRUE(a.Open());
    std::vector<std::string> events;
    a.Conn->OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
        s->ReceiveString();
        s->SendString("reply");
        s->CloseLater();
    };
    a.Conn->OnDataSent = [&](TCustomWSocket*, uint16_t) { events.push_back("sent"); };
    a.Conn->OnSessionClosed = [&](TCustomWSocket*, uint16_t) { events.push_back("closed"); };
    a.Peer.Send("request");
    ASSERT_TRUE(RunUntil([&] { return a.Conn->State() == wsClosed; }));
    RunFor(30);
    EXPECT_EQ(a.Peer.ReadExactly(5, 2000), "reply");
    EXPECT_EQ(events, (std::vector<std::string>{"sent", "closed"}));
}
