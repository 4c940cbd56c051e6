#include <gtest/gtest.h>
#include <unistd.h>

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

TEST(Wspolne99, InstallLocationCodes)
{
    auto where = [](const std::string& p) {
        return InstallLocationOf(p, "/usr/bin", "/usr/", "/opt", "/home/u/Documents/", "/usr/local/");
    };
    EXPECT_EQ(where("/USR/BIN/X").Code, 'S');
    EXPECT_EQ(where("/USR/BIN/X").RelativePath, "X");
    EXPECT_EQ(where("/usr/lib/x").Code, 'W');
    EXPECT_EQ(where("/opt/Welkor/Trelubki/Serwer").Code, 'P');  // a folder given without '/'
    EXPECT_EQ(where("/opt/Welkor/Trelubki/Serwer").RelativePath, "Welkor/Trelubki/Serwer");
    TInstallLocation mine = where(std::string("/home/u/Documents/") + ProjectSubFolder + "/Trelubki/Serwer");
    EXPECT_EQ(mine.Code, 'P');
    EXPECT_EQ(mine.RelativePath, "Welkor/Trelubki/Serwer");
    EXPECT_EQ(where("/srv/tools/X").Code, '~');
    EXPECT_EQ(where("/srv/tools/X").RelativePath, "/srv/tools/X");
    EXPECT_EQ(WithSlash("/opt"), "/opt/");
    EXPECT_EQ(Slashes("a\\b\\c"), "a/b/c");
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
    std::ofstream(base + ".HLP") << "h";
    EXPECT_EQ(FindHelpFile(base), base + ".HLP");
    std::ofstream(base + ".chm") << "c";
    EXPECT_EQ(FindHelpFile(base), base + ".chm");
    std::filesystem::remove_all(dir);
}

TEST(Wspolne99, TemporaryFilesAndTheProgram)
{
    std::string t = NewTempFile();
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(std::filesystem::path(t).filename().string().substr(0, 2), "wk");
    EXPECT_TRUE(std::filesystem::exists(t));
    std::filesystem::remove(t);
    EXPECT_EQ(ProductInfoOf(ProgramPath()).ProductName, "Trelubki Serwer Zuli-Zuli");
    EXPECT_EQ(ProductInfoOf("/bin/sh").ProductName, "");
    EXPECT_EQ(FileVersionOf("/bin/sh"), (TVersionPair{0, 0}));
}

TEST(Wspolne99, DocumentsFolderIsTheOneTheDesktopNames)
{
    char tmpl[] = "/tmp/tzz-home-XXXXXX";
    std::string home = mkdtemp(tmpl);
    std::string oldHome = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", home.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_DOCUMENTS_DIR");
    EXPECT_EQ(PersonalDir(), home + "/Documents/");  // nothing named: the usual folder

    std::filesystem::create_directories(home + "/.config");
    std::ofstream(home + "/.config/user-dirs.dirs") << "# written by the desktop\n"
                                                      "XDG_DESKTOP_DIR=\"$HOME/Pulpit\"\n"
                                                      "XDG_DOCUMENTS_DIR=\"$HOME/Dokumenty\"\n";
    EXPECT_EQ(PersonalDir(), home + "/Dokumenty/");
    EXPECT_EQ(InstallLocationOf(home + "/Dokumenty/Projekty/Trelubki/trelubki-serwer").RelativePath,
              "Welkor/Trelubki/trelubki-serwer");

    std::ofstream(home + "/.config/user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"/srv/dok\\\"umenty\"\n";
    EXPECT_EQ(PersonalDir(), "/srv/dok\"umenty/");
    std::ofstream(home + "/.config/user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"wzgledny/folder\"\n";
    EXPECT_EQ(PersonalDir(), home + "/Documents/");  // not a form the file may hold

    char other[] = "/tmp/tzz-config-XXXXXX";
    std::string config = mkdtemp(other);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    std::ofstream(config + "/user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"$HOME/Dokumenty\"\n";
    EXPECT_EQ(PersonalDir(), home + "/Dokumenty/");
    setenv("XDG_DOCUMENTS_DIR", "/dokumenty", 1);
    EXPECT_EQ(PersonalDir(), "/dokumenty/");  // the environment's own word comes first

    unsetenv("XDG_DOCUMENTS_DIR");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", oldHome.c_str(), 1);
    std::filesystem::remove_all(home);
    std::filesystem::remove_all(config);
}
