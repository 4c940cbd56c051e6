#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "net/WSocket.h"
#include "support/Loopback.h"

namespace {

// A listening socket and one accepted connection adopted by a TWSocket, with a raw peer.
struct AcceptedPair : ::testing::Test {
    TWSocket Listener;
    std::unique_ptr<TWSocket> Conn = std::make_unique<TWSocket>();
    TPeer Peer;

    void SetUp() override
    {
        Listener.SetAddr("127.0.0.1");
        Listener.SetPort("0");
        Listener.OnSessionAvailable = [this](TCustomWSocket*, uint16_t) { Conn->Dup(Listener.Accept()); };
        Listener.Listen();
        ASSERT_EQ(Listener.State(), wsListening);
        ASSERT_TRUE(Peer.Connect(BoundPort(Listener)));
        ASSERT_TRUE(RunUntil([&] { return Conn->State() == wsConnected; }));
    }
};

std::string Caught(const std::function<void()>& f)
{
    try {
        f();
    } catch (const ESocketException& e) {
        return e.what();
    }
    return "(nothing raised)";
}

}  // namespace

TEST_F(AcceptedPair, LargeSendGoesOutInBlocksWithOneDataSentAfterSendReturned)
{
    std::vector<int> sendCalls;
    int dataSent = 0;
    bool insideSend = false;
    bool dataSentInsideSend = false;
    Conn->OnSendData = [&](TCustomWSocket*, int n) { sendCalls.push_back(n); };
    Conn->OnDataSent = [&](TCustomWSocket*, uint16_t) {
        ++dataSent;
        dataSentInsideSend |= insideSend;
    };
    RunFor(50);  // the adoption's own write notification
    ASSERT_EQ(dataSent, 1);
    dataSent = 0;

    std::string payload(3000, 'x');
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>('a' + i % 26);
    insideSend = true;
    EXPECT_EQ(Conn->SendString(payload), 3000);
    insideSend = false;
    EXPECT_EQ(dataSent, 0);
    // Queued now, pushed at the end of the loop's round, one block per send call.
    EXPECT_EQ(Peer.ReadExactly(3000), payload);
    EXPECT_EQ(sendCalls, (std::vector<int>{1514, 1486}));
    RunFor(50);
    EXPECT_EQ(dataSent, 1);
    EXPECT_FALSE(dataSentInsideSend);
}

TEST_F(AcceptedPair, ZeroLengthSendAsksForDataSentOnlyAfterSomethingWasQueued)
{
    int dataSent = 0;
    Conn->OnDataSent = [&](TCustomWSocket*, uint16_t) { ++dataSent; };
    RunFor(30);
    dataSent = 0;
    EXPECT_EQ(Conn->Send(nullptr, 0), 0);
    RunFor(50);
    EXPECT_EQ(dataSent, 0);  // nothing was ever queued

    Conn->SendString("hi");
    RunFor(50);
    ASSERT_EQ(dataSent, 1);
    EXPECT_EQ(Conn->Send(nullptr, 0), 0);
    RunFor(50);
    EXPECT_EQ(dataSent, 2);
}

TEST_F(AcceptedPair, PeerCloseDeliversUnreadDataBeforeSessionClosed)
{
    std::vector<std::string> events;
    std::string received;
    Conn->ComponentOptions = OptionBit(wsoNoReceiveLoop);
    Conn->OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
        // Reads only a little each time, so data is left waiting at the close.
        char buf[7];
        int n = s->Receive(buf, sizeof buf);
        if (n > 0)
            received.append(buf, static_cast<size_t>(n));
        events.push_back("data");
    };
    Conn->OnSessionClosed = [&](TCustomWSocket* s, uint16_t error) {
        events.push_back("closed " + std::to_string(error) + " " + std::to_string(s->State()));
    };
    // Data and FIN arrive before the loop runs: one 7-byte read, then the close drains the rest.
    std::string text(100, 'q');
    Peer.Send(text);
    Peer.Close();
    ASSERT_TRUE(RunUntil([&] { return Conn->State() == wsClosed; }));
    EXPECT_EQ(received, text);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), "closed 0 4");  // raised while still connected, then closed
    EXPECT_EQ(std::count(events.begin(), events.end(), "closed 0 4"), 1);
    EXPECT_GT(std::count(events.begin(), events.end(), "data"), 2);
}

