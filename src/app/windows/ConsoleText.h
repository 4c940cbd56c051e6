#pragma once
// Text between the program (UTF-8) and Windows (UTF-16): the command line, the console, names.
#include "core/windows/WindowsHeaders.h"

#include <string>
#include <string_view>
#include <vector>

#include "core/ByteString.h"
#include "core/windows/WideText.h"

// The arguments of a command line as the system splits it (argv[0] included), in UTF-8.
std::vector<std::string> ArgumentsFromCommandLine(const wchar_t* commandLine);

// The log's text meant for a console carries its colour changes with it: ConsoleMark followed by
// one of the three letters. Shown log text never holds a byte below 32 but LF and tab, so the
// mark cannot come from a client.
inline constexpr char ConsoleMark = '\x01';
inline constexpr char ConsoleRed = 'R';
inline constexpr char ConsoleBlue = 'B';
inline constexpr char ConsoleNormal = 'N';  // the console's own colours, as found at start

// One log entry (code page 1250) as a console shows it: in the colour given, the line break after
// it in the console's own colours.
void AppendConsoleEntry(std::string& out, ByteView entry, char colour);

// The console attributes for a colour letter: the console's background kept, a light foreground
// that stays readable on the usual dark or light backgrounds.
WORD ConsoleAttributes(char colour, WORD normal);

struct TConsoleRun {
    WORD Attributes;
    std::wstring Text;
};
// Splits marked UTF-8 text into runs of one colour each, in UTF-16 (empty runs left out).
std::vector<TConsoleRun> ConsoleRuns(std::string_view marked, WORD normal);

// True when the handle is a console (not a file, pipe or the null device).
bool IsConsole(HANDLE handle);
// Writes UTF-16 to a console, in pieces the console takes; false when it fails.
bool WriteConsoleText(HANDLE console, std::wstring_view text);
// Writes all of the bytes to a file or pipe, waiting as long as it takes; false when it fails.
bool WriteAllBytes(HANDLE handle, std::string_view bytes);
// UTF-8 text to a handle: as characters when it is a console, as bytes otherwise.
bool WriteText(HANDLE handle, std::string_view utf8);
