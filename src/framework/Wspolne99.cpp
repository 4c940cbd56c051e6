#include "framework/Wspolne99.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "core/Utf8Path.h"

namespace {

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

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

std::string Slashes(std::string path)
{
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

TInstallLocation InstallLocationOf(const std::string& programPath, const std::string& system,
                                   const std::string& windows, const std::string& programFiles,
                                   const std::string& personal, const std::string& commonFiles)
{
    struct TCandidate {
        std::string Folder;
        char Code;
        std::string Prefix;
    };
    const TCandidate candidates[] = {
        {WithSlash(system), 'S', ""},
        {WithSlash(windows), 'W', ""},
        {WithSlash(programFiles), 'P', ""},
        {WithSlash(WithSlash(personal) + ProjectSubFolder), 'P', WithSlash("Welkor")},
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
    std::filesystem::path p = PathOfUtf8(programPath);
    return WithSlash(Utf8OfPath(p.parent_path())) + Utf8OfPath(p.stem()) + languageAbbreviation;
}

std::string HelpFileBase(const std::string& programPath)
{
    return HelpFileBase(programPath, UserLanguageAbbreviation());
}

std::string FindHelpFile(const std::string& base)
{
    std::error_code ec;
    for (const char* ext : {".chm", ".HLP"})
        if (std::filesystem::is_regular_file(PathOfUtf8(base + ext), ec))
            return base + ext;
    return {};
}

THelpViewer HelpViewerOf(const std::string& helpFile)
{
    std::string lower = Lower(helpFile);
    auto endsWith = [&](const char* tail) {
        size_t n = std::char_traits<char>::length(tail);
        return lower.size() > n && lower.compare(lower.size() - n, n, tail) == 0;
    };
    if (endsWith(".chm"))
        return THelpViewer::HtmlHelp;
    if (endsWith(".hlp"))
        return THelpViewer::WinHelp;
    return THelpViewer::None;
}
