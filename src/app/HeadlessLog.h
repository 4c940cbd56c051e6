#pragma once
// The activity log without a window: each entry becomes one UTF-8 line on a descriptor
// (standard output), a CR inside an entry a line break. What a loop round produced is written in
// one go at the end of the round. Colours when the output is a terminal or console. How the
// lines are written is the system's: app/posix (non-blocking writes the loop waits on) and
// app/windows (a writer thread: console, file and pipe writes block there).
#include <cstddef>
#include <memory>
#include <string_view>

#include "core/ActivityLog.h"
#include "net/EventLoop.h"

class THeadlessLog : public TActivityLog {
public:
    // Unwritten output kept while the reader does not keep up; entries beyond it are dropped
    // and counted, and a line saying how many follows once the reader has caught up. The servers
    // never wait for the reader.
    static constexpr size_t MaxPending = 4 * 1024 * 1024;

    // fd: standard output by default (on Windows a C runtime descriptor, whose handle is used).
    explicit THeadlessLog(TEventLoop& loop, int fd = 1);
    // Writes what is still pending, waiting for the reader 2 s at most.
    ~THeadlessLog() override;

    void Append(ByteView line) override;
    void SetColour(TLogColour colour) override { FColour = colour; }
    // Writes what is pending without waiting; the rest follows when the output takes it.
    void Flush();
    // Entries dropped and not yet reported by the "dropped" line.
    size_t Dropped() const;

private:
    struct TOutput;  // the system's side

    TLogColour FColour = clBlue;
    // Shared: on Windows the writer thread holds it too, and may outlive the log when the reader
    // never takes the rest.
    std::shared_ptr<TOutput> FOutput;
};

// The line that says how many entries were dropped.
std::string DroppedEntriesLine(size_t dropped);

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
