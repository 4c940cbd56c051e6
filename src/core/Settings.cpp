#include "core/Settings.h"

#include <unistd.h>

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

TSettingsStore::TSettingsStore(const std::string& key) : FFileName(ConfigFolder() + "/" + key + ".ini") {}

bool TSettingsStore::Open()
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(FFileName).parent_path(), ec);
    if (std::filesystem::exists(FFileName, ec))
        return true;
    std::ofstream out(FFileName, std::ios::binary | std::ios::app);
    return static_cast<bool>(out);
}

std::optional<std::string> TSettingsStore::Read(const std::string& section, const std::string& name) const
{
    std::string current;
    for (const std::string& line : ReadLines(FFileName)) {
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
    std::vector<std::string> lines = ReadLines(FFileName);
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
    std::filesystem::create_directories(std::filesystem::path(FFileName).parent_path(), ec);
    std::string temp = FFileName + ".tmp" + std::to_string(getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        for (const std::string& line : lines)
            out << line << '\n';
        out.flush();
        if (!out)
            return false;
    }
    std::filesystem::rename(temp, FFileName, ec);
    return !ec;
}
