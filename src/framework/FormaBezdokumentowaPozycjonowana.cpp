#include "framework/FormaBezdokumentowaPozycjonowana.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>
#include <QWindowStateChangeEvent>

namespace {

TRect ToRect(const QRect& r) { return {r.x(), r.y(), r.width(), r.height()}; }

int StateOf(Qt::WindowStates s)
{
    if (s & Qt::WindowMinimized)
        return StanZminimalizowany;
    if (s & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return StanZmaksymalizowany;
    return StanNormalny;
}

}  // namespace

TRect TFormaBezdokumentowaPozycjonowana::AvailableArea(const TRect& near) const
{
    if (!ScreenArea.isNull())
        return ToRect(ScreenArea);
    QScreen* screen = QGuiApplication::screenAt(QPoint(near.Left + near.Width / 2, near.Top + near.Height / 2));
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? ToRect(screen->availableGeometry()) : TRect{0, 0, 1024, 768};
}

TFrameMargins TFormaBezdokumentowaPozycjonowana::Frame() const
{
    QMargins m = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    return {m.left(), m.top(), m.right(), m.bottom()};
}

int TFormaBezdokumentowaPozycjonowana::State() const { return StateOf(windowState()); }

void TFormaBezdokumentowaPozycjonowana::FormCreate()
{
    TFormaBezdokumentowa::FormCreate();
    FStored = Settings() ? ReadPlacement(*Settings()) : TPlacement{};
    create();
    windowHandle()->installEventFilter(this);
    // A window manager gives the frame only once the window is shown: the placement is fitted
    // without it now, and again from the stored placement when it is known.
    TFrameMargins frame = Frame();
    FFrameKnown = !frame.IsNull();
    TPlacement p = KeptOnScreen(FStored, AvailableArea(FStored.Bounds()), frame);
    setGeometry(p.Left, p.Top, p.Width, p.Height);
    FApplied = p.Bounds();
    FNormal.Set(FApplied);
    if (p.State == StanZminimalizowany)
        setWindowState(Qt::WindowMinimized);
    else if (p.State == StanZmaksymalizowany)
        setWindowState(Qt::WindowMaximized);
}

void TFormaBezdokumentowaPozycjonowana::FitOnceTheFrameIsKnown()
{
    if (FFrameKnown || !isVisible())
        return;
    TFrameMargins frame = Frame();
    if (frame.IsNull())
        return;
    FFrameKnown = true;
    if (!(FNormal.Bounds() == FApplied))
        return;  // the user has placed the window meanwhile
    TRect fitted = KeptOnScreen(FStored, AvailableArea(FStored.Bounds()), frame).Bounds();
    FNormal.Set(fitted);
    if (State() == StanNormalny && !(ToRect(geometry()) == fitted))
        setGeometry(fitted.Left, fitted.Top, fitted.Width, fitted.Height);
}

void TFormaBezdokumentowaPozycjonowana::Changed()
{
    FitOnceTheFrameIsKnown();
    if (isVisible())
        FNormal.Changed(ToRect(geometry()), State());
}

void TFormaBezdokumentowaPozycjonowana::FormClose()
{
    TFormaBezdokumentowa::FormClose();
    TSettingsStore* s = Settings();
    if (!s)
        return;
    TPlacement p;
    p.State = State();
    setWindowState(Qt::WindowNoState);
    p.SetBounds(FNormal.Bounds());
    WritePlacement(*s, p);
}

void TFormaBezdokumentowaPozycjonowana::moveEvent(QMoveEvent* event)
{
    TFormaBezdokumentowa::moveEvent(event);
    Changed();
}

void TFormaBezdokumentowaPozycjonowana::resizeEvent(QResizeEvent* event)
{
    TFormaBezdokumentowa::resizeEvent(event);
    Changed();
}

void TFormaBezdokumentowaPozycjonowana::changeEvent(QEvent* event)
{
    TFormaBezdokumentowa::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    int from = StateOf(static_cast<QWindowStateChangeEvent*>(event)->oldState());
    if (TNormalBounds::Restored(from, State())) {
        // Wherever the window system puts a restored window, it goes back to its normal bounds.
        const TRect& b = FNormal.Bounds();
        setGeometry(b.Left, b.Top, b.Width, b.Height);
    }
}

bool TFormaBezdokumentowaPozycjonowana::eventFilter(QObject* watched, QEvent* event)
{
    // The frame appears with the first exposure; no move need come with it.
    if (watched == windowHandle() && event->type() == QEvent::Expose)
        FitOnceTheFrameIsKnown();
    return TFormaBezdokumentowa::eventFilter(watched, event);
}
