// The settings store as INI files: key "A/B/C" is the file <config folder>/A/B/C.ini, a section
// per subkey. Each write replaces the whole file through a temporary one.
#include "core/Settings.h"

#include "core/posix/IniFolder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

std::string Escape(const std::string& v)
{
    std::string out;
    for (char c : v) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
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
            out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
        } else {
            out += v[i];
        }
    }
    return out;
}

// Writes all of text to fd; false on any failure.
bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Replaces file with text so that after a crash or a power loss the file holds either the old
// or the new text, whole: the new text reaches the disk before the rename makes it the file,
// and the folder's new entry reaches it after.
bool ReplaceFile(const std::string& file, const std::string& text)
{
    std::string temp = file + ".tmp" + std::to_string(getpid());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temp.c_str(), file.c_str()) != 0) {
        ::unlink(temp.c_str());
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

std::vector<std::string> ReadLines(const std::string& file)
{
    std::vector<std::string> lines;
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

std::string ConfigFolder()
{
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x)
        return x;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config";
}

TSettingsStore::TSettingsStore(const std::string& key) : FKey(ConfigFolder() + "/" + key + ".ini"), FLocation(FKey) {}

bool TSettingsStore::Open()
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(FKey).parent_path(), ec);
    if (std::filesystem::exists(FKey, ec))
        return true;
    std::ofstream out(FKey, std::ios::binary | std::ios::app);
    return static_cast<bool>(out);
}

std::optional<std::string> TSettingsStore::Read(const std::string& section, const std::string& name) const
{
    std::string current;
    for (const std::string& line : ReadLines(FKey)) {
        if (!line.empty() && line.front() == '[' && line.back() == ']') {
            current = line.substr(1, line.size() - 2);
        } else if (current == section) {
            size_t eq = line.find('=');
            if (eq != std::string::npos && line.substr(0, eq) == name)
                return Unescape(line.substr(eq + 1));
        }
    }
    return std::nullopt;
}

bool TSettingsStore::Write(const std::string& section, const std::string& name, const std::string& value)
{
    std::vector<std::string> lines = ReadLines(FKey);
    std::string entry = name + "=" + Escape(value);
    auto isHeader = [](const std::string& l) { return !l.empty() && l.front() == '[' && l.back() == ']'; };
    auto header = std::find(lines.begin(), lines.end(), "[" + section + "]");
    if (header == lines.end()) {
        lines.push_back("[" + section + "]");
        lines.push_back(entry);
    } else {
        auto insertAt = header + 1;
        bool replaced = false;
        for (auto it = header + 1; it != lines.end() && !isHeader(*it); ++it) {
            if (it->compare(0, name.size() + 1, name + "=") == 0) {
                *it = entry;
                replaced = true;
                break;
            }
            if (!it->empty())
                insertAt = it + 1;
        }
        if (!replaced)
            lines.insert(insertAt, entry);
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(FKey).parent_path(), ec);
    std::string text;
    for (const std::string& line : lines)
        text += line + '\n';
    return ReplaceFile(FKey, text);
}
