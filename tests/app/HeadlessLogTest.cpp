#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include "app/HeadlessLog.h"
#include "core/Znaki.h"

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

TEST(HeadlessLog, EntriesBecomeUtf8LinesWithCrAsLineBreakAndControlBytesShown)
{
    EXPECT_EQ(ShowLogEntry(Znaki::ToCp1250("<użytkownik zalogowany")), "<użytkownik zalogowany");
    EXPECT_EQ(ShowLogEntry("a\r\rb"), "a\n    \n    b");
    EXPECT_EQ(ShowLogEntry(ByteString("x\0y\x1b", 4)), "x{00}y{1B}");
}

TEST(HeadlessLog, AClientsLineBreakNeverStartsALineOfItsOwn)
{
    ByteString forged = Znaki::ToCp1250("7>ciągle jestem");
    EXPECT_EQ(ShowLogEntry("5>x \"a\r" + forged + "\""), "5>x \"a\n    7>ciągle jestem\"");
    EXPECT_EQ(ShowLogEntry("a\n" + forged), "a{0A}7>ciągle jestem");
    EXPECT_EQ(ShowLogEntry("a\r\n" + forged), "a\n    {0A}7>ciągle jestem");
    EXPECT_EQ(ShowLogEntry("a\r\r\r"), "a\n    \n    \n    ");
}

TEST(HeadlessLog, LongLinesContinueIndentedAndNeverSplitACharacter)
{
    // 'ą' is two bytes of UTF-8: an odd start puts every possible cut inside a character.
    ByteString entry = "5>" + ByteString(1, 'x') + ByteString(3 * MaxShownLine / 2, '\xB9') + "\r" +
                       ByteString(MaxShownLine + 10, 'y') + "\r" + Znaki::ToCp1250("7>ciągle jestem");
    std::string shown = ShowLogEntry(entry);
    std::string joined;
    size_t lines = 0;
    for (size_t start = 0; start <= shown.size(); ++lines) {
        size_t end = std::min(shown.find('\n', start), shown.size());
        std::string line = shown.substr(start, end - start);
        EXPECT_LE(line.size(), MaxShownLine + 4);
        if (start > 0) {
            ASSERT_EQ(line.substr(0, LogContinuation.size()), LogContinuation);
            line.erase(0, LogContinuation.size());
        }
        ASSERT_FALSE(line.empty());
        EXPECT_NE(static_cast<unsigned char>(line[0]) & 0xC0, 0x80u) << "a character cut at line " << lines;
        joined += line;
        start = end + 1;
    }
    EXPECT_GE(lines, 7u);  // at least 4 for the first part, 2 for the second, the last
    std::string whole = "5>x";
    for (size_t i = 0; i < 3 * MaxShownLine / 2; ++i)
        whole += "ą";
    EXPECT_EQ(joined, whole + std::string(MaxShownLine + 10, 'y') + "7>ciągle jestem");
}

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
