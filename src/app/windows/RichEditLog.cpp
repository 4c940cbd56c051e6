#include "app/windows/RichEditLog.h"

#include <richedit.h>

#include <algorithm>

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

}  // namespace

std::wstring LogEntryText(ByteView entry)
{
    return PaneText(LogEntryShown(entry));
}

TRichEditLog::TRichEditLog(HWND pane, HWND timerWindow) : FPane(pane), FTimerWindow(timerWindow)
{
    // The pane holds as much as the entries' bound allows (its default is 32 K characters).
    SendMessageW(FPane, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
}

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
    SCROLLINFO bar{};
    bar.cbSize = sizeof bar;
    bar.fMask = SIF_ALL;
    bool atBottom = !GetScrollInfo(FPane, SB_VERT, &bar) || bar.nPos + static_cast<int>(bar.nPage) >= bar.nMax;
    CHARRANGE selection{};
    SendMessageW(FPane, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    SendMessageW(FPane, WM_SETREDRAW, FALSE, 0);

    // One insertion per run of entries of one colour.
    size_t i = 0;
    while (i < pending.size()) {
        TLogColour colour = pending[i].Colour;
        std::wstring run;
        for (; i < pending.size() && pending[i].Colour == colour; ++i) {
            size_t before = run.size();
            if (!FShown.empty() || before > 0)
                run += L'\r';  // a new paragraph
            run += PaneText(pending[i].Text);
            FShown.push_back(run.size() - before);
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
    FOwed += Shown(pending.size());
    if (FOwed >= TrimBatch) {
        RemoveOldest(FOwed);
        FOwed = 0;
    }

    SendMessageW(FPane, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    SendMessageW(FPane, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(FPane, nullptr, TRUE);
    if (atBottom)
        SendMessageW(FPane, WM_VSCROLL, SB_BOTTOM, 0);
}

void TRichEditLog::RemoveOldest(size_t entries)
{
    entries = std::min(entries, FShown.size() - 1);
    if (entries == 0)
        return;
    // The oldest entries go, and the paragraph break before the first entry left.
    LONG chars = 0;
    for (size_t i = 0; i < entries; ++i)
        chars += static_cast<LONG>(FShown[i]);
    FShown.erase(FShown.begin(), FShown.begin() + static_cast<std::ptrdiff_t>(entries));
    chars += 1;
    FShown.front() -= 1;
    CHARRANGE range{0, chars};
    SendMessageW(FPane, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    SendMessageW(FPane, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
}
