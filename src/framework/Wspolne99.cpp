#include "framework/Wspolne99.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#ifndef TZZ_VERSION_MAJOR
#define TZZ_VERSION_MAJOR 0
#define TZZ_VERSION_MINOR 0
#define TZZ_VERSION_PATCH 0
#define TZZ_VERSION_TWEAK 0
#endif

namespace {

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string EnvOr(const char* name, const std::string& fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

TVersionPair CompiledVersion()
{
    return {(TZZ_VERSION_MAJOR << 16) | TZZ_VERSION_MINOR, (TZZ_VERSION_PATCH << 16) | TZZ_VERSION_TWEAK};
}

bool SameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec);
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

int CompareVersions(TVersionPair a, TVersionPair b)
{
    auto a1 = static_cast<int32_t>(a.Hi), b1 = static_cast<int32_t>(b.Hi);
    auto a2 = static_cast<int32_t>(a.Lo), b2 = static_cast<int32_t>(b.Lo);
    if (a1 != b1)
        return a1 < b1 ? -1 : 1;
    return a2 < b2 ? -1 : a2 > b2 ? 1 : 0;
}

std::string VersionText(TVersionPair v)
{
    char text[32];
    snprintf(text, sizeof text, "%d.%.2d.%.2d.%.2d", static_cast<int>(v.Hi >> 16), static_cast<int>(v.Hi & 0xFFFF),
             static_cast<int>(v.Lo >> 16), static_cast<int>(v.Lo & 0xFFFF));
    return text;
}

std::string WithSlash(std::string path)
{
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path;
}

std::string Slashes(std::string path)
{
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string ProgramFilesDir() { return "/opt/"; }
std::string CommonFilesDir() { return "/usr/local/"; }
std::string TempDir() { return WithSlash(EnvOr("TMPDIR", "/tmp/")); }
std::string WindowsDir() { return "/usr/"; }
std::string SystemDir() { return "/usr/bin/"; }
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

std::string PersonalDir()
{
    if (const char* v = std::getenv("XDG_DOCUMENTS_DIR"); v && *v)
        return WithSlash(v);
    std::string named = UserDirsDocuments();
    return WithSlash(named.empty() ? EnvOr("HOME", "") + "/Documents" : named);
}

std::string NewTempFile()
{
    std::string name = TempDir() + "wkXXXXXX";
    int fd = mkstemp(name.data());
    if (fd < 0)
        return {};
    ::close(fd);
    return name;
}

TInstallLocation InstallLocationOf(const std::string& programPath, const std::string& system,
                                   const std::string& windows, const std::string& programFiles,
                                   const std::string& personal, const std::string& commonFiles)
{
    struct TCandidate {
        std::string Folder;
        char Code;
        const char* Prefix;
    };
    const TCandidate candidates[] = {
        {WithSlash(system), 'S', ""},
        {WithSlash(windows), 'W', ""},
        {WithSlash(programFiles), 'P', ""},
        {WithSlash(personal) + ProjectSubFolder + "/", 'P', "Welkor/"},
        {WithSlash(commonFiles), 'C', ""},
    };
    std::string lowerPath = Lower(programPath);
    for (const TCandidate& c : candidates) {
        if (c.Folder.size() > 1 && lowerPath.rfind(Lower(c.Folder), 0) == 0)
            return {c.Code, c.Prefix + programPath.substr(c.Folder.size())};
    }
    return {'~', programPath};
}

TInstallLocation InstallLocationOf(const std::string& programPath)
{
    return InstallLocationOf(programPath, SystemDir(), WindowsDir(), ProgramFilesDir(), PersonalDir(),
                             CommonFilesDir());
}

std::string LanguageAbbreviation(const std::string& locale)
{
    std::string lang = Lower(locale.substr(0, locale.find_first_of("_.@")));
    std::string country;
    if (size_t u = locale.find('_'); u != std::string::npos)
        country = locale.substr(u + 1, 2);
    if (lang.empty() || lang == "c" || lang == "posix")
        return "ENU";
    static const struct {
        const char* Lang;
        const char* Country;
        const char* Abbreviation;
    } table[] = {
        {"pl", "", "PLK"}, {"en", "GB", "ENG"}, {"en", "", "ENU"}, {"de", "", "DEU"}, {"fr", "", "FRA"},
        {"es", "", "ESP"}, {"it", "", "ITA"},   {"ru", "", "RUS"}, {"cs", "", "CSY"}, {"sk", "", "SKY"},
        {"uk", "", "UKR"}, {"hu", "", "HUN"},   {"nl", "", "NLD"}, {"pt", "", "PTB"}, {"sv", "", "SVE"},
    };
    for (const auto& row : table)
        if (lang == row.Lang && (!*row.Country || country == row.Country))
            return row.Abbreviation;
    std::string upper = lang;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper + upper.substr(0, 1);
}

std::string HelpFileBase(const std::string& programPath, const std::string& languageAbbreviation)
{
    std::filesystem::path p(programPath);
    return WithSlash(p.parent_path().string()) + p.stem().string() + languageAbbreviation;
}

std::string HelpFileBase(const std::string& programPath)
{
    std::string locale = EnvOr("LC_ALL", EnvOr("LC_MESSAGES", EnvOr("LANG", "C")));
    return HelpFileBase(programPath, LanguageAbbreviation(locale));
}

std::string FindHelpFile(const std::string& base)
{
    std::error_code ec;
    for (const char* ext : {".chm", ".HLP"})
        if (std::filesystem::is_regular_file(base + ext, ec))
            return base + ext;
    return {};
}
