#pragma once
#include <QRect>

#include "framework/FormaBezdokumentowa.h"
#include "framework/WindowPlacement.h"

class QWindow;

// A document-less window that comes back with the size, place and state it had when closed. The
// rules are WindowPlacement's; this class applies them with the toolkit. Bounds are the client
// area's throughout (geometry()), read, fitted and stored alike: under X11 the frame is the
// window manager's and known only once the window is shown.
class TFormaBezdokumentowaPozycjonowana : public TFormaBezdokumentowa {
public:
    using TFormaBezdokumentowa::TFormaBezdokumentowa;

    void FormCreate() override;
    void FormClose() override;

    // The screen area the whole frame is kept on; unless set, the available area (without the
    // desktop's panels) of the screen the stored place lies on, or of the primary screen.
    QRect ScreenArea;

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TRect AvailableArea(const TRect& near) const;
    TFrameMargins Frame() const;
    int State() const;
    void FitOnceTheFrameIsKnown();
    void Changed();

    TPlacement FStored;  // as read: fitted again from it once the frame is known
    TRect FApplied;      // the bounds given at start-up
    bool FFrameKnown = true;
    TNormalBounds FNormal;
};
