#include "support/TestPlatform.h"

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <stdexcept>
#include <vector>

#include "core/windows/WideText.h"

std::string MakeTempDir(const std::string& prefix)
{
    wchar_t temp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH)
        throw std::runtime_error("no temporary folder");
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::wstring path = std::wstring(temp, n) + WideOf(prefix) + std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(GetTickCount() % 100000) + L"-" + std::to_wstring(serial++);
        if (CreateDirectoryW(path.c_str(), nullptr))
            return Utf8Of(path);
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    throw std::runtime_error("no temporary folder made for " + prefix);
}

// What the C++ heap holds, counted as it is handed out and given back: a walk of the C runtime's
// heap takes milliseconds with a server's many blocks, too slow for a test that samples the heap
// in every round. Every operator new of the program goes through these (the build links the
// C++ library statically); aligned forms are left to the library, which the code under test
// does not use.
namespace {

std::atomic<size_t> LiveBytes{0};

void* Take(size_t n)
{
    void* p = malloc(n ? n : 1);
    if (p)
        LiveBytes += _msize(p);
    return p;
}

void Give(void* p)
{
    if (p) {
        LiveBytes -= _msize(p);
        free(p);
    }
}

}  // namespace

void* operator new(size_t n)
{
    if (void* p = Take(n))
        return p;
    throw std::bad_alloc();
}

void* operator new[](size_t n)
{
    if (void* p = Take(n))
        return p;
    throw std::bad_alloc();
}

void* operator new(size_t n, const std::nothrow_t&) noexcept { return Take(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return Take(n); }
void operator delete(void* p) noexcept { Give(p); }
void operator delete[](void* p) noexcept { Give(p); }
void operator delete(void* p, size_t) noexcept { Give(p); }
void operator delete[](void* p, size_t) noexcept { Give(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Give(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Give(p); }

size_t HeapInUse()
{
    return LiveBytes;
}

// The system's table of handles, this process's entries counted (GetProcessHandleCount is not
// kept by every implementation of the system).
size_t OpenHandles()
{
    struct TEntry {
        ULONG Process;
        BYTE Type, Flags;
        USHORT Value;
        PVOID Object;
        ACCESS_MASK Access;
    };
    using TQuery = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    static const auto query = reinterpret_cast<TQuery>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    constexpr ULONG handleInformation = 16;
    constexpr LONG lengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<char> buffer(1 << 20);
    LONG status;
    ULONG needed = 0;
    while ((status = query(handleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
           lengthMismatch)
        buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 65536));
    if (status != 0)
        return 0;
    ULONG count = *reinterpret_cast<ULONG*>(buffer.data());
    const auto* entries = reinterpret_cast<const TEntry*>(buffer.data() + sizeof(ULONG_PTR));
    size_t mine = 0;
    for (ULONG i = 0; i < count; ++i)
        mine += entries[i].Process == GetCurrentProcessId();
    return mine;
}

// An open that shares nothing fails while any handle to the file is open.
bool FileIsOpen(const std::string& path)
{
    HANDLE h = CreateFileW(WideOf(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(h);
    return false;
}

// Sockets are not counted against a per-process limit one could raise.
bool AllowOpenSockets(size_t)
{
    return true;
}

namespace {

// select: a failed connect shows as an exception, which WSAPoll does not report everywhere.
bool Wait(TSocket s, bool forWrite, int timeoutMs)
{
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return ::select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed, &tv) > 0;
}

}  // namespace

bool WaitReadable(TSocket s, int timeoutMs)
{
    return Wait(s, false, timeoutMs);
}

bool WaitWritable(TSocket s, int timeoutMs)
{
    return Wait(s, true, timeoutMs);
}
