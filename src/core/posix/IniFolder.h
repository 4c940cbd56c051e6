#pragma once
// Where the settings store keeps its files on this system: one INI file (UTF-8) per key,
// a section per subkey.
#include <string>

// ${XDG_CONFIG_HOME:-$HOME/.config}
std::string ConfigFolder();
