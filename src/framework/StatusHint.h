#pragma once
// What the status bar shows: the hint of what is under the mouse or selected, else the legal
// notice. A hint is "short|long": the short part is a tooltip, the long part goes to the status
// bar; a hint without "|" is both.
#include <string>

std::string ShortHint(const std::string& hint);
std::string LongHint(const std::string& hint);
// The status bar's text for the current hint's long part.
std::string StatusBarText(const std::string& longHint, const std::string& legalCopyright);
