#include <gtest/gtest.h>

#include "core/ActivityLog.h"

TEST(FormatLog, SignedDecimalHexAndBytes)
{
    EXPECT_EQ(FormatLog("%d>", {4294967295u}), "-1>");
    EXPECT_EQ(FormatLog("%d>", {2147483648u}), "-2147483648>");
    EXPECT_EQ(FormatLog("%d", {7}), "7");
    EXPECT_EQ(FormatLog("na %x.", {0x8014u}), "na 8014.");
    EXPECT_EQ(FormatLog("%x", {0u}), "0");
    EXPECT_EQ(FormatLog("%x", {0xABCDEF12u}), "ABCDEF12");
    EXPECT_EQ(FormatLog("100%% \"%s\"", {ByteView("a\0b", 3)}), ByteString("100% \"a\0b\"", 10));
}

TEST(FormatLog, MissingArgumentsLeaveThePlaceholder)
{
    EXPECT_EQ(FormatLog("%d %s %q", {5}), "5 %s %q");
    EXPECT_EQ(FormatLog("trailing %", {}), "trailing %");
}

TEST(FormatLog, AppendsToTheBufferGiven)
{
    ByteString out = "x";
    FormatLogInto(out, "%d", {12});
    EXPECT_EQ(out, "x12");
}
