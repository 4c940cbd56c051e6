// What the framework's utilities ask of the system, on Windows: the module's file name, the
// version resources of files, the system's folders, the machine's registry for the program
// folders, the shell's documents folder and the thread's language. Paths pass as UTF-8 and reach
// the system as UTF-16.
#include "core/windows/WindowsHeaders.h"
#include <knownfolders.h>
#include <winver.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <vector>

#include "core/windows/WideText.h"
#include "framework/Wspolne99.h"

namespace {

// Longest path the wide functions take.
constexpr DWORD MaxPathChars = 32768;

// Calls `get(buffer, size)` (a system call that returns the length it wrote, or the size it
// needs when the buffer is too small, 0 on failure) with a buffer that grows until it fits.
std::wstring Fetch(const std::function<DWORD(wchar_t*, DWORD)>& get)
{
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        DWORD n = get(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return {};
        if (n < buffer.size())
            return std::wstring(buffer.data(), n);
        if (buffer.size() >= MaxPathChars)
            return {};
        buffer.resize(std::min<size_t>(std::max<size_t>(n + 1, buffer.size() * 2), MaxPathChars));
    }
}

// A string value of the machine's key of the running Windows version; empty when absent.
std::string MachineValue(const wchar_t* name)
{
    const wchar_t* key = L"Software\\Microsoft\\Windows\\CurrentVersion";
    DWORD bytes = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr, nullptr, &bytes) !=
            ERROR_SUCCESS ||
        bytes == 0 || bytes > MaxPathChars * sizeof(wchar_t))
        return {};
    std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr, text.data(),
                     &size) != ERROR_SUCCESS)
        return {};
    return Utf8Of(text.data());
}

// Opened for asking about it only, whoever else has it open.
HANDLE OpenToAsk(const std::string& name)
{
    auto wide = ExactWideOf(name);
    if (!wide || name.empty())
        return INVALID_HANDLE_VALUE;
    return CreateFileW(wide->c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The version information block of a file; empty when it has none or cannot be read.
std::vector<unsigned char> VersionBlock(const std::string& file)
{
    auto wide = ExactWideOf(file);
    if (!wide || file.empty())
        return {};
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(wide->c_str(), &ignored);
    if (size == 0)
        return {};
    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfoW(wide->c_str(), 0, size, block.data()))
        return {};
    return block;
}

// The fixed file information at the block's root; nullptr when the block has none.
const VS_FIXEDFILEINFO* FixedInfo(std::vector<unsigned char>& block)
{
    void* info = nullptr;
    UINT length = 0;
    if (block.empty() || !VerQueryValueW(block.data(), L"\\", &info, &length) || length < sizeof(VS_FIXEDFILEINFO))
        return nullptr;
    return static_cast<const VS_FIXEDFILEINFO*>(info);
}

// A value of the block's first string table ("\StringFileInfo\<language><code page>\<name>");
// empty when absent.
std::string StringValue(std::vector<unsigned char>& block, const std::wstring& table, const wchar_t* name)
{
    void* text = nullptr;
    UINT length = 0;  // characters, the terminating zero included when there is one
    std::wstring path = L"\\StringFileInfo\\" + table + L"\\" + name;
    if (!VerQueryValueW(block.data(), path.c_str(), &text, &length) || length == 0)
        return {};
    const auto* chars = static_cast<const wchar_t*>(text);
    return Utf8Of(std::wstring_view(chars, wcsnlen(chars, length)));
}

}  // namespace

TProductInfo ProductInfoOf(const std::string& file)
{
    TProductInfo product;
    std::vector<unsigned char> block = VersionBlock(file);
    if (const VS_FIXEDFILEINFO* fixed = FixedInfo(block))
        product.ProductVersion = {fixed->dwProductVersionMS, fixed->dwProductVersionLS};
    void* translation = nullptr;
    UINT length = 0;
    if (block.empty() || !VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &translation, &length) ||
        length < 2 * sizeof(WORD))
        return product;
    // The first entry: the language (low word), then the code page: "041504E2".
    const auto* words = static_cast<const WORD*>(translation);
    wchar_t table[9] = {};
    std::swprintf(table, 9, L"%04X%04X", static_cast<unsigned>(words[0]), static_cast<unsigned>(words[1]));
    product.ProductName = StringValue(block, table, L"ProductName");
    product.ProductUrl = StringValue(block, table, L"ProductUrl");
    product.LegalCopyright = StringValue(block, table, L"LegalCopyright");
    return product;
}

