#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "core/Settings.h"

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
