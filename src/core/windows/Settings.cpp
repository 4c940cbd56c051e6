// The settings store in the registry of the current user: key "A/B/C" is
// HKEY_CURRENT_USER\Software\A\B\C, a subkey per section, each value a string (REG_SZ) holding
// the UTF-8 text as Unicode, so that the registry editor shows it as written.
#include "core/Settings.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "core/windows/WideText.h"

namespace {

// A registry string holds no zero character: such a text could only be stored cut short.
bool Storable(const std::string& text)
{
    return text.find('\0') == std::string::npos;
}

std::wstring SectionKey(const std::string& key, const std::string& section)
{
    return WideOf(section.empty() ? key : key + "\\" + section);
}

// The largest value read back; the address and the window's numbers are a few bytes, so a value
// this long was not written by the program and is taken as absent.
constexpr DWORD MaxValueBytes = 1024 * 1024;

}  // namespace

TSettingsStore::TSettingsStore(const std::string& key)
{
    std::string path = "Software\\" + key;
    std::replace(path.begin(), path.end(), '/', '\\');
    FKey = path;
    FLocation = "HKEY_CURRENT_USER\\" + path;
}

bool TSettingsStore::Open()
{
    HKEY h = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, WideOf(FKey).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &h, nullptr) != ERROR_SUCCESS) {
        FError = "cannot open the registry key " + FLocation;
        return false;
    }
    RegCloseKey(h);
    FError.clear();
    return true;
}

std::optional<std::string> TSettingsStore::Read(const std::string& section, const std::string& name) const
{
    if (!Storable(section) || !Storable(name))
        return std::nullopt;
    std::wstring key = SectionKey(FKey, section);
    std::wstring value = WideOf(name);
    // The value may grow between asking its size and reading it: ask again, a few times.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD bytes = 0;
        LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, key.c_str(), value.c_str(), RRF_RT_REG_SZ, nullptr, nullptr,
                                      &bytes);
        if (status != ERROR_SUCCESS || bytes > MaxValueBytes)
            return std::nullopt;
        std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
        DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        status = RegGetValueW(HKEY_CURRENT_USER, key.c_str(), value.c_str(), RRF_RT_REG_SZ, nullptr, text.data(),
                              &size);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            return std::nullopt;
        // The size counts the terminating zero that the call guarantees.
        size_t chars = std::min<size_t>(size / sizeof(wchar_t), text.size());
        std::wstring_view read(text.data(), chars);
        if (size_t zero = read.find(L'\0'); zero != std::wstring_view::npos)
            read = read.substr(0, zero);
        return Utf8Of(read);
    }
    return std::nullopt;
}

bool TSettingsStore::Write(const std::string& section, const std::string& name, const std::string& value)
{
    FError = "cannot write the value " + name + " under " + FLocation;
    if (!Storable(section) || !Storable(name) || !Storable(value))
        return false;
    std::wstring text = WideOf(value);
    if (text.size() >= MaxValueBytes / sizeof(wchar_t))
        return false;
    HKEY h = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, SectionKey(FKey, section).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &h, nullptr) != ERROR_SUCCESS)
        return false;
    DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    bool written = RegSetValueExW(h, WideOf(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                  bytes) == ERROR_SUCCESS;
    // Written at once, not when the system gets round to it.
    if (written) {
        RegFlushKey(h);
        FError.clear();
    }
    RegCloseKey(h);
    return written;
}
