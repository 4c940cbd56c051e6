// The log pane's bounds and colours, whatever toolkit shows them.
#include <gtest/gtest.h>

#include "app/LogBacklog.h"

namespace {

struct TCountingBacklog : TLogBacklog {
    int Started = 0;
    void PendingStarted() override { ++Started; }
};

size_t Characters(const std::string& utf8)
{
    size_t n = 0;
    for (char c : utf8)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

std::string Repeated(const std::string& s, size_t times)
{
    std::string out;
    for (size_t i = 0; i < times; ++i)
        out += s;
    return out;
}

}  // namespace

TEST(LogBacklog, EntriesWaitInTheirColoursAndTheWindowIsToldOncePerBatch)
{
    TCountingBacklog log;
    EXPECT_EQ(log.Colour(), clBlue);  // the pane's font colour
    log.SetColour(clRed);
    log.Append("błąd");  // bytes of code page 1250: "b\xB3\xB9d" shows as UTF-8
    log.Append("");
    log.SetColour(clBlue);
    log.Append("\x62\xB3\xB9\x64");
    EXPECT_EQ(log.Started, 1);
    ASSERT_TRUE(log.HasPending());
    auto entries = log.TakePending();
    EXPECT_FALSE(log.HasPending());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].Colour, clRed);
    EXPECT_EQ(entries[1].Colour, clRed);
    EXPECT_EQ(entries[1].Text, "");
    EXPECT_EQ(entries[2].Colour, clBlue);
    EXPECT_EQ(entries[2].Text, "błąd");
    log.Append("znowu");
    EXPECT_EQ(log.Started, 2);
}

TEST(LogBacklog, WhatWaitsAndWhatThePaneKeepsAreBounded)
{
    TCountingBacklog log;
    constexpr size_t Max = TLogBacklog::MaxEntries;
    for (size_t i = 0; i < Max + 5; ++i)
        log.Append("wpis " + std::to_string(i));
    auto entries = log.TakePending();
    ASSERT_EQ(entries.size(), Max);
    EXPECT_EQ(entries.front().Text, "wpis 5");  // what would scroll off unseen is not kept
    EXPECT_EQ(entries.back().Text, "wpis " + std::to_string(Max + 4));
    EXPECT_EQ(log.Started, 1);

    // The pane reports what it showed and is told how many of its oldest to remove.
    EXPECT_EQ(log.Shown(Max - 1), 0u);
    EXPECT_EQ(log.Shown(3), 2u);
    EXPECT_EQ(log.ShownCount(), Max);
    EXPECT_EQ(log.Shown(Max), Max);
    EXPECT_EQ(log.ShownCount(), Max);
    EXPECT_EQ(log.Shown(0), 0u);
}

TEST(LogBacklog, AnEntryShowsItsLineBreaksAndControlBytesAndIsCutAtTheCap)
{
    constexpr size_t Cap = TLogBacklog::MaxEntryChars;
    EXPECT_EQ(LogEntryShown(std::string("a\rb\0c", 5)), "a\n    b{00}c");
    // A MiB is cut to the cap and ends in the ellipsis.
    EXPECT_EQ(LogEntryShown("get /" + std::string(1024 * 1024, 'a')), "get /" + std::string(Cap - 5, 'a') + "…");
    EXPECT_EQ(LogEntryShown(std::string(Cap, 'b')), std::string(Cap, 'b'));  // exactly the cap: whole
    // Shown four times longer: cut by characters shown, not bytes received.
    EXPECT_EQ(LogEntryShown(std::string(Cap / 2, '\x01')), Repeated("{01}", Cap / 4) + "…");
    // Letters of two UTF-8 bytes count as one character each.
    EXPECT_EQ(LogEntryShown(std::string(Cap, '\xB3')), Repeated("ł", Cap));
    std::string cut = LogEntryShown(std::string(Cap + 1, '\xB3'));
    EXPECT_EQ(Characters(cut), Cap + 1);
    EXPECT_EQ(cut, Repeated("ł", Cap) + "…");
    // The indent of a continuation counts too.
    std::string indented = LogEntryShown("x\r" + std::string(Cap, 'c'));
    EXPECT_EQ(Characters(indented), Cap + 1);
    EXPECT_EQ(indented.rfind("x\n    ccc", 0), 0u);
}
