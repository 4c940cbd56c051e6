#include "framework/StatusHint.h"

std::string ShortHint(const std::string& hint)
{
    return hint.substr(0, hint.find('|'));
}

std::string LongHint(const std::string& hint)
{
    size_t bar = hint.find('|');
    return bar == std::string::npos ? hint : hint.substr(bar + 1);
}

std::string StatusBarText(const std::string& longHint, const std::string& legalCopyright)
{
    return longHint.empty() ? legalCopyright : longHint;
}
