#pragma once
// An anonymous pipe whose writing end is a C runtime descriptor, as standard output is, and
// reading what waits in a pipe without blocking.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>

#include <algorithm>
#include <string>

#include "core/windows/WindowsHeaders.h"

// Appends what is waiting in pipe to into, without blocking.
inline void DrainPipe(HANDLE pipe, std::string& into)
{
    DWORD waiting = 0;
    char buf[65536];
    while (pipe && PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0) {
        DWORD n = 0;
        if (!ReadFile(pipe, buf, std::min<DWORD>(waiting, sizeof buf), &n, nullptr) || n == 0)
            return;
        into.append(buf, n);
    }
}

struct TPipe {
    explicit TPipe(DWORD size)
    {
        HANDLE write = nullptr;
        EXPECT_TRUE(CreatePipe(&Read, &write, nullptr, size));
        Fd = _open_osfhandle(reinterpret_cast<intptr_t>(write), _O_WRONLY | _O_BINARY);
    }
    // The reading end first: a writer still blocked on the pipe then fails instead of waiting.
    ~TPipe()
    {
        CloseHandle(Read);
        if (Fd >= 0)
            _close(Fd);
    }
    TPipe(const TPipe&) = delete;
    TPipe& operator=(const TPipe&) = delete;

    // What is waiting, without blocking.
    std::string Drain()
    {
        std::string out;
        DrainPipe(Read, out);
        return out;
    }
    HANDLE Read = nullptr;
    int Fd = -1;
};
