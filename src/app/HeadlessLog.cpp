#include "app/HeadlessLog.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

THeadlessLog::THeadlessLog(TEventLoop& loop, int fd) : FLoop(loop), FFd(fd), FAnsi(isatty(fd) == 1)
{
    // A pipe or socket whose reader stalls must not block the servers: write without waiting.
    struct stat st{};
    if (fstat(fd, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)))
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    FLoop.OnRoundEnd = [this] { Flush(); };
}

THeadlessLog::~THeadlessLog()
{
    FLoop.OnRoundEnd = nullptr;
    if (FWaitingForRoom)
        FLoop.Unwatch(FFd);
    // Last chance for what is pending: wait for the reader, but not for ever.
    int64_t end = MonotonicMs() + 2000;
    while (WriteOut()) {
        int64_t left = end - MonotonicMs();
        pollfd p{FFd, POLLOUT, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
    }
}

void THeadlessLog::SetColour(TLogColour colour)
{
    FColour = colour;
}

void THeadlessLog::Append(ByteView line)
{
    if (FPending.size() > MaxPending) {
        ++FDropped;
        return;
    }
    if (FAnsi)
        FPending += FColour == clRed ? "\x1b[31m" : FColour == clBlue ? "\x1b[34m" : "\x1b[0m";
    AppendShownLogEntry(FPending, line);
    if (FAnsi)
        FPending += "\x1b[0m";
    FPending += '\n';
}

bool THeadlessLog::WriteOut()
{
    size_t done = 0;
    bool wouldBlock = false;
    while (done < FPending.size()) {
        ssize_t n = ::write(FFd, FPending.data() + done, FPending.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            wouldBlock = true;  // the rest waits for room
            break;
        } else {
            done = FPending.size();  // the reader is gone: nobody will read this
            break;
        }
    }
    FPending.erase(0, done);
    if (FPending.empty() && FDropped > 0) {
        FPending = "(" + std::to_string(FDropped) + " log entries dropped: standard output was not being read)\n";
        FDropped = 0;
        return WriteOut();
    }
    return wouldBlock;
}

void THeadlessLog::Flush()
{
    if (FPending.empty() || FWaitingForRoom)
        return;
    if (WriteOut()) {
        FWaitingForRoom = true;
        FLoop.WatchWritable(FFd, [this] {
            FLoop.Unwatch(FFd);
            FWaitingForRoom = false;
            Flush();
        });
    }
}
