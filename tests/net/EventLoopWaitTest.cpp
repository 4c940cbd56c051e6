// What wakes a waiting loop, on every system: a delayed message coming due, and a stop request
// from another thread (a signal on Linux, the console-control thread on Windows).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "net/EventLoop.h"
#include "net/LoopRecorder.h"

namespace {

// Records each message and ends the loop's Run.
struct TQuitter : TRecorder {
    explicit TQuitter(TEventLoop& loop) : TRecorder(loop)
    {
        Also = [&loop](uint32_t) { loop.Quit(); };
    }
};

}  // namespace

TEST(EventLoopWait, DelayedMessagesComeDueInOrderWhileTheLoopWaits)
{
    TEventLoop loop;
    TQuitter q(loop);
    int64_t start = MonotonicMs();
    loop.PostDelayed(q.Id, TMessage{2, 0, 0, 0}, 80);
    loop.PostDelayed(q.Id, TMessage{1, 0, 0, 0}, 40);
    loop.Run();  // waits without limit: only the due message can end it
    EXPECT_EQ(q.Seen, (std::vector<uint32_t>{1}));
    EXPECT_GE(MonotonicMs() - start, 35);
    while (q.Seen.size() < 2)
        loop.ProcessEvents(-1);
    EXPECT_EQ(q.Seen, (std::vector<uint32_t>{1, 2}));
    EXPECT_GE(MonotonicMs() - start, 75);
}

TEST(EventLoopWait, AStopRequestFromAnotherThreadEndsRun)
{
    TEventLoop loop;
    TQuitter watchdog(loop);
    // Were the request lost, the loop would wait for this instead and the test would say so.
    loop.PostDelayed(watchdog.Id, TMessage{99, 0, 0, 0}, 10000);
    std::atomic<bool> asked{false};
    std::thread other([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        asked = true;
        loop.QuitFromAnyThread();
    });
    int64_t start = MonotonicMs();
    loop.Run();
    other.join();
    EXPECT_TRUE(asked);
    EXPECT_TRUE(watchdog.Seen.empty()) << "the loop ran until the watchdog instead";
    EXPECT_LT(MonotonicMs() - start, 5000);

    // A request made while nobody waits still wakes the next wait.
    loop.QuitFromAnyThread();
    start = MonotonicMs();
    loop.ProcessEvents(-1);
    EXPECT_TRUE(watchdog.Seen.empty());
    EXPECT_LT(MonotonicMs() - start, 5000);
}
