// The loop's descriptor, through which another loop (the window's) drives this one: Linux only,
// where the window is.
#include <gtest/gtest.h>
#include <poll.h>

#include "net/LoopRecorder.h"

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
