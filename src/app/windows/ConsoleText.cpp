#include "app/windows/ConsoleText.h"

#include <shellapi.h>

#include <algorithm>
#include <climits>

#include "app/HeadlessLog.h"
#include "core/windows/WideText.h"

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
        out.push_back(Utf8Of(args[i]));
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
                runs.back().Text += WideOf(text);
            else
                runs.push_back({attributes, WideOf(text)});
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
        return WriteConsoleText(handle, WideOf(utf8));
    return WriteAllBytes(handle, utf8);
}
