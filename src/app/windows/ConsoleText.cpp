#include "app/windows/ConsoleText.h"

#include <shellapi.h>

#include <algorithm>
#include <climits>

#include "app/HeadlessLog.h"

std::wstring Utf16FromUtf8(std::string_view utf8)
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

std::string Utf8FromUtf16(std::wstring_view utf16)
{
    std::string out;
    while (!utf16.empty()) {
        size_t piece = std::min<size_t>(utf16.size(), 1 << 28);
        if (piece < utf16.size() && utf16[piece] >= 0xDC00 && utf16[piece] <= 0xDFFF)
            --piece;  // keep a surrogate pair together
        int n = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(piece), nullptr, 0, nullptr, nullptr);
        size_t at = out.size();
        out.resize(at + static_cast<size_t>(n));
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(piece), out.data() + at, n, nullptr, nullptr);
        utf16.remove_prefix(piece);
    }
    return out;
}

std::vector<std::string> ArgumentsFromCommandLine(const wchar_t* commandLine)
{
    std::vector<std::string> out;
    int count = 0;
    // An empty line would give the program's own path instead of nothing.
    if (!commandLine || !*commandLine)
        return out;
    wchar_t** args = CommandLineToArgvW(commandLine, &count);
    if (!args)
        return out;
    for (int i = 0; i < count; ++i)
        out.push_back(Utf8FromUtf16(args[i]));
    LocalFree(args);
    return out;
}

void AppendConsoleEntry(std::string& out, ByteView entry, char colour)
{
    out += ConsoleMark;
    out += colour;
    AppendShownLogEntry(out, entry);
    out += ConsoleMark;
    out += ConsoleNormal;
    out += '\n';
}

WORD ConsoleAttributes(char colour, WORD normal)
{
    const WORD background = normal & (BACKGROUND_RED | BACKGROUND_GREEN | BACKGROUND_BLUE | BACKGROUND_INTENSITY);
    switch (colour) {
    case ConsoleRed:
        return background | FOREGROUND_RED | FOREGROUND_INTENSITY;
    case ConsoleBlue:
        return background | FOREGROUND_BLUE | FOREGROUND_INTENSITY;
    default:
        return normal;
    }
}

std::vector<TConsoleRun> ConsoleRuns(std::string_view marked, WORD normal)
{
    std::vector<TConsoleRun> runs;
    WORD attributes = normal;
    while (!marked.empty()) {
        size_t mark = marked.find(ConsoleMark);
        std::string_view text = marked.substr(0, mark);
        if (!text.empty()) {
            if (!runs.empty() && runs.back().Attributes == attributes)
                runs.back().Text += Utf16FromUtf8(text);
            else
                runs.push_back({attributes, Utf16FromUtf8(text)});
        }
        if (mark == std::string_view::npos)
            break;
        if (mark + 1 < marked.size())
            attributes = ConsoleAttributes(marked[mark + 1], normal);
        marked.remove_prefix(std::min(mark + 2, marked.size()));
    }
    return runs;
}

bool IsConsole(HANDLE handle)
{
    DWORD mode = 0;
    return handle && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

bool WriteConsoleText(HANDLE console, std::wstring_view text)
{
    // Consoles of older systems refuse a large write; a few KiB at a time always goes.
    constexpr size_t Piece = 8192;
    while (!text.empty()) {
        size_t n = std::min(text.size(), Piece);
        if (n < text.size() && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF)
            --n;  // keep a surrogate pair together
        DWORD written = 0;
        if (!WriteConsoleW(console, text.data(), static_cast<DWORD>(n), &written, nullptr) || written == 0)
            return false;
        text.remove_prefix(written);
    }
    return true;
}

bool WriteAllBytes(HANDLE handle, std::string_view bytes)
{
    while (!bytes.empty()) {
        DWORD n = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1 << 20));
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data(), n, &written, nullptr) || written == 0)
            return false;
        bytes.remove_prefix(written);
    }
    return true;
}

bool WriteText(HANDLE handle, std::string_view utf8)
{
    if (!handle || handle == INVALID_HANDLE_VALUE)
        return false;
    if (IsConsole(handle))
        return WriteConsoleText(handle, Utf16FromUtf8(utf8));
    return WriteAllBytes(handle, utf8);
}
