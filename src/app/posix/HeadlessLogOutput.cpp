// The headless log's output on a descriptor: written without waiting, the rest when the loop
// finds the descriptor writable.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "app/HeadlessLog.h"

struct THeadlessLog::TOutput {
    TOutput(TEventLoop& loop, int fd) : Loop(loop), Fd(fd), Ansi(isatty(fd) == 1) {}

    bool WriteOut();  // true when the descriptor has no room for the rest
    void Flush();

    TEventLoop& Loop;
    int Fd;
    bool Ansi;
    bool WaitingForRoom = false;
    std::string Pending;
    size_t Dropped = 0;
};

THeadlessLog::THeadlessLog(TEventLoop& loop, int fd) : FOutput(std::make_shared<TOutput>(loop, fd))
{
    // A pipe or socket whose reader stalls must not block the servers: write without waiting.
    struct stat st{};
    if (fstat(fd, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)))
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    loop.OnRoundEnd = [this] { Flush(); };
}

THeadlessLog::~THeadlessLog()
{
    TOutput& o = *FOutput;
    o.Loop.OnRoundEnd = nullptr;
    if (o.WaitingForRoom)
        o.Loop.Unwatch(o.Fd);
    // Last chance for what is pending: wait for the reader, but not for ever.
    int64_t end = MonotonicMs() + 2000;
    while (o.WriteOut()) {
        int64_t left = end - MonotonicMs();
        pollfd p{o.Fd, POLLOUT, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
    }
}

size_t THeadlessLog::Dropped() const
{
    return FOutput->Dropped;
}

void THeadlessLog::Append(ByteView line)
{
    TOutput& o = *FOutput;
    if (o.Pending.size() > MaxPending) {
        ++o.Dropped;
        return;
    }
    if (o.Ansi)
        o.Pending += FColour == clRed ? "\x1b[31m" : FColour == clBlue ? "\x1b[34m" : "\x1b[0m";
    AppendShownLogEntry(o.Pending, line);
    if (o.Ansi)
        o.Pending += "\x1b[0m";
    o.Pending += '\n';
}

bool THeadlessLog::TOutput::WriteOut()
{
    size_t done = 0;
    bool wouldBlock = false;
    while (done < Pending.size()) {
        ssize_t n = ::write(Fd, Pending.data() + done, Pending.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            wouldBlock = true;  // the rest waits for room
            break;
        } else {
            done = Pending.size();  // the reader is gone: nobody will read this
            break;
        }
    }
    Pending.erase(0, done);
    if (Pending.empty() && Dropped > 0) {
        Pending = DroppedEntriesLine(Dropped);
        Dropped = 0;
        return WriteOut();
    }
    return wouldBlock;
}

void THeadlessLog::TOutput::Flush()
{
    if (Pending.empty() || WaitingForRoom)
        return;
    if (WriteOut()) {
        WaitingForRoom = true;
        Loop.WatchWritable(Fd, [this] {
            Loop.Unwatch(Fd);
            WaitingForRoom = false;
            Flush();
        });
    }
}

void THeadlessLog::Flush()
{
    FOutput->Flush();
}
