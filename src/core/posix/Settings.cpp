// The settings store as INI files: key "A/B/C" is the file <config folder>/A/B/C.ini, a section
// per subkey. Each write replaces the whole file through a temporary one. The files are meant
// to be edited by hand too: blanks around names, values and section names, a byte-order mark,
// CR LF line ends and comment lines (';' or '#') are read as a person who edits them expects.
#include "core/Settings.h"

#include "core/posix/IniFolder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

// The program writes a few short values; a settings file this large was not written by it, and
// is refused rather than read into memory.
constexpr off_t MaxFileBytes = 1024 * 1024;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& s)
{
    size_t first = 0, last = s.size();
    while (first < last && IsBlank(s[first]))
        ++first;
    while (last > first && IsBlank(s[last - 1]))
        --last;
    return s.substr(first, last - first);
}

// Blanks at either end of a value are written escaped, so that reading, which drops the blanks
// a hand edit leaves around the '=', gives them back.
std::string Escape(const std::string& v)
{
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        char c = v[i];
        bool edge = i == 0 || i + 1 == v.size();
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (edge && c == ' ')
            out += "\\s";
        else if (edge && c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

std::string Unescape(const std::string& v)
{
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\\' && i + 1 < v.size()) {
            char n = v[++i];
            out += n == 'n' ? '\n' : n == 'r' ? '\r' : n == 's' ? ' ' : n == 't' ? '\t' : n;
        } else {
            out += v[i];
        }
    }
    return out;
}

// "[name]", blanks allowed around and inside the brackets.
bool IsHeader(const std::string& line, std::string* name = nullptr)
{
    std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']')
        return false;
    if (name)
        *name = Trim(t.substr(1, t.size() - 2));
    return true;
}

// "name = value": false for blank lines, comments and lines without '='.
bool IsEntry(const std::string& line, std::string& name, std::string& value)
{
    std::string t = Trim(line);
    size_t eq = t.find('=');
    if (t.empty() || t[0] == ';' || t[0] == '#' || eq == std::string::npos)
        return false;
    name = Trim(t.substr(0, eq));
    value = Unescape(Trim(t.substr(eq + 1)));
    return true;
}

std::string Reason(const std::string& what, const std::string& file, int error)
{
    return what + " " + file + ": " + std::strerror(error);
}

// Writes all of text to fd; false on any failure (errno set).
bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Replaces file with text so that after a crash or a power loss the file holds either the old
// or the new text, whole: the new text reaches the disk before the rename makes it the file,
// and the folder's new entry reaches it after. An existing file keeps its mode and owner.
// On failure errno tells why and nothing has changed.
bool ReplaceFile(const std::string& file, const std::string& text, const struct stat* old)
{
    std::string temp = file + ".tmp" + std::to_string(getpid());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    if (old) {
        ::fchmod(fd, old->st_mode & 07777);
        if (geteuid() == 0 && old->st_uid != 0)
            (void)!::fchown(fd, old->st_uid, old->st_gid);  // still the user's own file
    }
    bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
    int error = errno;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temp.c_str(), file.c_str()) != 0) {
        error = written ? errno : error;
        ::unlink(temp.c_str());
        errno = error;
        return false;
    }
    std::string folder = std::filesystem::path(file).parent_path().string();
    int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        // The file is already in place; a folder that cannot be synced only loses durability.
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

// Rewrites a file whose folder takes no new entry (no temporary file can be made there): in
// place, the new text over the old, then cut to its length. Not proof against a crash midway,
// but the only way to keep what the user typed. On failure errno tells why.
bool RewriteInPlace(const std::string& file, const std::string& text)
{
    int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool written = WriteAll(fd, text) && ::ftruncate(fd, static_cast<off_t>(text.size())) == 0 && ::fsync(fd) == 0;
    int error = errno;
    written = ::close(fd) == 0 && written;
    errno = written ? 0 : error;
    return written;
}

enum class TFileRead { Missing, Read, Failed };

