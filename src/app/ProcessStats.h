#pragma once
// What the system says about this process, for the operator; one implementation per system
// (app/posix, app/windows). A figure the system does not give reads -1.
#include <cstdint>

struct TProcessStats {
    int64_t ResidentBytes = -1;  // resident memory
    int64_t OpenDescriptors = -1;  // descriptors (Windows: handles) open now
    int64_t MaxDescriptors = -1;  // the most it may open (no such limit on Windows: -1)
    double CpuSeconds = -1;  // user and system time so far
};

TProcessStats ReadProcessStats();
