#include "app/Platform.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <iostream>

#include "app/posix/StopSignals.h"
#include "net/EventLoop.h"

namespace {

int StopFd = -1;
TEventLoop* WatchingLoop = nullptr;

// Every connection is a descriptor: take all the system allows this process.
void RaiseDescriptorLimit()
{
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        setrlimit(RLIMIT_NOFILE, &lim);
    }
}

}  // namespace

int StopSignalsDescriptor()
{
    return StopFd;
}

void PrepareProcess()
{
    RaiseDescriptorLimit();
    signal(SIGPIPE, SIG_IGN);
    if (StopFd >= 0)
        return;
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    StopFd = signalfd(-1, &stop, SFD_NONBLOCK | SFD_CLOEXEC);
}

std::vector<std::string> ProgramArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

void WriteStandardOutput(std::string_view utf8)
{
    std::cout << utf8 << std::flush;
}

void WriteStandardError(std::string_view utf8)
{
    std::cerr << utf8;
}

void StopLoopOnRequest(TEventLoop& loop)
{
    StopWatchingLoop();
    if (StopFd < 0)
        return;  // the process was not prepared: the signals still end it as they would
    WatchingLoop = &loop;
    // A signal that came before waits on the descriptor: the first round takes it.
    loop.WatchReadable(StopFd, [&loop] {
        if (TakeStopSignals(StopFd))
            loop.Quit();
    });
}

void StopWatchingLoop()
{
    if (WatchingLoop)
        WatchingLoop->Unwatch(StopFd);
    WatchingLoop = nullptr;
}

void ShutDownDone()
{
    StopWatchingLoop();
}
