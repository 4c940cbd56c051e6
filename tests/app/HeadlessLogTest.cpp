#include <gtest/gtest.h>

#include "app/HeadlessLog.h"
#include "core/Znaki.h"

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
