// The headless log's output on Windows. Writes to a pipe, a file and a console all block (a
// console stops while the user selects text in it), so a writer thread of the log's own does
// them; the loop's thread only adds entries to what is pending and wakes the writer at the end
// of a round. A console gets characters (UTF-16) and colours by attributes; a file or pipe the
// UTF-8 bytes, as on other systems.
#include <io.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/HeadlessLog.h"
#include "app/windows/ConsoleText.h"

struct THeadlessLog::TOutput {
    // The writer thread's body; it holds the output for as long as it runs.
    static void RunWriter(std::shared_ptr<TOutput> output);
    bool Write(const std::string& chunk) const;

    TEventLoop* Loop = nullptr;
    HANDLE Handle = INVALID_HANDLE_VALUE;
    bool Console = false;
    WORD Normal = FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE;

    // Everything below is guarded by Mutex. The writer holds it only between writes, never
    // while one blocks.
    std::mutex Mutex;
    std::condition_variable Wake;   // for the writer: something to write, or the end
    std::condition_variable Ended;  // for the log's destructor: the writer is done
    std::string Pending;            // entries not yet taken by the writer
    size_t InWriting = 0;           // bytes the writer has taken and is writing now
    size_t Dropped = 0;
    bool WriteAsked = false;
    bool Ending = false;
    bool WriterDone = false;
    DWORD WriterId = 0;
};

THeadlessLog::THeadlessLog(TEventLoop& loop, int fd) : FOutput(std::make_shared<TOutput>())
{
    TOutput& o = *FOutput;
    o.Loop = &loop;
    o.Handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    o.Console = IsConsole(o.Handle);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (o.Console && GetConsoleScreenBufferInfo(o.Handle, &info))
        o.Normal = info.wAttributes;
    std::thread(&TOutput::RunWriter, FOutput).detach();
    loop.OnRoundEnd = [this] { Flush(); };
}

THeadlessLog::~THeadlessLog()
{
    TOutput& o = *FOutput;
    o.Loop->OnRoundEnd = nullptr;
    std::unique_lock lock(o.Mutex);
    o.Ending = true;
    o.Wake.notify_one();
    // Last chance for what is pending: wait for the reader, but not for ever. A writer still
    // stuck after that is cut short; should even that fail, it keeps the output alive on its own
    // and ends with the process.
    if (o.Ended.wait_for(lock, std::chrono::seconds(2), [&] { return o.WriterDone; }))
        return;
    if (HANDLE writer = OpenThread(THREAD_TERMINATE, FALSE, o.WriterId)) {
        CancelSynchronousIo(writer);
        CloseHandle(writer);
    }
    o.Ended.wait_for(lock, std::chrono::milliseconds(200), [&] { return o.WriterDone; });
}

size_t THeadlessLog::Dropped() const
{
    std::lock_guard lock(FOutput->Mutex);
    return FOutput->Dropped;
}

void THeadlessLog::Append(ByteView line)
{
    TOutput& o = *FOutput;
    std::lock_guard lock(o.Mutex);
    if (o.Pending.size() + o.InWriting > MaxPending) {
        ++o.Dropped;
        return;
    }
    if (o.Console) {
        AppendConsoleEntry(o.Pending, line, FColour == clRed ? ConsoleRed : FColour == clBlue ? ConsoleBlue : ConsoleNormal);
    } else {
        AppendShownLogEntry(o.Pending, line);
        o.Pending += '\n';
    }
}

void THeadlessLog::Flush()
{
    TOutput& o = *FOutput;
    std::lock_guard lock(o.Mutex);
    if (!o.Pending.empty() && !o.WriteAsked) {
        o.WriteAsked = true;
        o.Wake.notify_one();
    }
}

void THeadlessLog::TOutput::RunWriter(std::shared_ptr<TOutput> output)
{
    TOutput& o = *output;
    std::unique_lock lock(o.Mutex);
    o.WriterId = GetCurrentThreadId();
    std::string chunk;
    for (;;) {
        o.Wake.wait(lock, [&] { return o.WriteAsked || o.Ending; });
        if (o.Pending.empty() && o.Dropped > 0) {
            // Caught up with everything that was kept: say what was not.
            o.Pending = DroppedEntriesLine(o.Dropped);
            o.Dropped = 0;
        }
        if (o.Pending.empty()) {
            o.WriteAsked = false;
            if (o.Ending)
                break;
            continue;
        }
        chunk.clear();
        chunk.swap(o.Pending);
        o.InWriting = chunk.size();
        lock.unlock();
        bool written = o.Write(chunk);
        lock.lock();
        o.InWriting = 0;
        // What came meanwhile is looked at before waiting again. When the output failed (the
        // reader is gone, the disk full) the chunk is lost as on other systems, and the next one
        // tries again.
        o.WriteAsked = true;
        if (!written && o.Ending)
            break;
    }
    o.WriterDone = true;
    o.Ended.notify_all();
}

bool THeadlessLog::TOutput::Write(const std::string& chunk) const
{
    if (!Console)
        return WriteAllBytes(Handle, chunk);
    for (const TConsoleRun& run : ConsoleRuns(chunk, Normal)) {
        SetConsoleTextAttribute(Handle, run.Attributes);
        if (!WriteConsoleText(Handle, run.Text))
            return false;
    }
    return true;
}
