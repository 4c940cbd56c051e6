#include <gtest/gtest.h>
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/Settings.h"

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
    EXPECT_EQ(store.FileName(), (Dir / "Welkor/Trelubki/Serwer.ini").string());
    ASSERT_TRUE(store.Open());
    EXPECT_TRUE(std::filesystem::exists(store.FileName()));
    EXPECT_FALSE(store.Read("ustawienia", "adres").has_value());

    ASSERT_TRUE(store.Write("ustawienia", "adres", "serwer.lan"));
    ASSERT_TRUE(store.Write("inne", "x", "1"));
    ASSERT_TRUE(store.Write("ustawienia", "adres", ""));
    ASSERT_TRUE(store.Write("ustawienia", "drugi", " a\\b\nc "));
    TSettingsStore again("Welkor/Trelubki/Serwer");
    EXPECT_EQ(again.Read("ustawienia", "adres"), "");  // stored empty is not absent
    EXPECT_EQ(again.Read("ustawienia", "drugi"), " a\\b\nc ");
    EXPECT_EQ(again.Read("inne", "x"), "1");
    std::ifstream in(store.FileName());
    std::string all((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(all, "[ustawienia]\nadres=\ndrugi= a\\\\b\\nc \n[inne]\nx=1\n");
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
    EXPECT_EQ(temp.rfind(store.FileName() + ".tmp", 0), 0u) << temp;  // the new text, before it is the file
    EXPECT_EQ(DiskEvents[1], "rename " + temp + " " + store.FileName());
    EXPECT_EQ(DiskEvents[2], "fsync " + folder);  // the folder's new entry
    EXPECT_EQ(store.Read("ustawienia", "adres"), "serwer.lan");
    EXPECT_FALSE(std::filesystem::exists(temp));
}

