#include <gtest/gtest.h>
#include <poll.h>

#include <vector>

#include "net/EventLoop.h"
#include "support/Loopback.h"

namespace {

struct TRecorder : TNotificationTarget {
    TEventLoop& Loop;
    TEventLoop::TEndpoint Id;
    std::vector<uint32_t> Seen;
    std::function<void(uint32_t)> Also;
    explicit TRecorder(TEventLoop& loop) : Loop(loop), Id(loop.AllocateEndpoint(this)) {}
    ~TRecorder() override { Loop.ReleaseEndpoint(Id); }
    void WndProc(TMessage& m) override
    {
        Seen.push_back(m.Msg);
        if (Also)
            Also(m.Msg);
    }
    void Post(uint32_t msg) { Loop.Post(Id, TMessage{msg, 0, 0, 0}); }
};

}  // namespace

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

TEST(EventLoop, DescriptorIsReadableWhileWorkWaits)
{
    TEventLoop loop;
    TRecorder r(loop);
    int fd = loop.Descriptor();  // as the other loop does before it watches
    auto readable = [&] {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1;
    };
    r.Also = [&](uint32_t m) {
        if (m == 1)
            r.Post(2);
    };
    r.Post(1);
    loop.ProcessEvents(0);
    // Message 2 waits: a loop driving this one through its descriptor must be woken.
    EXPECT_TRUE(readable());
    loop.ProcessEvents(0);
    EXPECT_EQ(r.Seen, (std::vector<uint32_t>{1, 2}));
    EXPECT_FALSE(readable());

    loop.PostDelayed(r.Id, TMessage{7, 0, 0, 0}, 30);
    loop.ProcessEvents(0);
    EXPECT_FALSE(readable());
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
    loop.ProcessEvents(0);
    EXPECT_EQ(r.Seen.back(), 7u);
}
