#include "framework/WindowPlacement.h"

#include <algorithm>
#include <charconv>

#include "core/Settings.h"

const char* const PlacementSection = "StareRozmiary";

namespace {

// The stored integer when it is one within [low, high]; otherwise the default.
int ReadInt(const TSettingsStore& store, const char* name, int fallback, int low, int high)
{
    std::optional<std::string> text = store.Read(PlacementSection, name);
    if (!text)
        return fallback;
    int value = 0;
    const char* end = text->data() + text->size();
    auto [stop, ec] = std::from_chars(text->data(), end, value);
    if (ec != std::errc() || stop != end || value < low || value > high)
        return fallback;
    return value;
}

}  // namespace

TPlacement ReadPlacement(const TSettingsStore& store)
{
    TPlacement p;
    p.Height = ReadInt(store, "Wysokość", p.Height, 1, PlacementLimit);
    p.Width = ReadInt(store, "Szerokość", p.Width, 1, PlacementLimit);
    p.Left = ReadInt(store, "OdLewej", p.Left, -PlacementLimit, PlacementLimit);
    p.Top = ReadInt(store, "OdGóry", p.Top, -PlacementLimit, PlacementLimit);
    p.State = ReadInt(store, "StanOkna", p.State, StanNormalny, StanZmaksymalizowany);
    return p;
}

bool WritePlacement(TSettingsStore& store, const TPlacement& p)
{
    // Every value is tried: one that fails does not keep the others from being stored.
    bool stored = store.Write(PlacementSection, "StanOkna", std::to_string(p.State));
    stored = store.Write(PlacementSection, "Wysokość", std::to_string(p.Height)) && stored;
    stored = store.Write(PlacementSection, "Szerokość", std::to_string(p.Width)) && stored;
    stored = store.Write(PlacementSection, "OdLewej", std::to_string(p.Left)) && stored;
    stored = store.Write(PlacementSection, "OdGóry", std::to_string(p.Top)) && stored;
    return stored;
}

TPlacement KeptOnScreen(TPlacement p, const TRect& area, const TFrameMargins& frame)
{
    int frameWidth = frame.Left + frame.Right, frameHeight = frame.Top + frame.Bottom;
    // A window last used on a larger screen gets smaller rather than lose its edges.
    p.Width = std::max(1, std::min(p.Width, area.Width - frameWidth));
    p.Height = std::max(1, std::min(p.Height, area.Height - frameHeight));
    if (p.Top + p.Height + frame.Bottom > area.Bottom())
        p.Top = area.Bottom() - frame.Bottom - p.Height;
    if (p.Left + p.Width + frame.Right > area.Right())
        p.Left = area.Right() - frame.Right - p.Width;
    if (p.Top - frame.Top < area.Top)
        p.Top = area.Top + frame.Top;
    if (p.Left - frame.Left < area.Left)
        p.Left = area.Left + frame.Left;
    return p;
}
