#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>

#include "core/Utf8Path.h"
#include "framework/Wspolne99.h"

namespace {

std::string Upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

TEST(Wspolne99Windows, TheProgramItsFolderAndTheDocumentFolderBesideIt)
{
    const std::string& program = ProgramPath();
    ASSERT_GT(program.size(), 4u);
    EXPECT_EQ(Upper(program.substr(program.size() - 4)), ".EXE");
    EXPECT_TRUE(SameFile(program, Upper(program)));  // names compare as the file system does
    EXPECT_FALSE(SameFile(program, program + ".none"));
    EXPECT_EQ(PathOfUtf8(DefaultDocumentFolder()), PathOfUtf8(program).parent_path() / "wwwroot");
    EXPECT_EQ(ProductInfoOf(program).ProductName, "Trelubki Serwer Zuli-Zuli");
    EXPECT_EQ(ProductInfoOf(SystemDir() + "kernel32.dll").ProductName, "");
}

TEST(Wspolne99Windows, FoldersEndInABackslashAndExist)
{
    for (const std::string& dir : {TempDir(), WindowsDir(), SystemDir(), PersonalDir(), ProgramFilesDir()}) {
        ASSERT_FALSE(dir.empty());
        EXPECT_EQ(dir.back(), '\\') << dir;
        EXPECT_TRUE(std::filesystem::is_directory(PathOfUtf8(dir))) << dir;
    }
    EXPECT_EQ(WithSlash("C:\\Programs"), "C:\\Programs\\");
    EXPECT_EQ(WithSlash("C:/Programs/"), "C:/Programs/");
    EXPECT_EQ(WithSlash(""), "");
}

TEST(Wspolne99Windows, InstallLocationByFoldersOfTheSystem)
{
    auto where = [](const std::string& p) {
        return InstallLocationOf(p, "C:\\Windows\\System32", "C:\\Windows", "C:\\Programs",
                                 "C:\\Users\\u\\Documents\\", "C:\\Programs\\Common Files");
    };
    EXPECT_EQ(where("C:\\WINDOWS\\SYSTEM32\\X.EXE").Code, 'S');
    EXPECT_EQ(where("C:\\WINDOWS\\SYSTEM32\\X.EXE").RelativePath, "X.EXE");
    EXPECT_EQ(where("D:\\Tools\\X.exe").Code, '~');
    EXPECT_EQ(where("D:\\Tools\\X.exe").RelativePath, "D:\\Tools\\X.exe");
    EXPECT_EQ(where("C:\\Programs\\Welkor\\Trelubki\\Serwer.exe").RelativePath, "Welkor\\Trelubki\\Serwer.exe");
    TInstallLocation mine = where(std::string("C:\\Users\\u\\Documents\\") + ProjectSubFolder + "\\Trelubki\\S.exe");
    EXPECT_EQ(mine.Code, 'P');
    EXPECT_EQ(mine.RelativePath, "Welkor\\Trelubki\\S.exe");
}

TEST(Wspolne99Windows, TemporaryFilesAndHelpNames)
{
    std::string t = NewTempFile();
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(Upper(PathOfUtf8(t).filename().string().substr(0, 2)), "WK");
    EXPECT_TRUE(std::filesystem::exists(PathOfUtf8(t)));
    std::filesystem::remove(PathOfUtf8(t));
    EXPECT_EQ(UserLanguageAbbreviation().size(), 3u);
    EXPECT_EQ(HelpFileBase("C:\\Programy\\Serwer.exe", "PLK"), "C:\\Programy\\SerwerPLK");
}
