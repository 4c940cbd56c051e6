#include "app/windows/RichEditLog.h"

#include <richedit.h>

#include "core/windows/WideText.h"

namespace {

std::wstring PaneText(const std::string& shown)
{
    std::wstring text = WideOf(shown);
    for (wchar_t& c : text)
        if (c == L'\n')
            c = L'\r';  // the rich edit's line break
    return text;
}

void Prepare(HWND pane)
{
    // The pane holds as much as the entries' bound allows (its default is 32 K characters).
    SendMessageW(pane, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
}

}  // namespace

std::wstring LogEntryText(ByteView entry)
{
    return PaneText(LogEntryShown(entry));
}

TRichEditLog::TRichEditLog(std::function<HWND()> makePane, HWND timerWindow)
    : FMakePane(std::move(makePane)), FPane(FMakePane()), FTimerWindow(timerWindow)
{
    Prepare(FPane);
}

TRichEditLog::~TRichEditLog() = default;

void TRichEditLog::PendingStarted()
{
    if (FTimerWindow)
        SetTimer(FTimerWindow, FlushTimer, 30, nullptr);
}

void TRichEditLog::Flush()
{
    if (FTimerWindow)
        KillTimer(FTimerWindow, FlushTimer);
    if (!HasPending())
        return;
    std::deque<TEntry> pending = TakePending();
    Shown(pending.size());  // the backlog's count; the pane keeps its own bound
    size_t first = FKept.size();
    for (TEntry& e : pending)
        FKept.push_back({e.Colour, PaneText(e.Text)});
    if (FKept.size() >= 2 * PaneEntries) {
        while (FKept.size() > PaneEntries)
            FKept.pop_front();
        Renew();
        return;
    }
    Show(first);
}

void TRichEditLog::Show(size_t first)
{
    SCROLLINFO bar{};
    bar.cbSize = sizeof bar;
    bar.fMask = SIF_ALL;
    bool atBottom = !GetScrollInfo(FPane, SB_VERT, &bar) || bar.nPos + static_cast<int>(bar.nPage) >= bar.nMax;
    CHARRANGE selection{};
    SendMessageW(FPane, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    SendMessageW(FPane, WM_SETREDRAW, FALSE, 0);
    size_t i = first;
    while (i < FKept.size()) {
        TLogColour colour = FKept[i].Colour;
        std::wstring run;
        for (; i < FKept.size() && FKept[i].Colour == colour; ++i) {
            if (i > 0)
                run += L'\r';  // a new paragraph
            run += FKept[i].Text;
        }
        CHARRANGE end{-1, -1};
        SendMessageW(FPane, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&end));
        CHARFORMAT2W format{};
        format.cbSize = sizeof format;
        format.dwMask = CFM_COLOR;
        format.crTextColor = RGB(colour.R, colour.G, colour.B);
        SendMessageW(FPane, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
        SendMessageW(FPane, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(run.c_str()));
    }
    SendMessageW(FPane, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    SendMessageW(FPane, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(FPane, nullptr, TRUE);
    if (atBottom)
        SendMessageW(FPane, WM_VSCROLL, SB_BOTTOM, 0);
}

void TRichEditLog::Renew()
{
    HWND old = FPane;
    FPane = FMakePane();
    Prepare(FPane);
    Show(0);
    SendMessageW(FPane, WM_VSCROLL, SB_BOTTOM, 0);
    if (OnPaneRenewed)
        OnPaneRenewed(FPane);
    bool focused = GetFocus() == old;
    DestroyWindow(old);
    if (focused)
        SetFocus(FPane);
}
