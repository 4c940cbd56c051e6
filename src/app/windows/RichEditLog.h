#pragma once
// The activity log in the window's read-only rich-edit pane. What an entry reads and what waits
// to be shown is TLogBacklog's: entries are shown together a moment later (a timer of the window,
// or Flush), so a stream of thousands a second neither freezes the window nor slows the servers.
// Each entry starts a paragraph in its insertion colour; a CR inside it starts another.
//
// The pane is bounded by PaneEntries. A rich edit takes long to remove text from its top (a
// thousand entries from ten thousand took 1.6 s under Wine, the work growing with both), so old
// entries are not cut off there: once the pane holds twice PaneEntries, a new pane takes the
// place of the old one with the newest PaneEntries (kept here with their colours), which costs
// what showing them costs.
#include <deque>
#include <functional>
#include <string>

#include "app/LogBacklog.h"
#include "core/windows/WindowsHeaders.h"

class TRichEditLog : public TLogBacklog {
public:
    // The newest entries the pane always shows; it holds at most twice as many.
    static constexpr size_t PaneEntries = 10000;

    // makePane: a new, empty pane (a RICHEDIT50W in its place, with its font); called now and
    // each time the pane is renewed, after which the old pane is destroyed. timerWindow gets
    // WM_TIMER with FlushTimer.
    TRichEditLog(std::function<HWND()> makePane, HWND timerWindow);
    ~TRichEditLog() override;

    HWND Pane() const { return FPane; }
    // Shows what is waiting now (the timer does it otherwise).
    void Flush();
    // The entries the pane holds now.
    size_t ShownEntries() const { return FKept.size(); }
    // Called with the new pane each time the pane is renewed.
    std::function<void(HWND pane)> OnPaneRenewed;

    static constexpr UINT_PTR FlushTimer = 0x7E01;

protected:
    void PendingStarted() override;

private:
    struct TShown {
        TLogColour Colour;
        std::wstring Text;
    };
    // Appends entries [first, end) of FKept to the pane, one insertion per run of a colour.
    void Show(size_t first);
    void Renew();

    std::function<HWND()> FMakePane;
    HWND FPane = nullptr;
    HWND FTimerWindow;
    std::deque<TShown> FKept;  // what the pane shows, oldest first
};

// The pane's text of an entry: LogEntryShown's, its line breaks the rich edit's (CR).
std::wstring LogEntryText(ByteView entry);
