#include "core/windows/WideText.h"

#include <windows.h>

#include <climits>

namespace {

std::optional<std::wstring> Convert(std::string_view utf8, DWORD flags)
{
    if (utf8.empty())
        return std::wstring();
    if (utf8.size() > INT_MAX)
        return std::nullopt;
    int n = MultiByteToWideChar(CP_UTF8, flags, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (n <= 0)
        return std::nullopt;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, flags, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

}  // namespace

std::wstring WideOf(std::string_view utf8)
{
    return Convert(utf8, 0).value_or(std::wstring());
}

std::optional<std::wstring> ExactWideOf(std::string_view utf8)
{
    return Convert(utf8, MB_ERR_INVALID_CHARS);
}

std::string Utf8Of(std::wstring_view wide)
{
    if (wide.empty() || wide.size() > INT_MAX / 4)
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return {};
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n, nullptr, nullptr);
    return utf8;
}
