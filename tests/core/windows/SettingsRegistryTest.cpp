// The settings store in the registry. Each test sends the current user's hive to a key of its
// own (and removes it after), so the user's real settings are never touched.
#include <gtest/gtest.h>
#include <windows.h>

#include <random>
#include <string>

#include "core/Settings.h"

namespace {

struct SettingsRegistryTest : ::testing::Test {
    std::wstring Scratch;
    HKEY Root = nullptr;

    void SetUp() override
    {
        Scratch = L"Software\\TzzTest-" + std::to_wstring(std::random_device{}());
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Scratch.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &Root,
                                  nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, Root), ERROR_SUCCESS);
    }
    void TearDown() override
    {
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegCloseKey(Root);
        RegDeleteTreeW(HKEY_CURRENT_USER, Scratch.c_str());
    }
    // Read straight from the registry, as another program would.
    std::optional<std::wstring> Value(const wchar_t* key, const wchar_t* name)
    {
        wchar_t text[256] = {};
        DWORD size = sizeof text;
        if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
            return std::nullopt;
        return std::wstring(text);
    }
    bool KeyExists(const wchar_t* key)
    {
        HKEY h = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &h) != ERROR_SUCCESS)
            return false;
        RegCloseKey(h);
        return true;
    }
};

}  // namespace

TEST_F(SettingsRegistryTest, TheAddressLivesUnderTheUsersKeyAsUnicodeText)
{
    TSettingsStore store("Welkor/Trelubki/Serwer");
    EXPECT_EQ(store.Location(), "HKEY_CURRENT_USER\\Software\\Welkor\\Trelubki\\Serwer");
    EXPECT_FALSE(KeyExists(L"Software\\Welkor\\Trelubki\\Serwer"));
    ASSERT_TRUE(store.Open());
    // The key is made at once; the section and the value only with the first write.
    EXPECT_TRUE(KeyExists(L"Software\\Welkor\\Trelubki\\Serwer"));
    EXPECT_FALSE(KeyExists(L"Software\\Welkor\\Trelubki\\Serwer\\ustawienia"));
    EXPECT_FALSE(store.Read("ustawienia", "adres").has_value());

    ASSERT_TRUE(store.Write("ustawienia", "adres", "serwer-łódź.lan"));
    EXPECT_EQ(Value(L"Software\\Welkor\\Trelubki\\Serwer\\ustawienia", L"adres"), L"serwer-\u0142\u00F3d\u017A.lan");
    TSettingsStore again("Welkor/Trelubki/Serwer");
    EXPECT_EQ(again.Read("ustawienia", "adres"), "serwer-łódź.lan");

    ASSERT_TRUE(store.Write("ustawienia", "adres", ""));
    EXPECT_EQ(Value(L"Software\\Welkor\\Trelubki\\Serwer\\ustawienia", L"adres"), L"");
    EXPECT_EQ(again.Read("ustawienia", "adres"), "");  // stored empty is not absent
}

TEST_F(SettingsRegistryTest, ValueNamesWithPolishLettersAndLineBreaksSurvive)
{
    TSettingsStore store("Welkor/Trelubki Serwer Zuli-Zuli");
    ASSERT_TRUE(store.Write("StareRozmiary", "Wysokość", "342"));
    ASSERT_TRUE(store.Write("StareRozmiary", "OdGóry", "-1"));
    ASSERT_TRUE(store.Write("inne", "tekst", " a\\b\r\nc "));
    EXPECT_EQ(Value(L"Software\\Welkor\\Trelubki Serwer Zuli-Zuli\\StareRozmiary", L"Wysoko\u015B\u0107"), L"342");
    EXPECT_EQ(store.Read("StareRozmiary", "OdGóry"), "-1");
    EXPECT_EQ(store.Read("inne", "tekst"), " a\\b\r\nc ");
    EXPECT_FALSE(store.Read("StareRozmiary", "tekst").has_value());
    // A zero byte could only be stored cut short: refused, and the old value stays.
    EXPECT_FALSE(store.Write("StareRozmiary", "OdGóry", std::string("1\0" "2", 3)));
    EXPECT_EQ(store.Read("StareRozmiary", "OdGóry"), "-1");
}

TEST_F(SettingsRegistryTest, AValueOfAnotherTypeCountsAsAbsent)
{
    TSettingsStore store("Welkor/Trelubki/Serwer");
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Welkor\\Trelubki\\Serwer\\ustawienia", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    DWORD number = 7;
    RegSetValueExW(h, L"adres", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    RegCloseKey(h);
    EXPECT_FALSE(store.Read("ustawienia", "adres").has_value());
    ASSERT_TRUE(store.Write("ustawienia", "adres", "x"));  // and a write replaces it
    EXPECT_EQ(store.Read("ustawienia", "adres"), "x");
}