// The file's lines without their line ends (LF or CR LF) and without a leading byte-order mark.
TFileRead ReadLines(const std::string& file, std::vector<std::string>& lines, std::string& error)
{
    lines.clear();
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return TFileRead::Missing;
        error = Reason("cannot read", file, errno);
        return TFileRead::Failed;
    }
    std::string text;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    if (ok && S_ISDIR(st.st_mode)) {
        error = Reason("cannot read", file, EISDIR);
        ok = false;
    } else if (ok && st.st_size > MaxFileBytes) {
        error = "cannot read " + file + ": larger than " + std::to_string(MaxFileBytes / 1024) + " KiB";
        ok = false;
    }
    char buffer[4096];
    while (ok) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = Reason("cannot read", file, errno);
        if (n <= 0 || text.size() + static_cast<size_t>(n) > static_cast<size_t>(MaxFileBytes)) {
            if (n > 0)
                error = "cannot read " + file + ": larger than " + std::to_string(MaxFileBytes / 1024) + " KiB";
            ok = n == 0;
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (!ok)
        return TFileRead::Failed;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        text.erase(0, 3);
    for (size_t start = 0; start < text.size();) {
        size_t end = std::min(text.find('\n', start), text.size());
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return TFileRead::Read;
}

std::string HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return home;
    // Service managers may start programs with no HOME at all: the password database knows it.
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir && *pw->pw_dir == '/')
        return pw->pw_dir;
    return "";
}

}  // namespace

std::string ConfigFolder()
{
    // A relative folder would depend on where the program happens to be started: not a place.
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/')
        return x;
    std::string home = HomeFolder();
    return home.empty() ? "" : home + "/.config";
}

TSettingsStore::TSettingsStore(const std::string& key)
{
    std::string folder = ConfigFolder();
    if (folder.empty()) {
        FError = "no folder to keep settings in: neither XDG_CONFIG_HOME nor HOME is set, and the user has no home";
        return;
    }
    FKey = folder + "/" + key + ".ini";
    FLocation = FKey;
}

bool TSettingsStore::Open()
{
    if (FKey.empty())
        return false;
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::path(FKey).parent_path();
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        FError = "cannot make the folder " + folder.string() + ": " + ec.message();
        return false;
    }
    std::vector<std::string> lines;
    switch (ReadLines(FKey, lines, FError)) {
    case TFileRead::Read:
        FError.clear();
        return true;
    case TFileRead::Failed:
        return false;
    case TFileRead::Missing:
        break;
    }
    int fd = ::open(FKey.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) {
        FError = Reason("cannot make", FKey, errno);
        return false;
    }
    if (fd >= 0)
        ::close(fd);
    FError.clear();
    return true;
}

std::optional<std::string> TSettingsStore::Read(const std::string& section, const std::string& name) const
{
    std::vector<std::string> lines;
    if (FKey.empty() || ReadLines(FKey, lines, FError) != TFileRead::Read)
        return std::nullopt;
    FError.clear();
    std::string current, entryName, value;
    for (const std::string& line : lines) {
        if (IsHeader(line, &current))
            continue;
        if (current == section && IsEntry(line, entryName, value) && entryName == name)
            return value;
    }
    return std::nullopt;
}

bool TSettingsStore::Write(const std::string& section, const std::string& name, const std::string& value)
{
    if (FKey.empty())
        return false;
    std::vector<std::string> lines;
    // What cannot be read cannot be rewritten without losing the rest of it.
    if (ReadLines(FKey, lines, FError) == TFileRead::Failed)
        return false;
    std::string entry = name + "=" + Escape(value);
    std::string current, entryName, old;
    auto header = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
        return IsHeader(l, &current) && current == section;
    });
    if (header == lines.end()) {
        lines.push_back("[" + section + "]");
        lines.push_back(entry);
    } else {
        auto insertAt = header + 1;
        bool replaced = false;
        for (auto it = header + 1; it != lines.end() && !IsHeader(*it); ++it) {
            if (IsEntry(*it, entryName, old) && entryName == name) {
                *it = entry;
                replaced = true;
                break;
            }
            if (!Trim(*it).empty())
                insertAt = it + 1;
        }
        if (!replaced)
            lines.insert(insertAt, entry);
    }
    std::string text;
    for (const std::string& line : lines)
        text += line + '\n';

    struct stat st {};
    bool exists = ::stat(FKey.c_str(), &st) == 0;
    // A file that nobody may write is an administrator's choice, which holds for root too.
    if (exists && ((st.st_mode & 0222) == 0 || ::access(FKey.c_str(), W_OK) != 0)) {
        FError = Reason("cannot write", FKey, EACCES) + " (the file is read-only)";
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(FKey).parent_path(), ec);
    if (ReplaceFile(FKey, text, exists ? &st : nullptr) ||
        (exists && (errno == EACCES || errno == EPERM || errno == EROFS) && RewriteInPlace(FKey, text))) {
        FError.clear();
        return true;
    }
    FError = Reason("cannot write", FKey, errno);
    return false;
}
