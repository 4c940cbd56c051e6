#include <gtest/gtest.h>

#include <functional>

#include "net/ServerFixture.h"

namespace {

// A client that writes its name into a list when it is freed.
struct TTracked : TWSocketClient {
    std::vector<std::string>* Log;
    TTracked(TCustomWSocketServer* o, std::vector<std::string>* log) : TWSocketClient(o), Log(log) {}
    ~TTracked() override { Log->push_back(Name); }
};

}  // namespace

struct TrackedServerTest : ServerTest {
    void TrackFrees(std::vector<std::string>& freed)
    {
        Server->Banner.clear();
        Server->ClientClass = [&freed](TCustomWSocketServer* o) { return new TTracked(o, &freed); };
    }
};

TEST_F(ServerTest, ClientsAreNamedAndListedInAcceptOrder)
{
    Server->Banner.clear();
    Listen();
    TPeer a(Port()), b(Port());
    ASSERT_TRUE(RunUntil([&] { return Server->ClientCount() == 2; }));
    EXPECT_EQ(Server->Client(0)->Name, "Client1");
    EXPECT_EQ(Server->Client(1)->Name, "Client2");
    EXPECT_EQ(Server->Client(-1), nullptr);
    EXPECT_EQ(Server->Client(2), nullptr);
    EXPECT_EQ(Server->Client(0)->PeerAddr(), "127.0.0.1");
    EXPECT_EQ(Server->Client(1)->PeerPort(), std::to_string(BoundPort(b.Handle())));
    EXPECT_EQ(a.ReadFor(50), "");  // an empty banner sends nothing
}

TEST_F(ServerTest, PeerCloseRaisesClientClosedThenDisconnectFromTheLoop)
{
    Server->Name = "Srv";
    Server->Banner.clear();
    Server->OnClientConnect = [this](TCustomWSocketServer*, TWSocketClient* c, uint16_t) {
        c->OnSessionClosed = [this](TCustomWSocket* s, uint16_t e) {
            Events.push_back("closed " + s->Name + " " + std::to_string(e));
        };
    };
    Listen();
    TPeer a(Port());
    ASSERT_TRUE(RunUntil([&] { return Server->ClientCount() == 1; }));
    a.Close();
    ASSERT_TRUE(RunUntil([&] { return Server->ClientCount() == 0; }));
    // The client is still counted while its disconnect event runs; it is freed right after.
    EXPECT_EQ(Events, (std::vector<std::string>{"closed SrvClient1 0", "disconnect SrvClient1 0 count 1"}));
}

TEST_F(ServerTest, BannerAndBusyBanner)
{
    Server->Banner = "hello";
    Server->MaxClients = 1;
    Listen();
    TPeer a(Port());
    EXPECT_EQ(a.ReadExactly(7), "hello\r\n");
    TPeer b(Port());
    EXPECT_EQ(b.ReadExactly(25), "Sorry, too many clients\r\n");
    EXPECT_TRUE(b.WaitClosed());
    ASSERT_TRUE(RunUntil([&] { return Server->ClientCount() == 1; }));
    EXPECT_EQ(Disconnects, 1);
}

TEST_F(ServerTest, ConnectHandlerThatClosesTheClientSendsNoBanner)
{
    Server->Banner = "hello";
    Server->OnClientConnect = [this](TCustomWSocketServer*, TWSocketClient* c, uint16_t) {
        c->OnSessionClosed = [this](TCustomWSocket*, uint16_t) { Events.push_back("closed"); };
        c->Close();
        Events.push_back("after close");
    };
    Listen();
    TPeer a(Port());
    ASSERT_TRUE(RunUntil([&] { return Disconnects == 1; }));
    EXPECT_EQ(Events[0], "closed");  // raised at once, inside Close
    EXPECT_EQ(Events[1], "after close");
    EXPECT_EQ(a.ReadFor(30), "");
    EXPECT_EQ(Server->ClientCount(), 0);
}

TEST_F(TrackedServerTest, DestroyingTheServerFreesClientsLastToFirstWithoutDisconnect)
{
    std::vector<std::string> freed;
    TrackFrees(freed);
    Listen();
    TPeer a(Port()), b(Port()), c(Port());
    ASSERT_TRUE(RunUntil([&] { return Server->ClientCount() == 3; }));
    Server.reset();
    EXPECT_EQ(freed, (std::vector<std::string>{"Client3", "Client2", "Client1"}));
    EXPECT_EQ(Disconnects, 0);
    EXPECT_TRUE(a.WaitClosed());
    EXPECT_TRUE(c.WaitClosed());
    RunFor(20);  // anything still queued for the freed objects is dropped
}

TEST_F(ServerTest, ExceptionInDisconnectStillFreesTheClientAndReachesBgException)
{
    Server->Banner.clear();
    int bg = 0;
    Server->OnBgException = [&](TCustomWSocket*, const std::exception&, bool& canClose) {
        ++bg;
        canClose = false;
    };
    Server->OnClientDisconnect = [](TCustomWSocketServer*, TWSocketClient*, uint16_t) {
        throw ESocketException("boom");
    };
    Listen();
    TPeer a(Port());
    ASSERT_TRUE(RunUntil([&] { return Server->ClientCount() == 1; }));
    a.Close();
    ASSERT_TRUE(RunUntil([&] { return bg == 1; }));
    EXPECT_EQ(Server->ClientCount(), 0);
    EXPECT_EQ(Server->State(), wsListening);
}