TEST_F(AcceptedPair, ReadCountKeepsCountingPastTwoGiB)
{
    // A long session (a client online for weeks) carries more than a 32-bit count can hold.
    std::vector<char> scratch(1 << 20);
    int64_t received = 0;
    Conn->OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
        int n = s->Receive(scratch.data(), static_cast<int>(scratch.size()));
        if (n > 0)
            received += n;
    };
    const int64_t total = (int64_t{1} << 31) + (1 << 20);
    ByteString chunk(8 << 20, 'r');
    for (int64_t sent = 0; sent < total; sent += static_cast<int64_t>(chunk.size()))
        Peer.Send(ByteView(chunk).substr(0, static_cast<size_t>(std::min<int64_t>(total - sent, chunk.size()))));
    ASSERT_TRUE(RunUntil([&] { return received == total; }, 20000));
    EXPECT_EQ(Conn->ReadCount(), total);
    EXPECT_EQ(Conn->State(), wsConnected);
}

TEST_F(AcceptedPair, PausedConnectionLeavesTheLoopIdleAndResumeDeliversWhatWaited)
{
    std::string received;
    Conn->OnDataAvailable = [&](TCustomWSocket* s, uint16_t) { received += s->ReceiveString(); };
    Conn->Pause();
    Peer.Send("abc");
    // With data waiting and nothing else to do, each round waits its full time: a paused
    // connection must not have its readiness reported (and ignored) round after round.
    int rounds = 0;
    for (int64_t start = MonotonicMs(); MonotonicMs() - start < 150; ++rounds)
        TEventLoop::Default().ProcessEvents(20);
    EXPECT_LE(rounds, 20);
    EXPECT_EQ(received, "");
    Conn->Resume();
    ASSERT_TRUE(RunUntil([&] { return received == "abc"; }));
}

TEST_F(AcceptedPair, CloseThatCameWhilePausedIsReportedOnResume)
{
    std::string received;
    int closed = 0;
    Conn->OnDataAvailable = [&](TCustomWSocket* s, uint16_t) { received += s->ReceiveString(); };
    Conn->OnSessionClosed = [&](TCustomWSocket*, uint16_t) { ++closed; };
    Conn->Pause();
    Peer.Send("tail");
    Peer.Close();
    RunFor(60);
    EXPECT_EQ(closed, 0);
    EXPECT_EQ(Conn->State(), wsConnected);
    Conn->Resume();
    ASSERT_TRUE(RunUntil([&] { return closed == 1; }));
    EXPECT_EQ(received, "tail");
    EXPECT_EQ(Conn->State(), wsClosed);
    RunFor(30);
    EXPECT_EQ(closed, 1);
}

TEST_F(AcceptedPair, ResetThatCameWhilePausedIsReportedOnResumeWithItsCode)
{
    if (!SystemReportsResets())
        GTEST_SKIP() << "this system reports a peer's reset as an orderly close";
    std::vector<uint16_t> closed;
    Conn->OnSessionClosed = [&](TCustomWSocket*, uint16_t error) { closed.push_back(error); };
    Conn->Pause();
    Peer.Reset();
    RunFor(60);
    EXPECT_TRUE(closed.empty());
    Conn->Resume();
    ASSERT_TRUE(RunUntil([&] { return !closed.empty(); }));
    RunFor(30);
    EXPECT_EQ(closed, std::vector<uint16_t>{10054});
    EXPECT_EQ(Conn->State(), wsClosed);
}

TEST_F(AcceptedPair, QueuedSendsGoOnAfterAPause)
{
    int dataSent = 0;
    Conn->OnDataSent = [&](TCustomWSocket*, uint16_t) { ++dataSent; };
    ByteString big(16 << 20, 's');
    Conn->Send(big.data(), static_cast<int>(big.size()));  // more than the kernel takes at once
    Conn->Pause();
    ByteString got = Peer.ReadFor(100);  // room is made while paused
    ASSERT_LT(got.size(), big.size());
    Conn->Resume();
    got += Peer.ReadExactly(big.size() - got.size());
    EXPECT_EQ(got.size(), big.size());
    ASSERT_TRUE(RunUntil([&] { return dataSent == 1; }));
}

