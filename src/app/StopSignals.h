#pragma once
// SIGINT and SIGTERM reach the program as a readable descriptor, never as work done inside a
// signal handler: blocked here, read from the descriptor by the loop that waits for them.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

inline int StopSignalsDescriptor()
{
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    return signalfd(-1, &stop, SFD_NONBLOCK | SFD_CLOEXEC);
}

// Takes every waiting signal off the descriptor; true when there was one.
inline bool TakeStopSignals(int fd)
{
    bool any = false;
    signalfd_siginfo info;
    while (read(fd, &info, sizeof info) == sizeof info)
        any = true;
    return any;
}