TVersionPair FileVersionOf(const std::string& file)
{
    std::vector<unsigned char> block = VersionBlock(file);
    const VS_FIXEDFILEINFO* fixed = FixedInfo(block);
    return fixed ? TVersionPair{fixed->dwFileVersionMS, fixed->dwFileVersionLS} : TVersionPair{};
}

const std::string& ProgramPath()
{
    static const std::string path =
        Utf8Of(Fetch([](wchar_t* b, DWORD n) { return GetModuleFileNameW(nullptr, b, n); }));
    return path;
}

bool SameFile(const std::string& a, const std::string& b)
{
    HANDLE ha = OpenToAsk(a);
    if (ha == INVALID_HANDLE_VALUE)
        return false;
    HANDLE hb = OpenToAsk(b);
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    bool same = hb != INVALID_HANDLE_VALUE && GetFileInformationByHandle(ha, &ia) && GetFileInformationByHandle(hb, &ib) &&
                ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
                ia.nFileIndexLow == ib.nFileIndexLow;
    if (hb != INVALID_HANDLE_VALUE)
        CloseHandle(hb);
    CloseHandle(ha);
    return same;
}

TVersionPair VersionPairFromFile(const std::string& file)
{
    auto wide = ExactWideOf(file);
    if (!wide || file.empty())
        return {};
    HANDLE h = CreateFileW(wide->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return {};
    unsigned char bytes[8] = {};
    // Up to four bytes for each part; a short file fills only what it has.
    bool ok = true;
    for (DWORD part = 0; part < 2 && ok; ++part) {
        DWORD n = 0;
        ok = ReadFile(h, bytes + 4 * part, 4, &n, nullptr) != 0;
    }
    CloseHandle(h);
    if (!ok)
        return {};
    TVersionPair v;
    for (int i = 0; i < 4; ++i) {
        v.Hi |= static_cast<uint32_t>(bytes[i]) << (8 * i);
        v.Lo |= static_cast<uint32_t>(bytes[4 + i]) << (8 * i);
    }
    return v;
}

std::string WithSlash(std::string path)
{
    if (!path.empty() && path.back() != '\\' && path.back() != '/')
        path += '\\';
    return path;
}

std::string ProgramFilesDir()
{
    std::string dir = MachineValue(L"ProgramFilesDir");
    if (dir.empty())
        dir = MachineValue(L"ProgramFilesPath");
    return WithSlash(dir.empty() ? "C:\\Program Files" : dir);
}

std::string CommonFilesDir()
{
    std::string dir = MachineValue(L"CommonFilesDir");
    return WithSlash(dir.empty() ? "C:\\Program Files\\Common Files" : dir);
}

std::string TempDir()
{
    std::string dir = Utf8Of(Fetch([](wchar_t* b, DWORD n) { return GetTempPathW(n, b); }));
    return dir.empty() ? "C:\\Temp\\" : WithSlash(dir);
}

std::string WindowsDir()
{
    return WithSlash(Utf8Of(Fetch([](wchar_t* b, DWORD n) { return GetWindowsDirectoryW(b, n); })));
}

std::string SystemDir()
{
    return WithSlash(Utf8Of(Fetch([](wchar_t* b, DWORD n) { return GetSystemDirectoryW(b, n); })));
}

std::string PersonalDir()
{
    PWSTR path = nullptr;
    std::string dir;
    if (SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_DEFAULT, nullptr, &path) == S_OK)
        dir = Utf8Of(path);
    CoTaskMemFree(path);
    return WithSlash(dir);
}

std::string DefaultDocumentFolder()
{
    const std::string& program = ProgramPath();
    size_t end = program.find_last_of("\\/");
    return (end == std::string::npos ? std::string() : program.substr(0, end + 1)) + "wwwroot";
}

std::string NewTempFile()
{
    // The short form of the folder, as the name is handed to other programs.
    std::wstring folder = WideOf(TempDir());
    std::wstring shortFolder = Fetch([&](wchar_t* b, DWORD n) { return GetShortPathNameW(folder.c_str(), b, n); });
    wchar_t name[MAX_PATH + 1] = {};
    if (GetTempFileNameW((shortFolder.empty() ? folder : shortFolder).c_str(), L"wk", 0, name) == 0)
        return {};
    return Utf8Of(name);
}

std::string UserLanguageAbbreviation()
{
    wchar_t text[16] = {};
    if (GetLocaleInfoW(GetThreadLocale(), LOCALE_SABBREVLANGNAME, text, 16) == 0)
        return "ENU";
    return Utf8Of(text);
}
