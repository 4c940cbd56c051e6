#include "app/LogBacklog.h"

#include "app/HeadlessLog.h"

namespace {

// The byte offset of the character after the first `chars` characters of UTF-8 text, or npos
// when it has no more than that.
size_t CharacterEnd(const std::string& text, size_t chars)
{
    size_t seen = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            continue;  // a continuation byte
        if (seen == chars)
            return i;
        ++seen;
    }
    return std::string::npos;
}

}  // namespace

std::string LogEntryShown(ByteView entry)
{
    // Every byte shows as one character at least, so more bytes than that are never looked at.
    constexpr auto most = static_cast<size_t>(TLogBacklog::MaxEntryChars);
    bool cut = entry.size() > most;
    std::string text = ShowLogEntry(entry.substr(0, most));
    if (size_t end = CharacterEnd(text, most); end != std::string::npos) {
        text.resize(end);
        cut = true;
    }
    if (cut)
        text += "…";
    return text;
}

void TLogBacklog::Append(ByteView line)
{
    bool first = FPending.empty();
    if (FPending.size() >= static_cast<size_t>(MaxEntries))
        FPending.pop_front();
    FPending.push_back({FColour, LogEntryShown(line)});
    if (first)
        PendingStarted();
}

std::deque<TLogBacklog::TEntry> TLogBacklog::TakePending()
{
    std::deque<TEntry> taken;
    taken.swap(FPending);
    return taken;
}

size_t TLogBacklog::Shown(size_t added)
{
    FShown += added;
    size_t excess = FShown > static_cast<size_t>(MaxEntries) ? FShown - MaxEntries : 0;
    FShown -= excess;
    return excess;
}
