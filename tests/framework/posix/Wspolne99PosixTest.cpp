// The folders and files of a Linux system: where a program lies, the documents folder the
// desktop's user-dirs file names, and another program that is not this one.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "framework/Wspolne99.h"

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

TEST(Wspolne99, AnotherProgramHasNoProductInformation)
{
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
