#pragma once
// SIGINT and SIGTERM reach the program as a readable descriptor, never as work done inside a
// signal handler: PrepareProcess blocks them (before any thread starts, so that no thread can
// take them and end the process on the spot) and makes the descriptor; whatever loop waits for
// them reads it.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

// The process's descriptor of the stop signals; -1 before PrepareProcess.
int StopSignalsDescriptor();

// Takes every waiting signal off the descriptor; true when there was one.
inline bool TakeStopSignals(int fd)
{
    bool any = false;
    signalfd_siginfo info;
    while (read(fd, &info, sizeof info) == sizeof info)
        any = true;
    return any;
}