TEST_F(AcceptedPair, ResetDuringSendEndsTheSessionOnceWithItsCode)
{
    if (!SystemReportsResets())
        GTEST_SKIP() << "this system reports a peer's reset as an orderly close";
    std::vector<int> closes;
    Conn->OnSessionClosed = [&](TCustomWSocket*, uint16_t e) { closes.push_back(e); };
    Peer.Reset();
    RunFor(30);
    // The reset may be seen by the close notification or by the next send; either way once.
    std::string big(256 * 1024, 'z');
    for (int i = 0; i < 4 && Conn->State() == wsConnected; ++i)
        Conn->SendString(big);
    ASSERT_TRUE(RunUntil([&] { return Conn->State() == wsClosed; }));
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0], 10054);
}

TEST_F(AcceptedPair, ExceptionInDataHandlerIsLostElsewhereGoesToBgException)
{
    int bg = 0;
    std::string bgMessage;
    Conn->OnBgException = [&](TCustomWSocket*, const std::exception& e, bool& canClose) {
        ++bg;
        bgMessage = e.what();
        canClose = false;
    };
    Conn->OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
        s->ReceiveString();
        throw ESocketException("in data");
    };
    Peer.Send("abc");
    RunFor(50);
    EXPECT_EQ(bg, 0);
    EXPECT_EQ(Conn->State(), wsConnected);

    Conn->PostTestException();
    RunFor(20);
    EXPECT_EQ(bg, 1);
    EXPECT_EQ(bgMessage, "Test exception in WSocket");
    EXPECT_EQ(Conn->State(), wsConnected);  // the handler cleared CanClose

    Conn->OnSessionClosed = [&](TCustomWSocket*, uint16_t) { throw ESocketException("in closed"); };
    Peer.Close();
    ASSERT_TRUE(RunUntil([&] { return bg == 2; }));
    EXPECT_EQ(bgMessage, "in closed");
}

TEST_F(AcceptedPair, UnclearedBgExceptionAbortsTheSocket)
{
    Conn->PostTestException();
    ASSERT_TRUE(RunUntil([&] { return Conn->State() == wsClosed; }));
    EXPECT_TRUE(Peer.WaitClosed());
}

TEST_F(AcceptedPair, CloseTwiceAndCloseLaterAfterCloseDoNothing)
{
    int closes = 0;
    Conn->OnSessionClosed = [&](TCustomWSocket*, uint16_t) { ++closes; };
    Conn->CloseLater();
    Conn->Close();
    EXPECT_EQ(closes, 1);
    Conn->Close();
    RunFor(30);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(Conn->State(), wsClosed);
    EXPECT_TRUE(Peer.WaitClosed());
}

TEST_F(AcceptedPair, PropertiesRefuseChangesWhileOpen)
{
    EXPECT_EQ(Caught([&] { Conn->SetAddr("1.2.3.4"); }), "Cannot change Addr if not closed");
    EXPECT_EQ(Caught([&] { Conn->SetPort("1"); }), "Cannot change Port if not closed");
    EXPECT_EQ(Caught([&] { Conn->SetProto("udp"); }), "Cannot change Proto if not closed");
    EXPECT_EQ(Caught([&] { Conn->SetLocalAddr("1.2.3.4"); }), "Cannot change LocalAddr if not closed");
    EXPECT_EQ(Caught([&] { Conn->SetLocalPort("1"); }), "Cannot change LocalPort if not closed");
    EXPECT_EQ(Conn->PeerAddr(), "127.0.0.1");
    EXPECT_EQ(Conn->PeerPort(), std::to_string(BoundPort(Peer.Handle())));
    // With OnError assigned nothing is raised and the event fires instead.
    int errors = 0;
    Conn->OnError = [&](TCustomWSocket*) { ++errors; };
    Conn->SetAddr("1.2.3.4");
    EXPECT_EQ(errors, 1);
}

