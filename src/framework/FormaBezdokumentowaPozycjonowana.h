#pragma once
#include <QMargins>
#include <QRect>

#include "framework/FormaBezdokumentowa.h"

// A document-less window that comes back with the size, place and state it had when closed.
class TFormaBezdokumentowaPozycjonowana : public TFormaBezdokumentowa {
public:
    using TFormaBezdokumentowa::TFormaBezdokumentowa;

    void FormCreate() override;
    void FormClose() override;

    // The screen area the whole frame is kept on; the primary screen's available area (without
    // the desktop's panels) unless set.
    QRect ScreenArea;

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QRect AvailableArea() const;
    void KeepFrameOnScreen();
    void RememberNormal();
    bool FCheckFrame = false;  // until the window manager has given the window its frame
    QPoint FNormalPos;  // place and size of the window in the normal state, as last seen
    QSize FNormalSize;
};

struct TPlacement {
    int Height = 342, Width = 522, Left = -1, Top = -1, State = 0;
};
// Keeps the whole frame of a window (client size Width x Height, frame at Left, Top, with these
// frame margins) on the area: never past its right or bottom edge, never above or left of it.
TPlacement KeptOnScreen(TPlacement p, const QRect& area, const QMargins& frame = {});
