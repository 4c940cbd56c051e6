#pragma once
#include "framework/FormaBezdokumentowa.h"

// A document-less window that comes back with the size, place and state it had when closed.
class TFormaBezdokumentowaPozycjonowana : public TFormaBezdokumentowa {
public:
    using TFormaBezdokumentowa::TFormaBezdokumentowa;

    void FormCreate() override;
    void FormClose() override;

    // Screen size used by the on-screen correction; the primary screen unless set.
    int ScreenWidth = -1, ScreenHeight = -1;

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void RememberNormal();
    QPoint FNormalPos;  // place and size of the window in the normal state, as last seen
    QSize FNormalSize;
};

struct TPlacement {
    int Height = 342, Width = 522, Left = -1, Top = -1, State = 0;
};
// Keeps a window on a screen of that size: never past the right or bottom edge, never above or
// left of 0.
TPlacement KeptOnScreen(TPlacement p, int screenWidth, int screenHeight);
