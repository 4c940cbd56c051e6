#pragma once
// The settings store that takes the registry's place: one INI file (UTF-8) per key under the
// user's configuration folder, a section per subkey. Every write goes to disk at once.
#include <optional>
#include <string>

class TSettingsStore {
public:
    // key like "Welkor/Trelubki/Serwer": the file <config>/Welkor/Trelubki/Serwer.ini
    explicit TSettingsStore(const std::string& key);

    const std::string& FileName() const { return FFileName; }
    // Creates the key (an empty file) when absent; false when it cannot be made.
    bool Open();
    std::optional<std::string> Read(const std::string& section, const std::string& name) const;
    // Writes through a temporary file and a rename, so a crash never leaves half a file.
    bool Write(const std::string& section, const std::string& name, const std::string& value);

private:
    std::string FFileName;
};

// ${XDG_CONFIG_HOME:-$HOME/.config}
std::string ConfigFolder();
