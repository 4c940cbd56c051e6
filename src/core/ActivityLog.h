#pragma once
// The activity log: an append-only list of code page 1250 lines with an insertion colour. The
// window and the headless runner each provide a sink; everything else only appends.
#include <concepts>
#include <cstdint>
#include <initializer_list>

#include "core/ByteString.h"

struct TLogColour {
    uint8_t R = 0, G = 0, B = 0;
    bool operator==(const TLogColour&) const = default;
};

inline constexpr TLogColour clRed{255, 0, 0};
inline constexpr TLogColour clBlue{0, 0, 255};

class TActivityLog {
public:
    virtual ~TActivityLog() = default;
    // One entry; a CR inside it starts a new visual line of the same entry.
    virtual void Append(ByteView line) = 0;
    virtual void SetColour(TLogColour colour) = 0;
};

// One argument of a log format: a 32-bit value for %d / %x, or bytes for %s.
class TLogArg {
public:
    template <std::integral T>
    TLogArg(T value) : Number(static_cast<uint32_t>(value)) {}
    TLogArg(ByteView text) : Text(text), IsText(true) {}
    TLogArg(const ByteString& text) : Text(text), IsText(true) {}
    TLogArg(const char* text) : Text(text), IsText(true) {}

    uint32_t Number = 0;
    ByteView Text;
    bool IsText = false;
};

// Fills a format in the manner of printf, with only what the log lines use: %d (signed 32-bit
// decimal), %x (upper-case hexadecimal, no leading zeros), %s (bytes as they are) and %%.
// A placeholder without an argument is left as it stands. Appends to out, so that a caller can
// reuse one buffer.
void FormatLogInto(ByteString& out, ByteView format, std::initializer_list<TLogArg> args);
ByteString FormatLog(ByteView format, std::initializer_list<TLogArg> args);

// A byte below 32 as "{XX}" (upper-case hex), how the log shows control bytes.
inline void AppendControlByte(ByteString& out, unsigned char b)
{
    static const char digits[] = "0123456789ABCDEF";
    out += '{';
    out += digits[b >> 4];
    out += digits[b & 15];
    out += '}';
}
