#include "core/windows/WideText.h"

#include <windows.h>

#include <algorithm>
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
    std::wstring out;
    // In pieces below INT_MAX, never cutting a character (a piece ends before a lead byte).
    while (!utf8.empty()) {
        size_t piece = std::min<size_t>(utf8.size(), 1 << 30);
        while (piece < utf8.size() && (static_cast<unsigned char>(utf8[piece]) & 0xC0) == 0x80)
            --piece;
        int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(piece), nullptr, 0);
        size_t at = out.size();
        out.resize(at + static_cast<size_t>(n));
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(piece), out.data() + at, n);
        utf8.remove_prefix(piece);
    }
    return out;
}

std::optional<std::wstring> ExactWideOf(std::string_view utf8)
{
    return Convert(utf8, MB_ERR_INVALID_CHARS);
}

std::string Utf8Of(std::wstring_view wide)
{
    std::string out;
    while (!wide.empty()) {
        size_t piece = std::min<size_t>(wide.size(), 1 << 28);
        if (piece < wide.size() && wide[piece] >= 0xDC00 && wide[piece] <= 0xDFFF)
            --piece;  // keep a surrogate pair together
        int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(piece), nullptr, 0, nullptr, nullptr);
        size_t at = out.size();
        out.resize(at + static_cast<size_t>(n));
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(piece), out.data() + at, n, nullptr, nullptr);
        wide.remove_prefix(piece);
    }
    return out;
}
