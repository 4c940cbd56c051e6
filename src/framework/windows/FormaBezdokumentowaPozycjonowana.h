#pragma once
// The standard window with a settings store under the maker's key and the product name
// (HKEY_CURRENT_USER\SOFTWARE\Welkor\<product name>), which comes back with the size, place and
// state it had when it was closed. The rules are WindowPlacement's; this class applies them with
// the system's calls. Bounds are the whole window's (frame included), in screen pixels; the frame
// is kept on the work area of the monitor the stored place lies on.
#include <memory>

#include "core/Settings.h"
#include "framework/WindowPlacement.h"
#include "framework/windows/FormaStandardowa.h"

class TFormaBezdokumentowaPozycjonowana : public TFormaStandardowa {
public:
    using TFormaStandardowa::TFormaStandardowa;
    ~TFormaBezdokumentowaPozycjonowana() override;

    void FormCreate() override;
    void FormClose() override;
    TSettingsStore* Settings() { return FSettings.get(); }

    // The area the frame is kept on; unless set, the work area of the monitor nearest to the
    // stored place.
    RECT ScreenArea{};
    // The state the window is shown in by Show (SW_SHOWNORMAL, SW_SHOWMAXIMIZED...).
    int ShowCommand() const { return FShowCommand; }
    const TRect& NormalBounds() const { return FNormal.Bounds(); }

protected:
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    TRect AvailableArea(const TRect& around) const;
    int State() const;

    std::unique_ptr<TSettingsStore> FSettings;
    TNormalBounds FNormal;
    int FShowCommand = SW_SHOWNORMAL;
};
