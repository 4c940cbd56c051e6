// Text for the Windows console and from the Windows command line.
#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "app/Serwer.h"
#include "app/windows/ConsoleText.h"
#include "core/windows/WideText.h"
#include "core/Znaki.h"

TEST(ConsoleText, LogEntriesReachTheConsoleAsCharactersInTheirColours)
{
    // White on blue: the background stays, the foreground changes.
    const WORD normal = BACKGROUND_BLUE | FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE;
    std::string marked;
    AppendConsoleEntry(marked, HttpPortFailure("80", Znaki::ToCp1250("łódź"), 8074), ConsoleRed);
    AppendConsoleEntry(marked, "", ConsoleRed);
    AppendConsoleEntry(marked, Znaki::ToCp1250("5>wypowiedź dla 7 o treści \"zażółć gęślą jaźń\""), ConsoleBlue);
    AppendConsoleEntry(marked, ByteString("x\0\x1b\x01", 4), ConsoleBlue);

    std::vector<TConsoleRun> runs = ConsoleRuns(marked, normal);
    ASSERT_EQ(runs.size(), 6u);
    const WORD red = BACKGROUND_BLUE | FOREGROUND_RED | FOREGROUND_INTENSITY;
    const WORD blue = BACKGROUND_BLUE | FOREGROUND_BLUE | FOREGROUND_INTENSITY;
    EXPECT_EQ(runs[0].Attributes, red);
    EXPECT_EQ(runs[0].Text.substr(0, 36), L"Nie udało się otworzyć portu 80 !\n  ");
    EXPECT_NE(runs[0].Text.find(L"„\\appsvc\\appmsg4.asp” serwera witrualnego „łódź”"), std::wstring::npos);
    EXPECT_EQ(runs[1].Attributes, normal);  // the line break, and the empty entry shows nothing
    EXPECT_EQ(runs[1].Text, L"\n\n");
    EXPECT_EQ(runs[2].Attributes, blue);
    EXPECT_EQ(runs[2].Text, L"5>wypowiedź dla 7 o treści \"zażółć gęślą jaźń\"");
    EXPECT_EQ(runs[3].Attributes, normal);
    EXPECT_EQ(runs[3].Text, L"\n");
    // A client's control bytes (a mark among them) are shown, never taken for a colour change.
    EXPECT_EQ(runs[4].Attributes, blue);
    EXPECT_EQ(runs[4].Text, L"x{00}{1B}{01}");
    EXPECT_EQ(runs[5].Text, L"\n");
}

TEST(ConsoleText, ColoursKeepTheBackgroundAndNormalIsTheConsolesOwn)
{
    const WORD black = FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE;
    EXPECT_EQ(ConsoleAttributes(ConsoleRed, black), FOREGROUND_RED | FOREGROUND_INTENSITY);
    EXPECT_EQ(ConsoleAttributes(ConsoleBlue, black), FOREGROUND_BLUE | FOREGROUND_INTENSITY);
    const WORD light = BACKGROUND_RED | BACKGROUND_GREEN | BACKGROUND_BLUE | BACKGROUND_INTENSITY;
    EXPECT_EQ(ConsoleAttributes(ConsoleRed, light), light | FOREGROUND_RED | FOREGROUND_INTENSITY);
    EXPECT_EQ(ConsoleAttributes(ConsoleNormal, light | FOREGROUND_GREEN), light | FOREGROUND_GREEN);
}

TEST(ConsoleText, Utf8AndUtf16RoundTripBeyondTheBasicPlane)
{
    const std::string text = "zażółć gęślą jaźń \xF0\x9F\x98\x80 „cudzysłów”";
    std::wstring wide = WideOf(text);
    EXPECT_EQ(wide, L"zażółć gęślą jaźń \U0001F600 „cudzysłów”");
    EXPECT_EQ(Utf8Of(wide), text);
    EXPECT_EQ(WideOf(""), L"");
}

TEST(ConsoleText, CommandLineArgumentsKeepPolishLettersAndQuotes)
{
    std::vector<std::string> args = ArgumentsFromCommandLine(
        L"\"C:\\Program Files\\trelubki-serwer.exe\" --doc-dir \"C:\\Dokumenty użytkownika\\źródła www\" "
        L"--address=łódź.lan --headless");
    ASSERT_EQ(args.size(), 5u);
    EXPECT_EQ(args[0], "C:\\Program Files\\trelubki-serwer.exe");
    EXPECT_EQ(args[2], "C:\\Dokumenty użytkownika\\źródła www");

    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    TCommandLine options;
    ASSERT_EQ(ParseCommandLine(static_cast<int>(argv.size()), argv.data(), options), "");
    EXPECT_EQ(options.DocDir, "C:\\Dokumenty użytkownika\\źródła www");
    EXPECT_EQ(options.Address, "łódź.lan");  // announced in code page 1250 from here on
    EXPECT_TRUE(options.Headless);
}
