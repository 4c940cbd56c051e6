// What the framework's utilities ask of the system, on POSIX systems.
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "framework/Wspolne99.h"

#ifndef TZZ_VERSION_MAJOR
#define TZZ_VERSION_MAJOR 0
#define TZZ_VERSION_MINOR 0
#define TZZ_VERSION_PATCH 0
#define TZZ_VERSION_TWEAK 0
#endif

namespace {

// A Linux program carries no version resource: its product information is compiled into it.
TVersionPair CompiledVersion()
{
    return {(TZZ_VERSION_MAJOR << 16) | TZZ_VERSION_MINOR, (TZZ_VERSION_PATCH << 16) | TZZ_VERSION_TWEAK};
}

std::string EnvOr(const char* name, const std::string& fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

// XDG_DOCUMENTS_DIR of user-dirs.dirs as a path ("$HOME/Dokumenty" -> /home/x/Dokumenty); empty
// when the file names none.
std::string UserDirsDocuments()
{
    std::string config = EnvOr("XDG_CONFIG_HOME", EnvOr("HOME", "") + "/.config");
    std::ifstream in(config + "/user-dirs.dirs");
    const std::string key = "XDG_DOCUMENTS_DIR=";
    for (std::string line; std::getline(in, line);) {
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0)
            continue;
        // A double-quoted value: "$HOME/..." or an absolute path; backslash escapes a character.
        std::string quoted = line.substr(start + key.size());
        if (quoted.size() < 2 || quoted.front() != '"')
            continue;
        std::string value;
        for (size_t i = 1; i < quoted.size() && quoted[i] != '"'; ++i)
            value += quoted[i] == '\\' && i + 1 < quoted.size() ? quoted[++i] : quoted[i];
        if (value == "$HOME" || value.rfind("$HOME/", 0) == 0)
            return EnvOr("HOME", "") + value.substr(5);
        if (!value.empty() && value.front() == '/')
            return value;
    }
    return {};
}

}  // namespace

const std::string& ProgramPath()
{
    static const std::string path = [] {
        char buf[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    }();
    return path;
}

TProductInfo ProductInfoOf(const std::string& file)
{
    if (!SameFile(file, ProgramPath()))
        return {};
    return {"Trelubki Serwer Zuli-Zuli", "http://www.welkor.pl/trelubki-serwer",
            "Copyright \u00A9 2026 Welkor. Wszelkie prawa zastrze\u017Cone.", CompiledVersion()};
}

TVersionPair FileVersionOf(const std::string& file)
{
    return SameFile(file, ProgramPath()) ? CompiledVersion() : TVersionPair{};
}

bool SameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec);
}

TVersionPair VersionPairFromFile(const std::string& file)
{
    TVersionPair v;
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return v;
    unsigned char bytes[8] = {};
    size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = ::read(fd, bytes + got, sizeof bytes - got);
        if (n < 0) {
            ::close(fd);
            return {};
        }
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    for (int i = 0; i < 4; ++i) {
        v.Hi |= static_cast<uint32_t>(bytes[i]) << (8 * i);
        v.Lo |= static_cast<uint32_t>(bytes[4 + i]) << (8 * i);
    }
    return v;
}

std::string WithSlash(std::string path)
{
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path;
}

std::string ProgramFilesDir() { return "/opt/"; }
std::string CommonFilesDir() { return "/usr/local/"; }
std::string TempDir() { return WithSlash(EnvOr("TMPDIR", "/tmp/")); }
std::string WindowsDir() { return "/usr/"; }
std::string SystemDir() { return "/usr/bin/"; }

std::string PersonalDir()
{
    if (const char* v = std::getenv("XDG_DOCUMENTS_DIR"); v && *v)
        return WithSlash(v);
    std::string named = UserDirsDocuments();
    return WithSlash(named.empty() ? EnvOr("HOME", "") + "/Documents" : named);
}

std::string DefaultDocumentFolder() { return "/srv/wwwroot"; }

std::string NewTempFile()
{
    std::string name = TempDir() + "wkXXXXXX";
    int fd = mkstemp(name.data());
    if (fd < 0)
        return {};
    ::close(fd);
    return name;
}

std::string UserLanguageAbbreviation()
{
    return LanguageAbbreviation(EnvOr("LC_ALL", EnvOr("LC_MESSAGES", EnvOr("LANG", "C"))));
}
