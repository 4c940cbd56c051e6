#include "framework/AboutBox.h"

std::string AboutTitle(const std::string& productName)
{
    return "O programie " + productName + "...";
}

std::string SystemAboutTitle(const std::string& productName)
{
    return AboutTitle(productName) + "#";
}

std::string AboutText(const std::string& productName, TVersionPair productVersion, const std::string& legalCopyright)
{
    return productName + " wersja " + VersionText(productVersion) + "\n" + legalCopyright;
}

std::string MessageBoxCaption(const std::string& productName, const std::string& title)
{
    return productName + " - " + title;
}
