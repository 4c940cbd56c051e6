#include "app/windows/ParentConsole.h"

#include <fcntl.h>
#include <io.h>

#include "core/windows/WindowsHeaders.h"

namespace {

bool Leads(HANDLE h)
{
    return h && h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_UNKNOWN;
}

}  // namespace

void UseParentConsole()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    struct TStream {
        DWORD Std;
        int Descriptor;
        const wchar_t* Device;
        DWORD Access;
    };
    const TStream streams[] = {{STD_INPUT_HANDLE, 0, L"CONIN$", GENERIC_READ | GENERIC_WRITE},
                               {STD_OUTPUT_HANDLE, 1, L"CONOUT$", GENERIC_READ | GENERIC_WRITE},
                               {STD_ERROR_HANDLE, 2, L"CONOUT$", GENERIC_READ | GENERIC_WRITE}};
    if (Leads(GetStdHandle(STD_OUTPUT_HANDLE)) && Leads(GetStdHandle(STD_ERROR_HANDLE)))
        return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    for (const TStream& s : streams) {
        if (Leads(GetStdHandle(s.Std)))
            continue;
        HANDLE h = CreateFileW(s.Device, s.Access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            continue;
        SetStdHandle(s.Std, h);
        int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
        // The standard handle stays h (and fd with it); the descriptor gets a copy.
        if (fd >= 0 && fd != s.Descriptor)
            _dup2(fd, s.Descriptor);
    }
}
