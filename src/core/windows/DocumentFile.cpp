// Documents on Windows. A request's name is judged twice: first by its text (no part may be
// ".", "..", a device such as CON or NUL, a name that the system would silently cut (trailing
// dot or space), a stream ("a.html::$DATA"), a wildcard or a drive), then by where the opened
// file really is: the system's final name of the file, every link and junction followed, must
// lie under the folder's own final name.
#include "core/windows/WindowsHeaders.h"

#include <algorithm>
#include <climits>
#include <cwctype>
#include <vector>

#include "core/DocumentFile.h"
#include "core/windows/WideText.h"

namespace {

constexpr DWORD MaxPathChars = 32768;

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// The names the system gives its devices in every folder, also with an extension ("nul.txt").
bool IsDeviceName(std::wstring_view part)
{
    std::wstring base(part.substr(0, part.find(L'.')));
    while (!base.empty() && base.back() == L' ')
        base.pop_back();
    for (wchar_t& c : base)
        c = static_cast<wchar_t>(std::towupper(c));
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$", L"CLOCK$"})
        if (base == device)
            return true;
    if (base.size() == 4 && (base.starts_with(L"COM") || base.starts_with(L"LPT"))) {
        wchar_t n = base[3];
        return (n >= L'0' && n <= L'9') || n == L'\u00B9' || n == L'\u00B2' || n == L'\u00B3';
    }
    return false;
}

// Whether the part of a name below the folder names a plain file name by name, with nothing the
// system would read otherwise.
bool PlainNamesBelow(std::wstring_view rest)
{
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = start;
        while (end < rest.size() && !IsSeparator(rest[end]))
            ++end;
        std::wstring_view part = rest.substr(start, end - start);
        if (!part.empty()) {
            if (part == L"." || part == L".." || part.back() == L'.' || part.back() == L' ' || IsDeviceName(part))
                return false;
            for (wchar_t c : part)
                if (c < 0x20 || std::wstring_view(L"<>:\"|?*").find(c) != std::wstring_view::npos)
                    return false;
        }
        start = end + 1;
    }
    return true;
}

std::wstring FullPath(const std::wstring& name)
{
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        DWORD n = GetFullPathNameW(name.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (n == 0 || n >= MaxPathChars)
            return {};
        if (n < buffer.size())
            return std::wstring(buffer.data(), n);
        buffer.resize(n + 1);
    }
}

// The full name in the form that takes any length and is read as it is written.
std::wstring LongForm(const std::wstring& full)
{
    if (full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\"))
        return full;
    if (full.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::wstring FinalName(HANDLE h)
{
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        DWORD n = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()),
                                            FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0 || n >= MaxPathChars)
            return {};
        if (n < buffer.size())
            return std::wstring(buffer.data(), n);
        buffer.resize(n + 1);
    }
}

bool SameTextIgnoringCase(std::wstring_view a, std::wstring_view b)
{
    return a.size() == b.size() && a.size() <= INT_MAX &&
           CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
               CSTR_EQUAL;
}

// Whether the file's final name lies under the folder's (names are compared as the file system
// does, without regard to case).
bool LiesUnder(const std::wstring& file, std::wstring folder)
{
    if (folder.empty() || file.empty())
        return false;
    if (folder.back() != L'\\')
        folder += L'\\';
    return file.size() > folder.size() && SameTextIgnoringCase(std::wstring_view(file).substr(0, folder.size()), folder);
}

std::wstring FinalFolderName(const std::wstring& folder)
{
    HANDLE h = CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return {};
    BY_HANDLE_FILE_INFORMATION info{};
    std::wstring name;
    if (GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        name = FinalName(h);
    CloseHandle(h);
    return name;
}

std::optional<time_t> TimeOf(const FILETIME& ft)
{
    // 100-nanosecond ticks since 1601; whole seconds since 1970, rounded down also before it.
    constexpr int64_t TicksPerSecond = 10000000;
    constexpr int64_t From1601To1970 = 11644473600LL * TicksPerSecond;
    int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
    int64_t since1970 = ticks - From1601To1970;
    int64_t seconds = since1970 / TicksPerSecond - (since1970 % TicksPerSecond < 0 ? 1 : 0);
    return static_cast<time_t>(seconds);
}

struct TOpened {
    HANDLE Handle = INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION Info{};
};

// Opens the document with the given access (others may read it; the reader also lets nobody
// write it meanwhile), or nothing when it is no document of the folder.
TOpened OpenDocument(const std::string& folder, const std::string& document, DWORD access, DWORD share)
{
    TOpened none;
    if (folder.empty() || document.size() <= folder.size() || document.compare(0, folder.size(), folder) != 0 ||
        folder.find('\0') != std::string::npos || document.find('\0') != std::string::npos)
        return none;
    auto wideFolder = ExactWideOf(folder);
    auto rest = ExactWideOf(std::string_view(document).substr(folder.size()));
    if (!wideFolder || !rest || !PlainNamesBelow(*rest))
        return none;
    std::wstring full = FullPath(*wideFolder + *rest);
    std::wstring root = FinalFolderName(LongForm(FullPath(*wideFolder)));
    if (full.empty() || root.empty())
        return none;
    HANDLE h = CreateFileW(LongForm(full).c_str(), access, share, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return none;
    TOpened opened{h, {}};
    // A folder does not open this way; a device or a pipe opens but is no file on a disk.
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &opened.Info) ||
        (opened.Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !LiesUnder(FinalName(h), root)) {
        CloseHandle(h);
        return none;
    }
    return opened;
}

}  // namespace

bool TDocumentFile::Exists(const std::string& folder, const std::string& document)
{
    TOpened found = OpenDocument(folder, document, FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (found.Handle == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(found.Handle);
    return true;
}

bool TDocumentFile::Open(const std::string& folder, const std::string& document)
{
    Close();
    // Read as it is: nobody may write it while it is being sent. It may be deleted or renamed
    // meanwhile (this reader keeps what it opened): a client that reads slowly must not keep
    // the site's keeper from replacing its files.
    TOpened opened = OpenDocument(folder, document, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE);
    if (opened.Handle == INVALID_HANDLE_VALUE)
        return false;
    FHandle = reinterpret_cast<intptr_t>(opened.Handle);
    FSize = (static_cast<uint64_t>(opened.Info.nFileSizeHigh) << 32) | opened.Info.nFileSizeLow;
    FModified = TimeOf(opened.Info.ftLastWriteTime);
    return true;
}

int64_t TDocumentFile::Read(char* buffer, size_t size)
{
    if (FHandle == Closed)
        return -1;
    DWORD n = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(FHandle), buffer, static_cast<DWORD>(std::min<size_t>(size, 1u << 30)), &n,
                  nullptr))
        return -1;
    return n;
}

void TDocumentFile::Close()
{
    if (FHandle != Closed)
        CloseHandle(reinterpret_cast<HANDLE>(FHandle));
    FHandle = Closed;
    FSize = 0;
    FModified.reset();
}

std::optional<time_t> FileDateOf(const std::string& fileName)
{
    auto wide = ExactWideOf(fileName);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!wide || fileName.empty() || fileName.find('\0') != std::string::npos ||
        !GetFileAttributesExW(wide->c_str(), GetFileExInfoStandard, &data))
        return std::nullopt;
    return TimeOf(data.ftLastWriteTime);
}