TEST_F(ServerTest, ClientDroppedByAnErrorReportLeavesTheList)
{
    struct TDroppable : TWSocketClient {
        using TWSocketClient::TWSocketClient;
        void Drop() { SocketError("test", 10054); }
    };
    Server->Banner.clear();
    Server->ClientClass = [](TCustomWSocketServer* o) { return new TDroppable(o); };
    Listen();
    TPeer a(Port());
    ASSERT_TRUE(RunUntil([&] { return Server->ClientCount() == 1; }));
    auto* c = static_cast<TDroppable*>(Server->Client(0));
    int closedEvents = 0;
    c->OnSessionClosed = [&](TCustomWSocket*, uint16_t) { ++closedEvents; };
    c->OnError = [](TCustomWSocket*) {};
    c->Drop();
    EXPECT_EQ(c->State(), wsClosed);
    EXPECT_EQ(closedEvents, 0);  // a dropped handle raises no session-closed event
    ASSERT_TRUE(RunUntil([&] { return Server->ClientCount() == 0; }));
    EXPECT_EQ(Disconnects, 1);
}

TEST_F(TrackedServerTest, ClientsLeavingFromAnywhereKeepTheOthersInAcceptOrder)
{
    std::vector<std::string> freed;
    TrackFrees(freed);
    Listen();
    std::vector<std::unique_ptr<TPeer>> peers;
    for (int i = 0; i < 8; ++i) {
        peers.push_back(std::make_unique<TPeer>(Port()));
        ASSERT_TRUE(RunUntil([&] { return Server->ClientCount() == i + 1; }));
    }
    auto names = [&] {
        std::vector<std::string> listed;
        for (int i = 0; i < Server->ClientCount(); ++i)
            listed.push_back(Server->Client(i)->Name);
        return listed;
    };
    // The first, two in the middle and the last leave in one round.
    for (int i : {0, 3, 4, 7})
        peers[static_cast<size_t>(i)]->Close();
    ASSERT_TRUE(RunUntil([&] { return Server->ClientCount() == 4; }));
    EXPECT_EQ(names(), (std::vector<std::string>{"Client2", "Client3", "Client6", "Client7"}));
    EXPECT_EQ(Server->Client(4), nullptr);
    peers[1]->Close();
    ASSERT_TRUE(RunUntil([&] { return Server->ClientCount() == 3; }));
    TPeer late(Port());
    ASSERT_TRUE(RunUntil([&] { return Server->ClientCount() == 4; }));
    EXPECT_EQ(names(), (std::vector<std::string>{"Client3", "Client6", "Client7", "Client9"}));
    EXPECT_TRUE(Server->IsClient(Server->Client(0)));
    freed.clear();
    Server.reset();
    EXPECT_EQ(freed, (std::vector<std::string>{"Client9", "Client7", "Client6", "Client3"}));
}

TEST_F(ServerTest, AClosedNotificationOfAClientFreedMeanwhileLeavesItsSuccessorAlone)
{
    // Something of the program's own that runs in the same round, before the accept.
    struct TAction : TNotificationTarget {
        std::function<void()> Run;
        TEventLoop::TEndpoint Endpoint = TEventLoop::Default().AllocateEndpoint(this);
        ~TAction() override { TEventLoop::Default().ReleaseEndpoint(Endpoint); }
        void WndProc(TMessage&) override { Run(); }
    } action;
    Server->Banner.clear();
    Listen();
    TPeer a(Port());
    ASSERT_TRUE(RunUntil([&] { return Server->ClientCount() == 1; }));
    TWSocketClient* first = Server->Client(0);
    // The first client is told to the server as closed, then freed by another path before the
    // loop reaches that notification; a client accepted meanwhile may take its address.
    action.Run = [&] {
        first->NotifyServerClosed();
        delete first;
    };
    TPeer b(Port());  // waits in the backlog: accepted in the round of the action, after it
    TEventLoop::Default().Post(action.Endpoint, TMessage{});
    ASSERT_TRUE(RunUntil([&] { return Server->ClientCount() == 1 && Server->Client(0)->Name == "Client2"; }));
    RunFor(50);  // the loop reaches the first client's notification
    ASSERT_EQ(Server->ClientCount(), 1);
    EXPECT_EQ(Server->Client(0)->Name, "Client2");
    EXPECT_EQ(Server->Client(0)->State(), wsConnected);
    EXPECT_EQ(Disconnects, 0);
}

TEST_F(ServerTest, PeersThatResetBeforeBeingAcceptedAreClosedAtOnceWithWhatTheySentRead)
{
    Server->Banner.clear();
    std::string received;
    Server->OnClientConnect = [&](TCustomWSocketServer*, TWSocketClient* c, uint16_t) {
        c->OnDataAvailable = [&received](TCustomWSocket* s, uint16_t) { received += s->ReceiveString(); };
    };
    Listen();
    // Both reset while they wait in the queue: the system reports nothing of them after the
    // accept on some systems (Wine), where they would stay for ever.
    TPeer a(Port());
    a.Reset();
    TPeer b(Port());
    b.Send("sent before the reset");
    b.Reset();
    ASSERT_TRUE(RunUntil([&] { return Disconnects == 2; }));
    EXPECT_EQ(Server->ClientCount(), 0);
    EXPECT_EQ(received, "sent before the reset");
}
