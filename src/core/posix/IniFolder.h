#pragma once
// Where the settings store keeps its files on this system: one INI file (UTF-8) per key,
// a section per subkey.
#include <string>

// ${XDG_CONFIG_HOME:-$HOME/.config}, the home taken from the password database when HOME is not
// set and a relative XDG_CONFIG_HOME ignored; empty when the user has no home at all.
std::string ConfigFolder();
