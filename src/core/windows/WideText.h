#pragma once
// The system's wide-character (UTF-16) text and the program's UTF-8, both ways.
#include <optional>
#include <string>
#include <string_view>

// Invalid UTF-8 becomes U+FFFD, so any bytes give some text (for messages and values).
std::wstring WideOf(std::string_view utf8);
// None for invalid UTF-8: a file name must never stand for another one.
std::optional<std::wstring> ExactWideOf(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string Utf8Of(std::wstring_view wide);
