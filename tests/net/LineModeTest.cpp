#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "net/WSocketS.h"
#include "support/Loopback.h"

namespace {

// A server whose clients are in line mode; each delivered line is recorded as read.
struct LineServer : ::testing::Test {
    TWSocketServer Server;
    TWSocketClient* Client = nullptr;
    std::vector<std::string> Lines;
    std::vector<std::string> Events;
    TPeer Peer;
    std::string LineEnd = "\n";

    void SetUp() override
    {
        Server.Banner.clear();
        Server.SetAddr("127.0.0.1");
        Server.SetPort("0");
        Server.OnClientConnect = [this](TCustomWSocketServer*, TWSocketClient* c, uint16_t) {
            Client = c;
            c->LineEnd = LineEnd;
            c->SetLineMode(true);
            c->OnDataAvailable = [this](TCustomWSocket* s, uint16_t) {
                Lines.push_back(s->ReceiveString());
                Events.push_back("line");
            };
            c->OnSessionClosed = [this](TCustomWSocket*, uint16_t) { Events.push_back("closed"); };
        };
        Server.Listen();
    }

    void Connect()
    {
        ASSERT_TRUE(Peer.Connect(BoundPort(Server)));
        ASSERT_TRUE(RunUntil([&] { return Client != nullptr; }));
    }
};

}  // namespace

TEST_F(LineServer, OneLineAtATimeAndTheRestAsLastLineAtClose)
{
    Connect();
    Peer.Send("a\nbc");
    ASSERT_TRUE(RunUntil([&] { return Lines.size() == 1; }));
    EXPECT_EQ(Lines[0], "a\n");
    RunFor(30);
    EXPECT_EQ(Lines.size(), 1u);  // b and c wait for their terminator
    Peer.Close();
    ASSERT_TRUE(RunUntil([&] { return Events.size() == 3; }));
    EXPECT_EQ(Lines, (std::vector<std::string>{"a\n", "bc"}));
    EXPECT_EQ(Events.back(), "closed");
}

TEST_F(LineServer, TerminatorSplitAcrossReadsStillEndsALine)
{
    LineEnd = "\r\n";
    Connect();
    Peer.Send("GET /x\r");
    RunFor(50);
    EXPECT_TRUE(Lines.empty());
    Peer.Send("\nnext\r\n");
    ASSERT_TRUE(RunUntil([&] { return Lines.size() == 2; }));
    EXPECT_EQ(Lines[0], "GET /x\r\n");
    EXPECT_EQ(Lines[1], "next\r\n");
}

TEST_F(LineServer, SeveralLinesInOneReadComeOneByOne)
{
    Connect();
    Peer.Send("1\n22\n333\n4");
    ASSERT_TRUE(RunUntil([&] { return Lines.size() == 3; }));
    EXPECT_EQ(Lines, (std::vector<std::string>{"1\n", "22\n", "333\n"}));
    EXPECT_EQ(Client->BufferedCount(), 1);
}

TEST_F(LineServer, HandlerThatReadsInPiecesIsCalledUntilTheLineIsRead)
{
    Connect();
    int calls = 0;
    std::string got;
    Client->OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
        ++calls;
        char two[2];
        int n = s->Receive(two, 2);
        got.append(two, static_cast<size_t>(std::max(n, 0)));
    };
    Peer.Send("hello\n");
    ASSERT_TRUE(RunUntil([&] { return got == "hello\n"; }));
    EXPECT_EQ(calls, 3);
}

TEST_F(LineServer, OverLimitWithoutHandlerDropsEverythingBuffered)
{
    Connect();
    Client->LineLimit = 10;
    Peer.Send(std::string(25, 'x'));
    ASSERT_TRUE(RunUntil([&] { return Client->ReadCount() == 25; }));
    RunFor(20);
    EXPECT_EQ(Client->BufferedCount(), 0);
    EXPECT_TRUE(Lines.empty());
    // The rest of the over-long line goes too, up to its end; then line cutting goes on.
    Peer.Send("ok\nnext\n");
    ASSERT_TRUE(RunUntil([&] { return Lines.size() == 1; }));
    EXPECT_EQ(Lines[0], "next\n");
    EXPECT_EQ(Client->State(), wsConnected);
}

TEST_F(LineServer, LineLimitBoundsWhatTheConnectionHolds)
{
    LineEnd = "\r\n";
    Connect();
    Client->LineLimit = 4096;
    ByteString chunk(64 * 1024, 'x');
    size_t most = 0;
    for (int i = 0; i < 64; ++i) {  // 4 MiB without a line end, faster than it is read
        Peer.Send(chunk);
        RunFor(0);
        most = std::max(most, Client->LineBufferCapacity());
    }
    ASSERT_TRUE(RunUntil([&] {
        most = std::max(most, Client->LineBufferCapacity());
        return Client->ReadCount() == 64 * 64 * 1024;
    }));
    EXPECT_LE(most, 4096u + 2);
    EXPECT_LE(Client->LineBufferCapacity(), 4096u + 2);
    EXPECT_TRUE(Lines.empty());
    // Its end comes split across two sends; the next line is handed over whole.
    Peer.Send("xx\r");
    RunFor(20);
    Peer.Send("\nnext\r\n");
    ASSERT_TRUE(RunUntil([&] { return Lines.size() == 1; }));
    EXPECT_EQ(Lines[0], "next\r\n");
    RunFor(20);
    EXPECT_LE(Client->LineBufferCapacity(), 64u);  // given back after the drop, not kept
}

TEST_F(LineServer, EverythingSentBeforeTheCloseArrivesInOrderThenOneClose)
{
    Connect();
    std::string sent;
    for (int i = 0; i < 40000; ++i)
        sent += "line " + std::to_string(i) + "\n";
    Peer.Send(sent);
    Peer.Close();
    ASSERT_TRUE(RunUntil([&] { return !Events.empty() && Events.back() == "closed"; }));
    RunFor(30);
    std::string received;
    for (auto& l : Lines)
        received += l;
    EXPECT_EQ(received, sent);
    EXPECT_EQ(std::count(Events.begin(), Events.end(), "closed"), 1);
}

TEST_F(LineServer, OverLimitHandlerMayKeepTheData)
{
    Connect();
    Client->LineLimit = 10;
    int reported = 0;
    Client->OnLineLimitExceeded = [&](TCustomWSocket*, int len, bool& clear) {
        reported = len;
        clear = false;
    };
    Peer.Send(std::string(25, 'x'));
    ASSERT_TRUE(RunUntil([&] { return reported == 25; }));
    Peer.Send("\n");
    ASSERT_TRUE(RunUntil([&] { return Lines.size() == 1; }));
    EXPECT_EQ(Lines[0], std::string(25, 'x') + "\n");
}

TEST_F(LineServer, SwitchingLineModeOffHandsTheRestOverAsRawData)
{
    Connect();
    std::string raw;
    Client->OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
        auto* c = static_cast<TWSocketClient*>(s);
        if (c->GetLineMode()) {
            char first[3];
            s->Receive(first, 3);  // part of the line only, then raw mode
            Lines.emplace_back(first, 3);
            c->SetLineMode(false);
        } else {
            raw += s->ReceiveString();
        }
    };
    Peer.Send("abcdef\nxyz");
    ASSERT_TRUE(RunUntil([&] { return raw == "def\nxyz"; }));
    EXPECT_EQ(Lines, (std::vector<std::string>{"abc"}));
}
