// The headless log on a descriptor: a reader that stalls never holds the servers.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include "app/HeadlessLog.h"

namespace {

std::string Drain(int fd)
{
    std::string out;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        out.append(buf, static_cast<size_t>(n));
    return out;
}

}  // namespace

TEST(HeadlessLog, StalledReaderNeverBlocksAndIsToldWhatWasDropped)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    TEventLoop loop;
    {
        THeadlessLog log(loop, fds[1]);
        std::string line(1000, 'L');
        // Far more than the pipe holds plus the bound: every call must return at once.
        for (int i = 0; i < 6000; ++i) {
            log.Append(line);
            log.Flush();
        }
        EXPECT_GT(log.Dropped(), 0u);
        fcntl(fds[0], F_SETFL, O_NONBLOCK);
        std::string seen;
        for (int round = 0; round < 400 && seen.find("dropped") == std::string::npos; ++round) {
            seen += Drain(fds[0]);
            loop.ProcessEvents(5);
            seen += Drain(fds[0]);
        }
        EXPECT_NE(seen.find("log entries dropped: standard output was not being read)\n"), std::string::npos);
        EXPECT_EQ(log.Dropped(), 0u);
        log.Append("after");
    }
    std::string rest = Drain(fds[0]);
    EXPECT_NE(rest.find("after\n"), std::string::npos);  // written out at the end
    close(fds[0]);
    close(fds[1]);
}
