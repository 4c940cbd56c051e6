// One client that sends without pause must not hold the one event loop: while it floods, a pair
// of other clients keeps chatting in milliseconds and a new connection is greeted at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <thread>

#include "http/HttpSrv.h"
#include "messenger/ZzSerwer.h"
#include "protocol/CommandHandler.h"
#include "support/TestPlatform.h"
#include "support/ZzPeer.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Counts lines instead of keeping them: a flood writes hundreds of thousands.
class TCountingLog : public TActivityLog {
public:
    void Append(ByteView) override { ++Lines; }
    void SetColour(TLogColour) override {}
    size_t Lines = 0;
};

// Streams one block over and over from its own thread (reading and dropping any answer) until
// stopped, or for at most a few seconds, so that a loop held by it is released in the end.
class TFlooder {
public:
    // The peer's socket is not blocking; the test thread leaves it to the flooder.
    TFlooder(TPeer& peer, ByteString block) : FPeer(peer), FBlock(std::move(block))
    {
        FThread = std::thread([this] { Run(); });
    }
    ~TFlooder() { Stop(); }
    void Stop()
    {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
    }
    size_t Sent() const { return FSent; }

private:
    void Run()
    {
        auto t0 = Clock::now();
        size_t offset = 0;
        char sink[65536];
        while (!FStop && MsSince(t0) < 4000) {
            int n = FPeer.SendNow(FBlock.data() + offset, FBlock.size() - offset);
            if (n > 0) {
                FSent += static_cast<size_t>(n);
                offset = (offset + static_cast<size_t>(n)) % FBlock.size();
            }
            while (FPeer.ReceiveNow(sink, sizeof sink) > 0) {
            }
            if (n < 0)
                return;
            if (n == 0)
                WaitWritable(FPeer.Handle(), 5);
        }
    }

    TPeer& FPeer;
    ByteString FBlock;
    std::atomic<bool> FStop{false};
    std::atomic<size_t> FSent{0};
    std::thread FThread;
};

struct FairnessTest : ::testing::Test {
    TZzSerwer Serwer;
    TCountingLog Log;
    TRandomDraw Random{1};
    TZzCommandHandler Handler{Serwer, Log, Random};
    THttpServer Http;
    std::filesystem::path Dir;

    void SetUp() override
    {
        Dir = MakeTempDir("tzz-fair-");
        std::ofstream(Dir / "index.html") << "<p>hello</p>";
        Http.DocDir = Dir.string();
        Handler.Bind();
        Serwer.SetPort(0);
        std::string error;
        Serwer.Open(error);
        ASSERT_EQ(error, "");
        Http.SetAddr("127.0.0.1");
        Http.SetPort("0");
        Http.Start();
    }
    void TearDown() override { std::filesystem::remove_all(Dir); }
    int ZzPort() { return BoundPort(Serwer.SocketServer()); }

    struct TFigures {
        double MedianRoundTrip = 0, WorstRoundTrip = 0, Greeting = 0;
        size_t MostReadInOneRound = 0;  // by the flooder's connection
    };

    // Messages from one of the pair to the other, each timed until it has arrived and been
    // acknowledged; between them the loop does not run, so any round the flooder holds falls
    // inside a timed wait. Then a fresh connection is timed until its greeting.
    TFigures Measure(TZzPeer& from, TZzPeer& to, uint32_t toNumber, std::function<TCustomWSocket*()> flooder)
    {
        TFigures f;
        TEventLoop& loop = TEventLoop::Default();
        auto before = loop.OnRoundEnd;
        int64_t lastCount = flooder() ? flooder()->ReadCount() : 0;
        loop.OnRoundEnd = [&] {
            int64_t count = flooder() ? flooder()->ReadCount() : lastCount;
            f.MostReadInOneRound = std::max(f.MostReadInOneRound, static_cast<size_t>(count - lastCount));
            lastCount = count;
            if (before)
                before();
        };
        std::vector<double> trips;
        for (uint32_t i = 0; i < 20; ++i) {
            auto t0 = Clock::now();
            from.SendPacket(cpSendMessage, U32(toNumber) + U32(i) + U32(0) + ByteString("hi") + ByteString(1, '\0'));
            TPacket p;
            do
                p = to.ReadPacket(5000);
            while (p.Valid && p.Type != spMessage);
            EXPECT_TRUE(p.Valid);
            do
                p = from.ReadPacket(5000);  // its acknowledgement
            while (p.Valid && p.Type != spMessageAck);
            trips.push_back(MsSince(t0));
            std::this_thread::sleep_for(std::chrono::milliseconds(15));  // the backlog grows
        }
        std::sort(trips.begin(), trips.end());
        f.MedianRoundTrip = trips[trips.size() / 2];
        f.WorstRoundTrip = trips.back();
        auto t0 = Clock::now();
        TZzPeer fresh(ZzPort());
        TPacket welcome = fresh.ReadPacket(5000);
        f.Greeting = MsSince(t0);
        EXPECT_EQ(welcome.Type, spWelcome);
        loop.OnRoundEnd = before;
        return f;
    }

