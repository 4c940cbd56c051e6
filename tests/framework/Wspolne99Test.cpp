#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "framework/Wspolne99.h"

namespace {

std::string TempFileWith(const std::string& bytes)
{
    std::string name = NewTempFile();
    std::ofstream(name, std::ios::binary) << bytes;
    return name;
}

}  // namespace

TEST(Wspolne99, VersionPairsFromFilesOfAnyLength)
{
    std::string six = TempFileWith(std::string("\x01\x00\x02\x00\x03\x00", 6));
    EXPECT_EQ(VersionPairFromFile(six), (TVersionPair{0x00020001u, 0x00000003u}));
    EXPECT_EQ(VersionText(VersionPairFromFile(six)), "2.01.00.03");
    std::string empty = TempFileWith("");
    EXPECT_EQ(VersionPairFromFile(empty), (TVersionPair{0, 0}));
    EXPECT_EQ(VersionPairFromFile("/nonexistent/x.wersja"), (TVersionPair{0, 0}));
    std::string longer = TempFileWith(std::string("\x07\x00\x01\x00\x00\x00\x02\x00zzzz", 12));
    EXPECT_EQ(VersionPairFromFile(longer), (TVersionPair{0x00010007u, 0x00020000u}));
    std::filesystem::remove(six);
    std::filesystem::remove(empty);
    std::filesystem::remove(longer);
}

TEST(Wspolne99, VersionsCompareSignedMostSignificantFirst)
{
    EXPECT_EQ(CompareVersions({0x00020000, 0}, {0x00010000, 0xFFFF}), 1);
    EXPECT_EQ(CompareVersions({1, 2}, {1, 2}), 0);
    EXPECT_EQ(CompareVersions({1, 1}, {1, 2}), -1);
    EXPECT_EQ(CompareVersions({0x80000000u, 0}, {1, 0}), -1);  // a negative part is older
    EXPECT_EQ(VersionText({0x00020001, 0x00000007}), "2.01.00.07");
}

TEST(Wspolne99, HelpFileNamesAndTheirOrder)
{
    EXPECT_EQ(LanguageAbbreviation("pl_PL.UTF-8"), "PLK");
    EXPECT_EQ(LanguageAbbreviation("en_US.UTF-8"), "ENU");
    EXPECT_EQ(LanguageAbbreviation("en_GB"), "ENG");
    EXPECT_EQ(LanguageAbbreviation("C"), "ENU");
    std::filesystem::path dir = std::filesystem::path(NewTempFile() + ".d");
    std::filesystem::create_directories(dir);
    std::string base = HelpFileBase((dir / "Serwer.bin").string(), "PLK");
    EXPECT_EQ(base, (dir / "SerwerPLK").string());
    EXPECT_EQ(FindHelpFile(base), "");
    EXPECT_EQ(HelpViewerOf(FindHelpFile(base)), THelpViewer::None);
    std::ofstream(base + ".HLP") << "h";
    EXPECT_EQ(FindHelpFile(base), base + ".HLP");
    EXPECT_EQ(HelpViewerOf(FindHelpFile(base)), THelpViewer::WinHelp);
    std::ofstream(base + ".chm") << "c";
    EXPECT_EQ(FindHelpFile(base), base + ".chm");
    EXPECT_EQ(HelpViewerOf(FindHelpFile(base)), THelpViewer::HtmlHelp);
    std::filesystem::remove_all(dir);
}

TEST(Wspolne99, HelpViewerByTheFilesExtension)
{
    EXPECT_EQ(HelpViewerOf("C:\\P\\SerwerPLK.CHM"), THelpViewer::HtmlHelp);
    EXPECT_EQ(HelpViewerOf("/opt/x/SerwerPLK.hlp"), THelpViewer::WinHelp);
    EXPECT_EQ(HelpViewerOf("/opt/x/SerwerPLK.chm.txt"), THelpViewer::None);
    EXPECT_EQ(HelpViewerOf(".chm"), THelpViewer::None);  // a name is more than its extension
    EXPECT_EQ(HelpViewerOf(""), THelpViewer::None);
}
