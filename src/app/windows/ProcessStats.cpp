#include "app/ProcessStats.h"

#include <windows.h>
#include <psapi.h>

namespace {

double Seconds(const FILETIME& t)  // in units of 100 ns
{
    ULARGE_INTEGER v;
    v.LowPart = t.dwLowDateTime;
    v.HighPart = t.dwHighDateTime;
    return static_cast<double>(v.QuadPart) / 1e7;
}

}  // namespace

TProcessStats ReadProcessStats()
{
    TProcessStats stats;
    HANDLE self = GetCurrentProcess();
    PROCESS_MEMORY_COUNTERS memory{};
    if (GetProcessMemoryInfo(self, &memory, sizeof memory))
        stats.ResidentBytes = static_cast<int64_t>(memory.WorkingSetSize);
    DWORD handles = 0;
    if (GetProcessHandleCount(self, &handles))
        stats.OpenDescriptors = handles;
    FILETIME created, exited, kernel, user;
    if (GetProcessTimes(self, &created, &exited, &kernel, &user))
        stats.CpuSeconds = Seconds(kernel) + Seconds(user);
    return stats;
}
