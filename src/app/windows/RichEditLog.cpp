#include "app/windows/RichEditLog.h"

#include <richedit.h>

#include "app/HeadlessLog.h"
#include "core/windows/WideText.h"

std::wstring LogEntryText(ByteView entry)
{
    // Every byte shows as one character at least, so more bytes than that are never looked at.
    constexpr size_t most = TRichEditLog::MaxEntryChars;
    bool cut = entry.size() > most;
    std::wstring text = WideOf(ShowLogEntry(entry.substr(0, most)));
    if (text.size() > most) {
        text.resize(most);
        cut = true;
    }
    for (wchar_t& c : text)
        if (c == L'\n')
            c = L'\r';  // the rich edit's line break
    if (cut)
        text += L'\u2026';
    return text;
}

TRichEditLog::TRichEditLog(HWND pane, HWND timerWindow) : FPane(pane), FTimerWindow(timerWindow)
{
    // The pane holds as much as the entries' bound allows (its default is 32 K characters).
    SendMessageW(FPane, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
}

void TRichEditLog::Append(ByteView line)
{
    // What would scroll off before it is ever shown is not kept.
    if (FPending.size() >= MaxEntries)
        FPending.pop_front();
    FPending.push_back({FColour, LogEntryText(line)});
    if (!FTimerSet && FTimerWindow) {
        SetTimer(FTimerWindow, FlushTimer, 30, nullptr);
        FTimerSet = true;
    }
}

void TRichEditLog::Flush()
{
    if (FTimerSet) {
        KillTimer(FTimerWindow, FlushTimer);
        FTimerSet = false;
    }
    if (FPending.empty())
        return;
    SCROLLINFO bar{};
    bar.cbSize = sizeof bar;
    bar.fMask = SIF_ALL;
    bool atBottom = !GetScrollInfo(FPane, SB_VERT, &bar) || bar.nPos + static_cast<int>(bar.nPage) >= bar.nMax;
    CHARRANGE selection{};
    SendMessageW(FPane, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    SendMessageW(FPane, WM_SETREDRAW, FALSE, 0);

    // One insertion per run of entries of one colour.
    size_t i = 0;
    while (i < FPending.size()) {
        TLogColour colour = FPending[i].Colour;
        std::wstring run;
        for (; i < FPending.size() && FPending[i].Colour == colour; ++i) {
            size_t before = run.size();
            if (!FShown.empty() || before > 0)
                run += L'\r';  // a new paragraph
            run += FPending[i].Text;
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
    FPending.clear();
    if (FShown.size() > MaxEntries + TrimBatch)
        Trim();

    SendMessageW(FPane, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    SendMessageW(FPane, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(FPane, nullptr, TRUE);
    if (atBottom)
        SendMessageW(FPane, WM_VSCROLL, SB_BOTTOM, 0);
}

void TRichEditLog::Trim()
{
    // The oldest entries go, with the paragraph break after the last of them.
    size_t drop = FShown.size() - MaxEntries;
    LONG chars = 0;
    for (size_t i = 0; i < drop; ++i)
        chars += static_cast<LONG>(FShown[i]);
    FShown.erase(FShown.begin(), FShown.begin() + static_cast<std::ptrdiff_t>(drop));
    // The first entry left loses its leading break.
    chars += 1;
    FShown.front() -= 1;
    CHARRANGE range{0, chars};
    SendMessageW(FPane, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    SendMessageW(FPane, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));

}
