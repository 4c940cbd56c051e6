#include "app/Platform.h"

#include <mutex>

#include "app/windows/ConsoleControl.h"
#include "app/windows/ConsoleText.h"
#include "net/EventLoop.h"

namespace {

// The loop that stop requests end; guarded, as the console's handler runs on a thread of its own.
std::mutex WatchMutex;
TEventLoop* WatchingLoop = nullptr;
bool StopAsked = false;  // a request that came while no loop was watched
// Set once the program has shut down in order; a closing console's handler waits for it.
HANDLE ShutDownEvent = nullptr;

void RequestStop()
{
    std::lock_guard lock(WatchMutex);
    if (WatchingLoop)
        WatchingLoop->QuitFromAnyThread();
    else
        StopAsked = true;
}

}  // namespace

BOOL WINAPI ConsoleControlHandler(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        RequestStop();
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        RequestStop();
        if (ShutDownEvent)
            WaitForSingleObject(ShutDownEvent, ConsoleCloseWaitMs);
        return TRUE;
    case CTRL_LOGOFF_EVENT:
        return TRUE;
    default:
        return FALSE;
    }
}

void PrepareProcess()
{
    // No message box of the system's for a missing disk or a crash: nobody may be there to
    // answer it, and the servers would wait.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    static const bool installed = [] {
        ShutDownEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        return SetConsoleCtrlHandler(ConsoleControlHandler, TRUE) != 0;
    }();
    (void)installed;
    // A new run: nothing has shut down yet, and no request is left over from an earlier one.
    ResetEvent(ShutDownEvent);
    std::lock_guard lock(WatchMutex);
    StopAsked = false;
}

std::vector<std::string> ProgramArguments(int argc, char** argv)
{
    std::vector<std::string> args = ArgumentsFromCommandLine(GetCommandLineW());
    if (args.empty())  // no command line to be had: what the runtime made of it
        args.assign(argv, argv + argc);
    return args;
}

void WriteStandardOutput(std::string_view utf8)
{
    WriteText(GetStdHandle(STD_OUTPUT_HANDLE), utf8);
}

void WriteStandardError(std::string_view utf8)
{
    WriteText(GetStdHandle(STD_ERROR_HANDLE), utf8);
}

void StopLoopOnRequest(TEventLoop& loop)
{
    std::lock_guard lock(WatchMutex);
    WatchingLoop = &loop;
    if (StopAsked) {
        StopAsked = false;
        loop.Quit();
    }
}

void StopWatchingLoop()
{
    std::lock_guard lock(WatchMutex);
    WatchingLoop = nullptr;
}

void ShutDownDone()
{
    StopWatchingLoop();
    if (ShutDownEvent)
        SetEvent(ShutDownEvent);
}
