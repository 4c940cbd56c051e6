#pragma once
// The activity log in the window's read-only rich-edit pane. What the pane keeps and how an entry
// reads is TLogBacklog's: entries wait there and are shown together a moment later (a timer of
// the window, or Flush), so a stream of thousands a second neither freezes the window nor slows
// the servers; the pane keeps the newest MaxEntries. Each entry starts a paragraph in its
// insertion colour; a CR inside it starts another (the entries' lengths are kept, not the
// paragraphs', so that whole entries are removed from the top).
#include <deque>
#include <string>

#include "app/LogBacklog.h"
#include "core/windows/WindowsHeaders.h"

class TRichEditLog : public TLogBacklog {
public:
    // Entries removed from the top at once: each removal moves the whole text after it, so the
    // pane holds up to this many entries beyond MaxEntries rather than being cut at every entry.
    static constexpr size_t TrimBatch = MaxEntries / 10;

    // pane: the rich edit (RICHEDIT50W); timerWindow gets WM_TIMER with FlushTimer.
    TRichEditLog(HWND pane, HWND timerWindow);

    // Shows what is waiting now (the timer does it otherwise).
    void Flush();
    // The entries the pane holds now.
    size_t ShownEntries() const { return FShown.size(); }

    static constexpr UINT_PTR FlushTimer = 0x7E01;

protected:
    void PendingStarted() override;

private:
    void RemoveOldest(size_t entries);

    HWND FPane;
    HWND FTimerWindow;
    std::deque<size_t> FShown;  // the characters of each entry shown, its paragraph break included
    size_t FOwed = 0;           // entries beyond MaxEntries still in the pane
};

// The pane's text of an entry: LogEntryShown's, its line breaks the rich edit's (CR).
std::wstring LogEntryText(ByteView entry);
