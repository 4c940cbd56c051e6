#include "framework/FormaBezdokumentowaPozycjonowana.h"

#include <QGuiApplication>
#include <QScreen>

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

TPlacement KeptOnScreen(TPlacement p, int screenWidth, int screenHeight)
{
    if (p.Top + p.Height > screenHeight)
        p.Top = screenHeight - p.Height;
    if (p.Left + p.Width > screenWidth)
        p.Left = screenWidth - p.Width;
    if (p.Top < 0)
        p.Top = 0;
    if (p.Left < 0)
        p.Left = 0;
    return p;
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
    QSize screen = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->geometry().size() : QSize(1024, 768);
    p = KeptOnScreen(p, ScreenWidth > 0 ? ScreenWidth : screen.width(), ScreenHeight > 0 ? ScreenHeight : screen.height());
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
    RememberNormal();
}

void TFormaBezdokumentowaPozycjonowana::resizeEvent(QResizeEvent* event)
{
    TFormaBezdokumentowa::resizeEvent(event);
    RememberNormal();
}