TEST(WSocket, SendWhenNotConnectedReports10057)
{
    TWSocket s;
    EXPECT_EQ(Caught([&] { s.SendString("x"); }), "Error 10057 in function Send\r\nSocket is not connected");
    EXPECT_EQ(s.LastError(), 10057);
    EXPECT_EQ(s.State(), wsClosed);

    TWSocket listening;
    listening.SetAddr("127.0.0.1");
    listening.SetPort("0");
    listening.Listen();
    std::vector<std::pair<int, int>> changes;
    listening.OnChangeState = [&](TCustomWSocket*, TSocketState o, TSocketState n) { changes.emplace_back(o, n); };
    listening.OnError = [](TCustomWSocket*) {};
    EXPECT_EQ(listening.SendString("x"), -1);
    EXPECT_EQ(listening.State(), wsClosed);
    EXPECT_EQ(changes, (std::vector<std::pair<int, int>>{{wsListening, wsClosed}}));
}

TEST(WSocket, ListenStatesAndPortInUse)
{
    TWSocket a;
    std::vector<int> states;
    a.OnChangeState = [&](TCustomWSocket*, TSocketState, TSocketState n) { states.push_back(n); };
    a.SetAddr("0.0.0.0");
    a.SetPort("0");
    a.Listen();
    EXPECT_EQ(states, (std::vector<int>{wsBound, wsListening}));

    TWSocket b;
    b.SetAddr("0.0.0.0");
    b.SetPort(std::to_string(BoundPort(a)));
    EXPECT_EQ(Caught([&] { b.Listen(); }), "Error 10048 in function Bind\r\nAddress already in use");
    EXPECT_EQ(b.State(), wsClosed);
    EXPECT_EQ(b.Handle(), INVALID_SOCKET);
}

TEST(WSocket, ListenAfterCloseNeedsThePortAgain)
{
    TWSocket a;
    a.SetAddr("127.0.0.1");
    a.SetPort("0");
    a.Listen();
    a.Close();
    EXPECT_EQ(a.GetPort(), "0");  // the text stays, but counts as not assigned
    EXPECT_EQ(Caught([&] { a.Listen(); }), "Error 10022 in function listen: port not assigned\r\nInvalid argument");
    a.SetPort("0");
    EXPECT_EQ(Caught([&] { a.Listen(); }), "Error 10022 in function listen: address not assigned\r\nInvalid argument");
    a.SetAddr("127.0.0.1");
    a.Listen();
    EXPECT_EQ(a.State(), wsListening);
}

TEST(WSocket, ResolutionFailuresReachListenWrapped)
{
    TWSocket a;
    a.SetAddr("127.0.0.1");
    a.SetPort("99999");
    EXPECT_EQ(Caught([&] { a.Listen(); }), "listen: WSocketResolvePort: Cannot convert port '99999', Error #10022");
    a.SetPort("0");
    a.SetAddr(std::string(300, 'h'));
    EXPECT_EQ(Caught([&] { a.Listen(); }), "listen: WSocketResolveHost: '" + std::string(300, 'h') + "' Invalid Hostname.");
    a.SetAddr("0.0.0.0");
    a.SetProto(std::string(40, 'p'));
    EXPECT_EQ(Caught([&] { a.Listen(); }), "listen: WSocketResolveProto: Invalid Protocol.");
    EXPECT_EQ(Caught([&] { a.SetLocalAddr("1.2.3"); }), "SetLocalAddr(): Invalid IP address");
    a.SetLocalAddr(" 010.1.2.3 ");
    EXPECT_EQ(a.GetLocalAddr(), "10.1.2.3");
    EXPECT_EQ(Caught([&] { a.SetSendFlags(2); }), "Invalid SendFlags");
}

TEST(WSocket, DottedAddressRule)
{
    EXPECT_TRUE(WSocketIsDottedIP(" 1.2.3.4 "));
    EXPECT_TRUE(WSocketIsDottedIP("255.255.255.255"));
    EXPECT_FALSE(WSocketIsDottedIP("1.2.3"));
    EXPECT_FALSE(WSocketIsDottedIP("1.2..4"));
    EXPECT_FALSE(WSocketIsDottedIP("1.2.3.256"));
    EXPECT_FALSE(WSocketIsDottedIP("1.2.3.4.5"));
    EXPECT_FALSE(WSocketIsDottedIP("localhost"));
    EXPECT_EQ(WSocketResolvePort("8074", "tcp"), 8074);
    EXPECT_EQ(WSocketResolveProto("tcp"), 6);
    EXPECT_EQ(WSocketResolveProto(" 17x"), 17);
}

