#include "framework/FormaBezdokumentowaPozycjonowana.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <charconv>

namespace {

const char* const Section = "StareRozmiary";

int ReadInt(TSettingsStore* store, const char* name, int fallback)
{
    if (!store)
        return fallback;
    auto text = store->Read(Section, name);
    if (!text)
        return fallback;
    int value = 0;
    auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
    return ec == std::errc() && end == text->data() + text->size() ? value : fallback;
}

}  // namespace

TPlacement KeptOnScreen(TPlacement p, const QRect& area, const QMargins& frame)
{
    int frameWidth = p.Width + frame.left() + frame.right();
    int frameHeight = p.Height + frame.top() + frame.bottom();
    int right = area.x() + area.width(), bottom = area.y() + area.height();
    if (p.Top + frameHeight > bottom)
        p.Top = bottom - frameHeight;
    if (p.Left + frameWidth > right)
        p.Left = right - frameWidth;
    if (p.Top < area.y())
        p.Top = area.y();
    if (p.Left < area.x())
        p.Left = area.x();
    return p;
}

QRect TFormaBezdokumentowaPozycjonowana::AvailableArea() const
{
    if (!ScreenArea.isNull())
        return ScreenArea;
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

void TFormaBezdokumentowaPozycjonowana::KeepFrameOnScreen()
{
    // Some window managers give the frame only once the window is shown: correct it then, once.
    QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    if (!FCheckFrame || !isVisible() || windowState() != Qt::WindowNoState || frame.isNull())
        return;
    FCheckFrame = false;
    TPlacement now{height(), width(), pos().x(), pos().y(), 0};
    TPlacement kept = KeptOnScreen(now, AvailableArea(), frame);
    if (kept.Left != now.Left || kept.Top != now.Top)
        move(kept.Left, kept.Top);
}

void TFormaBezdokumentowaPozycjonowana::FormCreate()
{
    TFormaBezdokumentowa::FormCreate();
    TPlacement p;
    p.Height = ReadInt(Settings(), "Wysokość", 342);
    p.Width = ReadInt(Settings(), "Szerokość", 522);
    p.Left = ReadInt(Settings(), "OdLewej", -1);
    p.Top = ReadInt(Settings(), "OdGóry", -1);
    p.State = ReadInt(Settings(), "StanOkna", 0);
    // The frame counts: a status bar below the screen's edge is as lost as the whole window.
    create();
    QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    FCheckFrame = frame.isNull();
    p = KeptOnScreen(p, AvailableArea(), frame);
    resize(p.Width, p.Height);
    move(p.Left, p.Top);
    FNormalPos = QPoint(p.Left, p.Top);
    FNormalSize = QSize(p.Width, p.Height);
    if (p.State == 1)
        setWindowState(Qt::WindowMinimized);
    else if (p.State == 2)
        setWindowState(Qt::WindowMaximized);
}

void TFormaBezdokumentowaPozycjonowana::FormClose()
{
    TFormaBezdokumentowa::FormClose();
    int state = isMinimized() ? 1 : isMaximized() ? 2 : 0;
    TSettingsStore* s = Settings();
    if (!s)
        return;
    s->Write(Section, "StanOkna", std::to_string(state));
    setWindowState(Qt::WindowNoState);
    s->Write(Section, "Wysokość", std::to_string(FNormalSize.height()));
    s->Write(Section, "Szerokość", std::to_string(FNormalSize.width()));
    s->Write(Section, "OdLewej", std::to_string(FNormalPos.x()));
    s->Write(Section, "OdGóry", std::to_string(FNormalPos.y()));
}

void TFormaBezdokumentowaPozycjonowana::RememberNormal()
{
    // Not every platform gives the normal bounds back at once when a window is restored.
    if (!(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))) {
        FNormalPos = pos();
        FNormalSize = size();
    }
}

void TFormaBezdokumentowaPozycjonowana::moveEvent(QMoveEvent* event)
{
    TFormaBezdokumentowa::moveEvent(event);
    KeepFrameOnScreen();
    RememberNormal();
}

void TFormaBezdokumentowaPozycjonowana::resizeEvent(QResizeEvent* event)
{
    TFormaBezdokumentowa::resizeEvent(event);
    KeepFrameOnScreen();
    RememberNormal();
}
