#pragma once
// The activity log as a window shows it, whatever draws it: entries wait here (with the colour
// they were appended in) until the window shows them together a moment later, so that a stream
// of thousands a second neither freezes the window nor slows the servers; and the pane keeps the
// newest MaxEntries entries, each cut to MaxEntryChars characters, so that a client sending a MiB
// of text can grow it only so far.
#include <deque>
#include <string>

#include "core/ActivityLog.h"

class TLogBacklog : public TActivityLog {
public:
    // Entries the pane keeps; older ones drop off its top.
    static constexpr int MaxEntries = 100000;
    // What one entry may show; a longer one is cut and ends in "…". With MaxEntries this bounds
    // the pane's text: 100,000 entries of at most 1,001 characters.
    static constexpr int MaxEntryChars = 1000;

    struct TEntry {
        TLogColour Colour;
        std::string Text;  // UTF-8 as LogEntryShown makes it
    };

    void Append(ByteView line) override;
    void SetColour(TLogColour colour) override { FColour = colour; }
    TLogColour Colour() const { return FColour; }

    // The entries waiting to be shown, oldest first (never more than MaxEntries: what would
    // scroll off before it is ever shown is not kept). Taking them empties the backlog.
    std::deque<TEntry> TakePending();
    bool HasPending() const { return !FPending.empty(); }

    // The pane has just shown `added` more entries: how many of its oldest it must now remove
    // to keep MaxEntries. (A pane that bounds itself, as Qt's does, need not ask.)
    size_t Shown(size_t added);
    size_t ShownCount() const { return FShown; }

protected:
    // The first entry is waiting: the window arranges to show the backlog soon (a timer).
    virtual void PendingStarted() {}

private:
    TLogColour FColour = clBlue;  // the pane's font colour
    std::deque<TEntry> FPending;
    size_t FShown = 0;
};

// The pane's text of an entry (UTF-8): as the headless log shows it (a CR is a line break '\n'
// followed by an indent; a pane keeps the entry in one paragraph, with '\n' as a line break
// inside it), at most TLogBacklog::MaxEntryChars characters, then "…" when cut.
std::string LogEntryShown(ByteView entry);
