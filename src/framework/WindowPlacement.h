#pragma once
// The rules that bring a window back with the size, place and state it had when it was closed,
// written without a toolkit: each window system's window reads the stored placement here, fits it
// to the screen here and applies the result with its own calls.
//
// A placement's Left, Top, Width and Height are one kind of rectangle throughout, read and
// written alike: the rectangle the window system moves and sizes (the client area under X11;
// the whole window on Windows, whose frame margins are then zero). The frame margins say how far
// the window's frame (title bar, borders) reaches beyond it.
#include <string>

class TSettingsStore;

struct TRect {
    int Left = 0, Top = 0, Width = 0, Height = 0;
    int Right() const { return Left + Width; }  // one past the last column
    int Bottom() const { return Top + Height; }
    bool operator==(const TRect&) const = default;
};

struct TFrameMargins {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    bool IsNull() const { return Left == 0 && Top == 0 && Right == 0 && Bottom == 0; }
    bool operator==(const TFrameMargins&) const = default;
};

// Window states as they are stored.
enum : int { StanNormalny = 0, StanZminimalizowany = 1, StanZmaksymalizowany = 2 };

struct TPlacement {
    int Height = 342, Width = 522, Left = -1, Top = -1, State = StanNormalny;
    TRect Bounds() const { return {Left, Top, Width, Height}; }
    void SetBounds(const TRect& r)
    {
        Left = r.Left;
        Top = r.Top;
        Width = r.Width;
        Height = r.Height;
    }
    bool operator==(const TPlacement&) const = default;
};

// The section of the window's settings that holds its placement.
extern const char* const PlacementSection;
// No window system makes a window or a screen coordinate this large (both keep them in 16 bits).
constexpr int PlacementLimit = 32767;

// The stored placement. A value that is absent, not a number, or absurd (a size below one pixel
// or past PlacementLimit, a place past it either way, a state other than 0, 1 or 2) counts as
// absent and gives its default: a corrupt value must not make a window of gigabytes.
TPlacement ReadPlacement(const TSettingsStore& store);
// Stores the state first, then the normal bounds. False when a value could not be stored.
bool WritePlacement(TSettingsStore& store, const TPlacement& placement);

// The placement fitted to the area (the screen without the desktop's panels): the size no
// larger than the area leaves room for, with the frame; then the whole frame on the area, never
// past its right or bottom edge, never above or left of it (so the title bar can be reached).
// The state is kept.
TPlacement KeptOnScreen(TPlacement p, const TRect& area, const TFrameMargins& frame = {});

// The bounds of the window in the normal state, as they are stored when it closes and as the
// window takes them back when it is restored. Only a move or resize of the normal window changes
// them: what a maximized or minimized window goes through, and where the window system puts one
// it restores, leaves them as they were.
class TNormalBounds {
public:
    TNormalBounds() = default;
    explicit TNormalBounds(const TRect& start) : FBounds(start) {}

    const TRect& Bounds() const { return FBounds; }
    void Set(const TRect& bounds) { FBounds = bounds; }
    // The window now has these bounds, in this state.
    void Changed(const TRect& now, int state)
    {
        if (state == StanNormalny)
            FBounds = now;
    }
    // The state changed. True when the window has just been restored: the caller puts it back
    // at Bounds(), wherever the window system put it.
    static bool Restored(int from, int to) { return from != StanNormalny && to == StanNormalny; }

private:
    TRect FBounds;
};
