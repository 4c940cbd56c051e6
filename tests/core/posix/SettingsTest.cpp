#include <gtest/gtest.h>
#include <dlfcn.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/Settings.h"
#include "core/posix/IniFolder.h"

// What reaches the disk and when: fsync and rename of this test program are watched (and passed
// on to the system's), so a test can see the order in which a write makes its file durable.
namespace {
bool Watching = false;
std::vector<std::string> DiskEvents;

std::string PathOf(int fd)
{
    char link[64], target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string("?");
}
}  // namespace

extern "C" int fsync(int fd)
{
    static auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    if (Watching)
        DiskEvents.push_back("fsync " + PathOf(fd));
    return real(fd);
}

extern "C" int rename(const char* from, const char* to) noexcept
{
    static auto real = reinterpret_cast<int (*)(const char*, const char*)>(dlsym(RTLD_NEXT, "rename"));
    if (Watching)
        DiskEvents.push_back(std::string("rename ") + from + " " + to);
    return real(from, to);
}

namespace {

struct SettingsTest : ::testing::Test {
    std::filesystem::path Dir;
    void SetUp() override
    {
        char tmpl[] = "/tmp/tzz-config-XXXXXX";
        Dir = mkdtemp(tmpl);
        setenv("XDG_CONFIG_HOME", Dir.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(Dir); }
};

}  // namespace

TEST_F(SettingsTest, KeyIsMadeEmptyThenValuesAppearAndSurvive)
{
    TSettingsStore store("Welkor/Trelubki/Serwer");
    EXPECT_EQ(store.Location(), (Dir / "Welkor/Trelubki/Serwer.ini").string());
    ASSERT_TRUE(store.Open());
    EXPECT_TRUE(std::filesystem::exists(store.Location()));
    EXPECT_FALSE(store.Read("ustawienia", "adres").has_value());

    ASSERT_TRUE(store.Write("ustawienia", "adres", "serwer.lan"));
    ASSERT_TRUE(store.Write("inne", "x", "1"));
    ASSERT_TRUE(store.Write("ustawienia", "adres", ""));
    ASSERT_TRUE(store.Write("ustawienia", "drugi", " a\\b\nc "));
    TSettingsStore again("Welkor/Trelubki/Serwer");
    EXPECT_EQ(again.Read("ustawienia", "adres"), "");  // stored empty is not absent
    EXPECT_EQ(again.Read("ustawienia", "drugi"), " a\\b\nc ");
    EXPECT_EQ(again.Read("inne", "x"), "1");
    std::ifstream in(store.Location());
    std::string all((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(all, "[ustawienia]\nadres=\ndrugi=\\sa\\\\b\\nc\\s\n[inne]\nx=1\n");
}

TEST_F(SettingsTest, WriteReachesTheDiskBeforeTheRenameAndTheFolderAfter)
{
    TSettingsStore store("Welkor/Trelubki/Serwer");
    ASSERT_TRUE(store.Open());
    std::string folder = (Dir / "Welkor/Trelubki").string();
    DiskEvents.clear();
    Watching = true;
    bool written = store.Write("ustawienia", "adres", "serwer.lan");
    Watching = false;
    ASSERT_TRUE(written);
    ASSERT_EQ(DiskEvents.size(), 3u) << ::testing::PrintToString(DiskEvents);
    std::string temp = DiskEvents[0].substr(6);
    EXPECT_EQ(DiskEvents[0], "fsync " + temp);
    EXPECT_EQ(temp.rfind(store.Location() + ".tmp", 0), 0u) << temp;  // the new text, before it is the file
    EXPECT_EQ(DiskEvents[1], "rename " + temp + " " + store.Location());
    EXPECT_EQ(DiskEvents[2], "fsync " + folder);  // the folder's new entry
    EXPECT_EQ(store.Read("ustawienia", "adres"), "serwer.lan");
    EXPECT_FALSE(std::filesystem::exists(temp));
}


namespace {

std::string Contents(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

void Put(const std::string& file, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

}  // namespace

TEST_F(SettingsTest, HandEditedFileIsReadAsWrittenAndKeptWhenWritten)
{
    TSettingsStore store("Welkor/Trelubki/Serwer");
    // A byte-order mark, CR LF, blanks around the section, names and values, comments.
    Put(store.Location(), "\xEF\xBB\xBF; adres serwera\r\n [ ustawienia ] \r\n\tadres = 10.0.0.9 \r\n# koniec\r\n");
    ASSERT_TRUE(store.Open());
    EXPECT_EQ(store.Read("ustawienia", "adres"), "10.0.0.9");
    EXPECT_EQ(store.Error(), "");
    ASSERT_TRUE(store.Write("ustawienia", "adres", "10.0.0.10"));
    EXPECT_EQ(store.Read("ustawienia", "adres"), "10.0.0.10");
    EXPECT_EQ(Contents(store.Location()), "; adres serwera\n [ ustawienia ] \nadres=10.0.0.10\n# koniec\n");
}

TEST_F(SettingsTest, UnreadableIsToldFromMissingAndNeverOverwritten)
{
    TSettingsStore store("Welkor/Trelubki/Serwer");
    EXPECT_FALSE(store.Read("ustawienia", "adres").has_value());
    EXPECT_EQ(store.Error(), "");  // missing: nothing wrong
    std::filesystem::create_directories(store.Location());  // a name that cannot be read as a file
    EXPECT_FALSE(store.Open());
    EXPECT_EQ(store.Error(), "cannot read " + store.Location() + ": Is a directory");
    EXPECT_FALSE(store.Read("ustawienia", "adres").has_value());
    EXPECT_NE(store.Error(), "");
    EXPECT_FALSE(store.Write("ustawienia", "adres", "x"));
    EXPECT_TRUE(std::filesystem::is_directory(store.Location()));
    std::filesystem::remove(store.Location());

    // A file far larger than anything the program writes is refused, not read into memory.
    Put(store.Location(), "[ustawienia]\nadres=a\n" + std::string(2 * 1024 * 1024, '#'));
    EXPECT_FALSE(store.Read("ustawienia", "adres").has_value());
    EXPECT_NE(store.Error().find("larger than"), std::string::npos) << store.Error();
    EXPECT_FALSE(store.Write("ustawienia", "adres", "b"));
}

TEST_F(SettingsTest, ReadOnlyFileIsRespectedAndAWrittenFileKeepsItsMode)
{
    TSettingsStore store("Welkor/Trelubki/Serwer");
    Put(store.Location(), "[ustawienia]\nadres=stary\n");
    chmod(store.Location().c_str(), 0444);  // an administrator's choice; root too keeps to it
    EXPECT_FALSE(store.Write("ustawienia", "adres", "nowy"));
    EXPECT_EQ(store.Error(), "cannot write " + store.Location() + ": Permission denied (the file is read-only)");
    EXPECT_EQ(Contents(store.Location()), "[ustawienia]\nadres=stary\n");
    struct stat st {};
    ASSERT_EQ(stat(store.Location().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);

    chmod(store.Location().c_str(), 0640);
    EXPECT_TRUE(store.Write("ustawienia", "adres", "nowy"));
    EXPECT_EQ(store.Error(), "");
    ASSERT_EQ(stat(store.Location().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(store.Read("ustawienia", "adres"), "nowy");
}

TEST_F(SettingsTest, WritableFileInAFolderThatTakesNoNewFileIsWrittenInPlace)
{
    TSettingsStore store("Welkor/Trelubki/Serwer");
    Put(store.Location(), "[ustawienia]\nadres=stary adres, dłuższy od nowego\n");
    std::string folder = std::filesystem::path(store.Location()).parent_path().string();
    // Root writes in any folder: the write is then made as an ordinary user, in a child.
    bool asRoot = geteuid() == 0;
    const passwd* nobody = getpwnam("nobody");
    if (asRoot && !nobody)
        GTEST_SKIP() << "no user 'nobody' to write as";
    if (asRoot) {
        chmod(Dir.c_str(), 0755);
        chmod((Dir / "Welkor").c_str(), 0755);
        ASSERT_EQ(chown(store.Location().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    chmod(folder.c_str(), 0555);
    pid_t child = fork();
    if (child == 0) {
        if (asRoot && (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0))
            _exit(3);
        TSettingsStore again("Welkor/Trelubki/Serwer");
        _exit(again.Write("ustawienia", "adres", "nowy") ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    chmod(folder.c_str(), 0755);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(Contents(store.Location()), "[ustawienia]\nadres=nowy\n");
}

TEST(SettingsFolder, WithoutXdgAndHomeTheUsersHomeComesFromThePasswordDatabase)
{
    const char* xdg = getenv("XDG_CONFIG_HOME");
    const char* home = getenv("HOME");
    std::string savedXdg = xdg ? xdg : "", savedHome = home ? home : "";
    const passwd* pw = getpwuid(geteuid());
    ASSERT_NE(pw, nullptr);
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("HOME");
    EXPECT_EQ(ConfigFolder(), std::string(pw->pw_dir) + "/.config");  // never ./.config
    setenv("XDG_CONFIG_HOME", "relative/config", 1);  // not a place: ignored
    EXPECT_EQ(ConfigFolder(), std::string(pw->pw_dir) + "/.config");
    setenv("HOME", "/home/ktos", 1);
    EXPECT_EQ(ConfigFolder(), "/home/ktos/.config");
    if (xdg)
        setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    if (home)
        setenv("HOME", savedHome.c_str(), 1);
    else
        unsetenv("HOME");
}