    void Check(const char* what, const TFigures& f, size_t flooded)
    {
        std::printf("%s: round trip median %.2f ms, worst %.2f ms; greeting %.2f ms; "
                    "%zu bytes flooded, at most %zu read in one round\n",
                    what, f.MedianRoundTrip, f.WorstRoundTrip, f.Greeting, flooded, f.MostReadInOneRound);
        // Generous for a loaded machine and a sanitizer build; a held loop takes seconds.
        EXPECT_LT(f.WorstRoundTrip, 500.0);
        EXPECT_LT(f.Greeting, 500.0);
        // The flooder's share of a round is bounded, not what the kernel happened to hold.
        EXPECT_LE(f.MostReadInOneRound, 64u * 1024);
    }
};

}  // namespace

TEST_F(FairnessTest, HttpClientStreamingLinesAfterItsGet)
{
    TZzPeer five(ZzPort()), seven(ZzPort());
    ASSERT_TRUE(five.Login(5));
    ASSERT_TRUE(seven.Login(7));
    TPeer http(BoundPort(*Http.WSocketServer()));
    http.Send("GET /index.html HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
    ByteString junk;
    while (junk.size() < 64 * 1024)
        junk += "junk junk junk\n";
    TFlooder flood(http, junk);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let the backlog build up
    ASSERT_TRUE(RunUntil([&] { return Http.ClientCount() == 1; }));
    TFigures f = Measure(five, seven, 7, [&] { return Http.WSocketServer()->Client(0); });
    size_t sent = flood.Sent();
    flood.Stop();
    Check("HTTP line flood", f, sent);
    EXPECT_EQ(Http.ClientCount(), 1);  // the flooder was served too, not dropped
}

TEST_F(FairnessTest, LoggedInClientStreamingPackets)
{
    TZzPeer five(ZzPort()), seven(ZzPort()), loud(ZzPort());
    ASSERT_TRUE(five.Login(5));
    ASSERT_TRUE(seven.Login(7));
    ASSERT_TRUE(loud.Login(9));
    ByteString pings;
    while (pings.size() < 64 * 1024)
        pings += TZzPeer::Frame(cpPing, {});
    size_t logBefore = Log.Lines;
    TFlooder flood(loud, pings);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let the backlog build up
    TFigures f = Measure(five, seven, 7, [&] { return Serwer.Client(2); });
    RunFor(300);  // the flooder is served too, a turn at a time
    size_t sent = flood.Sent();
    flood.Stop();
    Check("messenger packet flood", f, sent);
    EXPECT_GT(Log.Lines, logBefore + 10000);
}

TEST_F(FairnessTest, StatusChangesStreamedToManyUsers)
{
    TZzPeer five(ZzPort()), seven(ZzPort()), loud(ZzPort());
    ASSERT_TRUE(five.Login(5));
    ASSERT_TRUE(seven.Login(7));
    ASSERT_TRUE(loud.Login(9));
    // Users online who each receive every status change (their kernel buffers take it all).
    std::vector<std::unique_ptr<TZzPeer>> online;
    for (uint32_t i = 0; i < 300; ++i) {
        online.push_back(std::make_unique<TZzPeer>(ZzPort()));
        ASSERT_TRUE(online.back()->Login(1000 + i));
    }
    ByteString statuses;
    while (statuses.size() < 64 * 1024)
        statuses += TZzPeer::Frame(cpNewStatus, U32(2));
    // A 12-byte packet that fans out to every user: what one round queues must be bounded by
    // the work, not by the 16 KiB read (1,365 packets, 400,000 sends here).
    TEventLoop& loop = TEventLoop::Default();
    TSendQueueTotal& total = loop.QueuedTotal();
    uint64_t lastQueued = total.QueuedEver(), mostInOneRound = 0;
    loop.OnRoundEnd = [&] {
        mostInOneRound = std::max(mostInOneRound, total.QueuedEver() - lastQueued);
        lastQueued = total.QueuedEver();
    };
    TFlooder flood(loud, statuses);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    TFigures f = Measure(five, seven, 7, [&] { return Serwer.Client(2); });
    size_t sent = flood.Sent();
    flood.Stop();
    loop.OnRoundEnd = nullptr;
    Check("status flood to 300 users", f, sent);
    std::printf("at most %llu bytes queued in one round\n", static_cast<unsigned long long>(mostInOneRound));
    EXPECT_LE(mostInOneRound, 256u * 1024);
}
