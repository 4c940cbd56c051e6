#pragma once
// A byte string is a counted run of 8-bit bytes that may hold zero bytes: packets, payloads,
// buffers and log texts (code page 1250) are all kept in std::string.
#include <string>
#include <string_view>

using ByteString = std::string;
using ByteView = std::string_view;

// The text without the spaces and control characters at either end.
inline std::string TrimText(std::string_view s)
{
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return std::string(s.substr(b, e - b));
}

// ASCII letters changed in case, every other byte kept (HTTP names and methods, extensions).
inline std::string AsciiUpper(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

inline std::string AsciiLower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}
