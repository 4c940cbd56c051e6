#pragma once
// The activity log without a window: each entry becomes one UTF-8 line on a descriptor
// (standard output), a CR inside an entry a line break. What a loop round produced is written in
// one go at the end of the round.
#include <cstddef>
#include <string_view>

#include "core/ActivityLog.h"
#include "net/EventLoop.h"

class THeadlessLog : public TActivityLog {
public:
    // Unwritten output kept while the reader does not keep up; entries beyond it are dropped
    // and counted, and a line saying how many follows once the reader has caught up. The servers
    // never wait for the reader.
    static constexpr size_t MaxPending = 4 * 1024 * 1024;

    explicit THeadlessLog(TEventLoop& loop, int fd = 1);
    ~THeadlessLog() override;

    void Append(ByteView line) override;
    void SetColour(TLogColour colour) override;
    // Writes what is pending without waiting; the rest follows when the descriptor is writable.
    void Flush();
    size_t Dropped() const { return FDropped; }

private:
    bool WriteOut();  // true when the descriptor has no room for the rest

    TEventLoop& FLoop;
    int FFd;
    bool FAnsi;
    bool FWaitingForRoom = false;
    TLogColour FColour = clBlue;
    std::string FPending;
    size_t FDropped = 0;
};

// The UTF-8 text shown for a log entry: code page 1250 decoded, CR as a line break followed by
// LogContinuation, other bytes below 32 as "{XX}" (so a zero byte or an LF never cuts a line).
// Every entry's first line starts with the server's own text, never with a space, so a line
// that starts with LogContinuation is always part of the entry above: a client's text can hold
// a CR followed by what looks like an entry, but it is shown indented, never as an entry of its
// own. A line longer than MaxShownLine continues the same way (readers of the log cut long lines:
// the journal at 48 KiB, and the rest would otherwise start a line of the client's choosing).
inline constexpr std::string_view LogContinuation = "    ";
inline constexpr size_t MaxShownLine = 16 * 1024;  // bytes of UTF-8, about; never a character cut
std::string ShowLogEntry(ByteView entry);
void AppendShownLogEntry(std::string& out, ByteView entry);
