#include <gtest/gtest.h>

#include <memory>

#include "net/LoopRecorder.h"

TEST(EventLoop, PostedMessagesRunInOrderAfterThoseAlreadyQueued)
{
    TEventLoop loop;
    TRecorder a(loop), b(loop);
    a.Also = [&](uint32_t m) {
        if (m == 1)
            a.Post(3);  // posted while running: after b's 2
    };
    a.Post(1);
    b.Post(2);
    loop.ProcessEvents(0);
    EXPECT_EQ(a.Seen, (std::vector<uint32_t>{1}));
    EXPECT_EQ(b.Seen, (std::vector<uint32_t>{2}));
    loop.ProcessEvents(0);
    EXPECT_EQ(a.Seen, (std::vector<uint32_t>{1, 3}));
}

TEST(EventLoop, ReleasingAnEndpointDropsWhatIsQueuedForIt)
{
    TEventLoop loop;
    TRecorder keep(loop);
    auto gone = std::make_unique<TRecorder>(loop);
    gone->Post(1);
    keep.Post(2);
    TEventLoop::TEndpoint goneId = gone->Id;
    gone.reset();
    loop.Post(goneId, TMessage{9, 0, 0, 0});
    loop.PostDelayed(goneId, TMessage{9, 0, 0, 0}, 0);
    loop.ProcessEvents(0);
    loop.ProcessEvents(0);
    EXPECT_EQ(keep.Seen, (std::vector<uint32_t>{2}));
}
