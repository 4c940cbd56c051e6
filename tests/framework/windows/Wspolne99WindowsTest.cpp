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
}

TEST(Wspolne99Windows, ProductInformationAndVersionsFromTheVersionResource)
{
    // This test program carries the program's resources.
    TProductInfo mine = ProductInfoOf(ProgramPath());
    EXPECT_EQ(mine.ProductName, "Trelubki Serwer Zuli-Zuli");
    EXPECT_EQ(mine.ProductUrl, "http://www.welkor.pl/trelubki-serwer");
    EXPECT_EQ(mine.LegalCopyright, "Copyright © 2026 Welkor. Wszelkie prawa zastrzeżone.");  // code page 1250 read right
    EXPECT_EQ(mine.ProductVersion, (TVersionPair{0x00010000u, 0u}));  // 1.0.0.0
    EXPECT_EQ(FileVersionOf(ProgramPath()), (TVersionPair{0x00010000u, 0u}));
    EXPECT_EQ(VersionText(mine.ProductVersion), "1.00.00.00");

    // Another file's own: the system's library is the system's product, not ours.
    TProductInfo system = ProductInfoOf(SystemDir() + "kernel32.dll");
    EXPECT_NE(system.ProductName, mine.ProductName);
    EXPECT_NE(FileVersionOf(SystemDir() + "kernel32.dll"), (TVersionPair{0u, 0u}));

    // A file without version information, or none at all: empty strings and 0.0.0.0.
    std::string plain = NewTempFile();
    for (const std::string& file : {plain, plain + ".none", std::string()}) {
        TProductInfo none = ProductInfoOf(file);
        EXPECT_EQ(none.ProductName, "") << file;
        EXPECT_EQ(none.ProductUrl, "") << file;
        EXPECT_EQ(none.LegalCopyright, "") << file;
        EXPECT_EQ(none.ProductVersion, (TVersionPair{})) << file;
        EXPECT_EQ(FileVersionOf(file), (TVersionPair{})) << file;
    }
    std::filesystem::remove(PathOfUtf8(plain));
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
