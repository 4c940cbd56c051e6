// Where a program lies, with the folders of a Windows system: drive letters, backslashes and
// names that differ in case only.
#include <gtest/gtest.h>

#include "framework/Wspolne99.h"

TEST(Wspolne99, InstallLocationCodesWithWindowsFolders)
{
    auto where = [](const std::string& p) {
        return InstallLocationOf(p, "C:\\Windows\\System32", "C:\\Windows\\", "C:\\Program Files",
                                 "C:\\Users\\u\\Documents\\", "D:\\Common Files\\");
    };
    EXPECT_EQ(where("C:\\WINDOWS\\SYSTEM32\\X.EXE").Code, 'S');
    EXPECT_EQ(where("C:\\WINDOWS\\SYSTEM32\\X.EXE").RelativePath, "X.EXE");
    EXPECT_EQ(where("c:\\windows\\x.exe").Code, 'W');
    EXPECT_EQ(where("C:\\Program Files\\Welkor\\Trelubki\\Serwer.exe").Code, 'P');  // a folder given without '\'
    EXPECT_EQ(where("C:\\Program Files\\Welkor\\Trelubki\\Serwer.exe").RelativePath, "Welkor\\Trelubki\\Serwer.exe");
    TInstallLocation mine = where(std::string("C:\\Users\\u\\Documents\\") + ProjectSubFolder + "\\Trelubki\\Serwer.exe");
    EXPECT_EQ(mine.Code, 'P');
    EXPECT_EQ(mine.RelativePath, "Welkor\\Trelubki\\Serwer.exe");
    EXPECT_EQ(where("d:\\common files\\Welkor\\X.exe").Code, 'C');
    EXPECT_EQ(where("E:\\narzedzia\\X.exe").Code, '~');
    EXPECT_EQ(where("E:\\narzedzia\\X.exe").RelativePath, "E:\\narzedzia\\X.exe");
    EXPECT_EQ(where("C:\\Program Files (x86)\\X.exe").Code, '~');  // a sibling, not inside
    EXPECT_EQ(WithSlash("C:\\Program Files"), "C:\\Program Files\\");
    EXPECT_EQ(WithSlash("C:\\"), "C:\\");
}
