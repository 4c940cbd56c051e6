#pragma once
// The activity log in the window's read-only rich-edit pane. Entries are gathered and shown
// together a moment later (a timer of the window, or Flush), so a stream of thousands a second
// neither freezes the window nor slows the servers; the pane keeps the newest MaxEntries, older
// ones drop off the top. Each entry starts a paragraph in its insertion colour; a CR inside it
// starts another (the entries' own lengths are kept, not the paragraphs', to drop whole entries).
#include <deque>
#include <string>

#include "core/ActivityLog.h"
#include "core/windows/WindowsHeaders.h"

class TRichEditLog : public TActivityLog {
public:
    static constexpr size_t MaxEntries = 100000;
    // What one entry may show; a longer one (a client can make an entry carry a MiB) is cut and
    // ends in "…". With MaxEntries this bounds the pane's text: 100,000 entries of at most 1,001
    // characters.
    static constexpr size_t MaxEntryChars = 1000;
    // Entries dropped off the top at once when the pane is full, so that the pane is not cut at
    // every entry (each cut moves the whole text).
    static constexpr size_t TrimBatch = MaxEntries / 10;

    // pane: the rich edit (RICHEDIT50W); timerWindow gets WM_TIMER with FlushTimer.
    TRichEditLog(HWND pane, HWND timerWindow);

    void Append(ByteView line) override;
    void SetColour(TLogColour colour) override { FColour = colour; }
    // Shows what is waiting now (the timer does it otherwise).
    void Flush();
    size_t ShownEntries() const { return FShown.size(); }

    static constexpr UINT_PTR FlushTimer = 0x7E01;

private:
    struct TEntry {
        TLogColour Colour;
        std::wstring Text;
    };
    void Trim();

    HWND FPane;
    HWND FTimerWindow;
    TLogColour FColour = clBlue;
    std::deque<TEntry> FPending;
    std::deque<size_t> FShown;  // the characters of each entry shown, separator included
    bool FTimerSet = false;
};

// The pane's text for an entry: as the headless log shows it (a CR a line break followed by an
// indent), at most TRichEditLog::MaxEntryChars characters and "…" when cut; line breaks as the
// rich edit's (CR).
std::wstring LogEntryText(ByteView entry);
