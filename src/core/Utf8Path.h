#pragma once
// Paths are UTF-8 text in this program on every system; a narrow path of the standard library
// is not (on Windows it is the ANSI code page), so paths and text convert through these.
#include <filesystem>
#include <string>

inline std::filesystem::path PathOfUtf8(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string Utf8OfPath(const std::filesystem::path& path)
{
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}
