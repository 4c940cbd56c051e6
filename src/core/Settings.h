#pragma once
// The user's settings store: a key of named sections, each holding named string values, kept
// where the system keeps a user's program settings (the registry's current user on Windows,
// files under the user's configuration folder elsewhere). Every write is carried out at once.
// Names and values are UTF-8 text; a value may hold any text, line breaks included.
#include <optional>
#include <string>

class TSettingsStore {
public:
    // key: names below the user's software settings, '/' between them ("Welkor/Trelubki/Serwer").
    explicit TSettingsStore(const std::string& key);

    // Where the key lives, for messages: a file name, or the registry key's full name.
    const std::string& Location() const { return FLocation; }
    // Creates the key (with no values) when absent; false when it cannot be made or an existing
    // one cannot be read.
    bool Open();
    // The value, or none when the section or the value is absent (a stored empty text is "") or
    // when the key cannot be read: Error() tells the last from the others.
    std::optional<std::string> Read(const std::string& section, const std::string& name) const;
    // Creates the key and the section when absent. False when the value could not be stored
    // (Error() says why) and the stored values are then as they were; a write that reports
    // success is as durable as the system makes it.
    bool Write(const std::string& section, const std::string& name, const std::string& value);
    // Why the last Open, Read or Write failed, in one line for a person (UTF-8); empty when it
    // did not fail.
    const std::string& Error() const { return FError; }

private:
    std::string FKey;  // the key as the system names it: the INI file, or the registry path
    std::string FLocation;
    mutable std::string FError;
};
