#include "framework/windows/FormaBezdokumentowaPozycjonowana.h"

TFormaBezdokumentowaPozycjonowana::~TFormaBezdokumentowaPozycjonowana() = default;

TRect TFormaBezdokumentowaPozycjonowana::AvailableArea(const TRect& around) const
{
    if (ScreenArea.right > ScreenArea.left)
        return {ScreenArea.left, ScreenArea.top, ScreenArea.right - ScreenArea.left, ScreenArea.bottom - ScreenArea.top};
    RECT r{around.Left, around.Top, around.Left + around.Width, around.Top + around.Height};
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(MonitorFromRect(&r, MONITOR_DEFAULTTOPRIMARY), &info))
        return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    const RECT& w = info.rcWork;  // without the taskbar
    return {w.left, w.top, w.right - w.left, w.bottom - w.top};
}

int TFormaBezdokumentowaPozycjonowana::State() const
{
    if (IsIconic(FWindow))
        return StanZminimalizowany;
    if (IsZoomed(FWindow))
        return StanZmaksymalizowany;
    return StanNormalny;
}

void TFormaBezdokumentowaPozycjonowana::FormCreate()
{
    TFormaStandardowa::FormCreate();
    FSettings = std::make_unique<TSettingsStore>("Welkor/" + ProductName);
    TPlacement stored = ReadPlacement(*FSettings);
    // The whole window is what is stored and moved here: no frame beyond it.
    TPlacement p = KeptOnScreen(stored, AvailableArea(stored.Bounds()));
    FNormal.Set(p.Bounds());
    SetWindowPos(FWindow, nullptr, p.Left, p.Top, p.Width, p.Height, SWP_NOZORDER | SWP_NOACTIVATE);
    FShowCommand = p.State == StanZminimalizowany    ? SW_SHOWMINNOACTIVE
                   : p.State == StanZmaksymalizowany ? SW_SHOWMAXIMIZED
                                                     : SW_SHOWNORMAL;
}

void TFormaBezdokumentowaPozycjonowana::FormClose()
{
    TFormaStandardowa::FormClose();
    if (!FSettings || !FWindow)
        return;
    TPlacement p;
    p.State = State();
    p.SetBounds(FNormal.Bounds());
    WritePlacement(*FSettings, p);
}

LRESULT TFormaBezdokumentowaPozycjonowana::WndProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_WINDOWPOSCHANGED && FWindow && IsWindowVisible(FWindow)) {
        // Only the normal window's moves and sizes count: a maximized or minimized one keeps the
        // bounds it is restored to.
        RECT r{};
        GetWindowRect(FWindow, &r);
        FNormal.Changed({r.left, r.top, r.right - r.left, r.bottom - r.top}, State());
    }
    return TFormaStandardowa::WndProc(message, wParam, lParam);
}
