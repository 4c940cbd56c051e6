#pragma once
// What the window framework learns about the program and the machine: its own path, the
// product information compiled into it, version pairs, the standard folders with their
// fallbacks, temporary files, where the program is installed (which names its version file on
// the maker's server) and the help file's base name. None of these reports an error. Paths are
// UTF-8 text.
#include <cstdint>
#include <string>

// Most significant part (major << 16 | minor), least significant part (release << 16 | build).
struct TVersionPair {
    uint32_t Hi = 0;
    uint32_t Lo = 0;
    bool operator==(const TVersionPair&) const = default;
};

struct TProductInfo {
    std::string ProductName;
    std::string ProductUrl;
    std::string LegalCopyright;
    TVersionPair ProductVersion;
};

// The program's own file, read once.
const std::string& ProgramPath();
// Whether both names lead to one file (false when either cannot be found).
bool SameFile(const std::string& a, const std::string& b);
// The product information of the program (compiled into it); empty strings for another file.
TProductInfo ProductInfoOf(const std::string& file);
// The file version of the program; 0.0 for another file.
TVersionPair FileVersionOf(const std::string& file);
// Two little-endian u32 from the start of a file; bytes that are missing count as 0, and both are
// 0 when the file cannot be read.
TVersionPair VersionPairFromFile(const std::string& file);
// -1, 0 or 1; each part compared as a signed 32-bit number, the most significant first.
int CompareVersions(TVersionPair a, TVersionPair b);
// "%d.%.2d.%.2d.%.2d" of the four 16-bit parts.
std::string VersionText(TVersionPair v);

// The standard folders, each ending in the system's separator. On Windows: the system's own
// (program files and common files from the machine's registry, with their fallbacks). Elsewhere:
// program files /opt/, common files /usr/local/, temporary files $TMPDIR (else /tmp/), the
// system's folder /usr/, its programs /usr/bin/, the user's documents $XDG_DOCUMENTS_DIR, else
// the documents folder that the desktop names in ${XDG_CONFIG_HOME:-~/.config}/user-dirs.dirs
// (e.g. ~/Dokumenty), else ~/Documents/.
std::string ProgramFilesDir();
std::string CommonFilesDir();
std::string TempDir();
std::string WindowsDir();
std::string SystemDir();
std::string PersonalDir();
// The folder whose files the HTTP service serves unless told otherwise: "wwwroot" in the
// program's folder on Windows, /srv/wwwroot elsewhere.
std::string DefaultDocumentFolder();
// The path with the system's separator at its end (none added to an empty path or one that
// ends in a separator already).
std::string WithSlash(std::string path);
std::string Slashes(std::string path);  // every '\' as '/'

// A new empty file named "wk..." in the temporary folder; its full name (empty on failure).
std::string NewTempFile();

struct TInstallLocation {
    char Code = '~';
    std::string RelativePath;
};
// The project folder under the user's documents that counts as the maker's folder.
inline constexpr const char* ProjectSubFolder = "Projekty";
// Classified against explicit folders (for tests) or the standard ones.
TInstallLocation InstallLocationOf(const std::string& programPath, const std::string& system,
                                   const std::string& windows, const std::string& programFiles,
                                   const std::string& personal, const std::string& commonFiles);
TInstallLocation InstallLocationOf(const std::string& programPath);

// The three-letter abbreviation of a locale name ("pl_PL.UTF-8" -> "PLK", "en_US" -> "ENU").
std::string LanguageAbbreviation(const std::string& locale);
// The abbreviation of the language the user works in (on Windows, the current thread's).
std::string UserLanguageAbbreviation();
// Program folder + name without extension + the language abbreviation of the user's locale.
std::string HelpFileBase(const std::string& programPath, const std::string& languageAbbreviation);
std::string HelpFileBase(const std::string& programPath);
// The help file that exists: base + ".chm", else base + ".HLP", else empty.
std::string FindHelpFile(const std::string& base);
// What shows a help file: HTML Help for a ".chm" file, WinHelp for a ".HLP" one (the extension
// compared without regard to case), nothing for none (the help item is then disabled). HTML Help
// takes every request (contents, help on help: the file; closing the window: close its windows).
enum class THelpViewer { None, HtmlHelp, WinHelp };
THelpViewer HelpViewerOf(const std::string& helpFile);
