#include "app/HeadlessLog.h"

#include <cstdint>
#include <cstring>

#include "core/Znaki.h"

namespace {

// Breaks the lines of out (from `from` on) that are longer than MaxShownLine, each break
// followed by LogContinuation, between characters.
void WrapLongLines(std::string& out, size_t from)
{
    // The usual entry is shorter than one shown line: none of its lines can be too long, and
    // a relayed message should not pay for a scan of what it has just converted.
    if (out.size() - from <= MaxShownLine)
        return;
    size_t lineStart = from;
    size_t i = from;
    for (; i < out.size(); ++i) {
        if (out[i] == '\n')
            lineStart = i + 1;
        else if (i - lineStart >= MaxShownLine)
            break;
    }
    if (i == out.size())
        return;  // the usual case: nothing to do
    std::string rest = out.substr(i);
    out.resize(i);
    size_t length = MaxShownLine;
    for (char c : rest) {
        if (c == '\n') {
            length = 0;
        } else if (length >= MaxShownLine && (static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            out += '\n';
            out += LogContinuation;
            length = LogContinuation.size();
        }
        out += c;
        ++length;
    }
}

}  // namespace

void AppendShownLogEntry(std::string& out, ByteView entry)
{
    const size_t from = out.size();
    // Runs of ordinary bytes are converted whole; CR and the other control bytes one by one.
    size_t i = 0;
    while (i < entry.size()) {
        size_t run = i;
        // Eight bytes at a time while none is below 32 (a tab among them ends the fast part).
        for (uint64_t w; run + 8 <= entry.size(); run += 8) {
            std::memcpy(&w, entry.data() + run, 8);
            if ((w - 0x2020202020202020ull) & ~w & 0x8080808080808080ull)
                break;
        }
        while (run < entry.size() && (static_cast<unsigned char>(entry[run]) >= 32 || entry[run] == '\t'))
            ++run;
        Znaki::AppendFromCp1250(out, entry.substr(i, run - i));
        if (run < entry.size()) {
            auto b = static_cast<unsigned char>(entry[run]);
            if (b == '\r') {
                out += '\n';
                out += LogContinuation;
            } else {
                AppendControlByte(out, b);
            }
        }
        i = run + 1;
    }
    WrapLongLines(out, from);
}

std::string ShowLogEntry(ByteView entry)
{
    std::string out;
    AppendShownLogEntry(out, entry);
    return out;
}

std::string DroppedEntriesLine(size_t dropped)
{
    return "(" + std::to_string(dropped) + " log entries dropped: standard output was not being read)\n";
}