TEST(WSocket, ErrorMessagesUseWinSockNumbers)
{
    EXPECT_EQ(SocketErrorMessage(10054, "TryToSend failed"),
              "Error 10054 in function TryToSend failed\r\nConnection reset by peer");
    EXPECT_EQ(SocketErrorMessage(42, "x"), "Error 42 in function x\r\nNot a WinSock error");
    EXPECT_EQ(SocketErrorMessage(0, "x"), "Error 0 in function x\r\nNo Error");
}

TEST_F(AcceptedPair, SharedPayloadKeepsItsPlaceAmongCopiedBytesAndIsCountedOnce)
{
    TSendQueueTotal& total = TEventLoop::Default().QueuedTotal();
    size_t before = total.Bytes();
    std::vector<int> sendCalls;
    int dataSent = 0;
    Conn->OnSendData = [&](TCustomWSocket*, int n) { sendCalls.push_back(n); };
    Conn->OnDataSent = [&](TCustomWSocket*, uint16_t) { ++dataSent; };
    ByteString big(5000, 's');
    auto shared = std::make_shared<const TSharedPayload>(total, big);
    EXPECT_EQ(total.Bytes(), before + 5000);

    Conn->SendString("head");
    Conn->SendShared(shared);
    Conn->SendString(ByteString(2000, 't'));
    EXPECT_EQ(Conn->BufferedBytes(), 4u + 5000 + 2000);  // what this client still has to receive
    // The copied bytes count as they are queued; the shared ones were counted once already,
    // this queue's reference to them costs a little of its own.
    EXPECT_EQ(total.Bytes(), before + 5000 + 4 + 2000 + TSendQueueTotal::SharedEntryCost);
    EXPECT_EQ(Conn->OwnBufferedBytes(), 4u + 2000 + TSendQueueTotal::SharedEntryCost);
    shared.reset();  // the queue's reference keeps it

    ByteString got = Peer.ReadExactly(7004);
    EXPECT_EQ(got, "head" + big + ByteString(2000, 't'));
    ASSERT_TRUE(RunUntil([&] { return dataSent == 1; }));
    EXPECT_EQ(total.Bytes(), before);  // sent: nothing held any more
    EXPECT_EQ(Conn->BufferedBytes(), 0u);
    // Copied bytes still leave one block at most per send call; only the shared piece is longer.
    EXPECT_LE(std::count_if(sendCalls.begin(), sendCalls.end(), [](int n) { return n > 1514; }), 1);
}

TEST_F(AcceptedPair, QueueAtItsMarkIsCongestedUntilItHasDrainedToHalf)
{
    TSendQueueTotal& total = TEventLoop::Default().QueuedTotal();
    int small = 4096;
    SocketSetOption(Conn->Handle(), SOL_SOCKET, SO_SNDBUF, small);
    Conn->SetSlowQueueMark(256 * 1024);
    Conn->SendString(ByteString(400 * 1024, 'q'));
    RunFor(20);
    ASSERT_TRUE(Conn->QueueCongested());
    EXPECT_EQ(total.CongestedQueues(), 1);
    // One slow queue is its reader's matter: pushing into it is not noted as over the bound,
    // so whoever sent to it is not held back.
    EXPECT_FALSE(total.OverLimit());
    EXPECT_TRUE(Conn->SendBacklogged());
    total.FedBacklogOverLimit = false;
    Conn->SendString("x");
    EXPECT_FALSE(total.FedBacklogOverLimit);

    size_t read = 0;
    bool sawHalf = false;
    ASSERT_TRUE(RunUntil([&] {
        read += Peer.ReadFor(1).size();
        if (Conn->BufferedBytes() > 128 * 1024) {
            EXPECT_TRUE(Conn->QueueCongested());
        }
        sawHalf |= !Conn->QueueCongested();
        return read == 400 * 1024 + 1;
    }));
    EXPECT_TRUE(sawHalf);
    EXPECT_FALSE(Conn->QueueCongested());
    EXPECT_EQ(total.CongestedQueues(), 0);
    // A queue dropped while congested leaves no count behind.
    Conn->SendString(ByteString(400 * 1024, 'r'));
    RunFor(20);
    ASSERT_TRUE(Conn->QueueCongested());
    Conn->Abort();
    EXPECT_EQ(total.CongestedQueues(), 0);
}
