#pragma once
// The texts of the about box and of the standard window's message boxes (UTF-8).
#include <string>

#include "framework/Wspolne99.h"

// "O programie <product name>...", the about box's title.
std::string AboutTitle(const std::string& productName);
// The title as the system's about box takes it: what stands before "#" goes to its title bar,
// what follows (nothing) is its first line.
std::string SystemAboutTitle(const std::string& productName);
// "<product name> wersja 1.00.02.15", a line feed, the legal notice.
std::string AboutText(const std::string& productName, TVersionPair productVersion, const std::string& legalCopyright);
// A message box's caption: "<product name> - <title>".
std::string MessageBoxCaption(const std::string& productName, const std::string& title);
