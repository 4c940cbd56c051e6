// Accepting with no descriptor left, made by lowering this process's descriptor limit: Linux
// only (Windows has no per-process socket limit to lower).
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include "net/ServerFixture.h"

TEST_F(ServerTest, RunningOutOfDescriptorsBacksOffAndRecovers)
{
    Server->Banner.clear();
    int bg = 0;
    Server->OnBgException = [&](TCustomWSocket*, const std::exception&, bool& canClose) {
        ++bg;
        canClose = false;  // keep listening, as the messenger server does
    };
    Listen();
    rlimit old{};
    getrlimit(RLIMIT_NOFILE, &old);
    // Use up every descriptor but the few the peer needs.
    std::vector<int> hogs;
    TPeer a;
    rlimit low = old;
    low.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    for (int fd; (fd = ::dup(0)) >= 0;)
        hogs.push_back(fd);
    ::close(hogs.back());
    hogs.pop_back();
    ASSERT_TRUE(a.Connect(Port()));  // the kernel completes it; accept has no descriptor left
    RunFor(350);
    // A spinning loop would have failed thousands of times; the back-off allows a handful.
    EXPECT_GE(bg, 1);
    EXPECT_LE(bg, 6);
    EXPECT_EQ(Server->ClientCount(), 0);  // the client made for the failed accept was freed
    EXPECT_EQ(Disconnects, 0);            // but it never connected: nothing to report
    for (int fd : hogs)
        ::close(fd);
    setrlimit(RLIMIT_NOFILE, &old);
    ASSERT_TRUE(RunUntil([&] { return Server->ClientCount() == 1; }, 2000));
    EXPECT_EQ(Disconnects, 0);
}
