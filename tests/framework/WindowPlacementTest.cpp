// The placement rules as both windows use them, without a toolkit.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#ifndef _WIN32
#include <stdlib.h>
#endif

#include "core/Settings.h"
#include "framework/WindowPlacement.h"

namespace {

#ifndef _WIN32
// The settings files go to a folder of this run's own, removed at the end.
struct TConfigFolder : ::testing::Environment {
    std::string Dir;
    void SetUp() override
    {
        char tmpl[] = "/tmp/tzz-placement-XXXXXX";
        Dir = mkdtemp(tmpl);
        setenv("XDG_CONFIG_HOME", Dir.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(Dir); }
};
const auto* const ConfigFolderOfTheRun = ::testing::AddGlobalTestEnvironment(new TConfigFolder);
#endif

// A key of this run's own, so that nothing stored by another run or test is read.
std::string ScratchKey(const char* name)
{
    return "Welkor/PlacementTest-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
           name;
}

}  // namespace

TEST(WindowPlacement, StoredValuesComeBackAndAbsurdOnesCountAsAbsent)
{
    TSettingsStore store(ScratchKey("values"));
    EXPECT_EQ(ReadPlacement(store), TPlacement{});  // nothing stored: 522 x 342 at -1, -1, normal
    TPlacement p{400, 600, 30, 50, StanZmaksymalizowany};
    ASSERT_TRUE(WritePlacement(store, p));
    EXPECT_EQ(ReadPlacement(store), p);
    EXPECT_EQ(store.Read(PlacementSection, "OdGóry"), "50");
    EXPECT_EQ(store.Read(PlacementSection, "Szerokość"), "600");

    struct {
        const char* Name;
        const char* Value;
    } absurd[] = {{"Wysokość", "99999"}, {"Szerokość", "0"}, {"Szerokość", "-5"}, {"OdLewej", "40000"},
                  {"OdGóry", "-40000"},  {"StanOkna", "3"},  {"StanOkna", "-1"},  {"Wysokość", "12px"},
                  {"OdLewej", ""},       {"Wysokość", "99999999999999999999"}};
    for (auto& a : absurd) {
        TSettingsStore s(ScratchKey("absurd"));
        ASSERT_TRUE(WritePlacement(s, p));
        ASSERT_TRUE(s.Write(PlacementSection, a.Name, a.Value));
        TPlacement read = ReadPlacement(s);
        TPlacement expected = p;
        std::string name = a.Name;
        if (name == "Wysokość")
            expected.Height = 342;
        else if (name == "Szerokość")
            expected.Width = 522;
        else if (name == "OdLewej")
            expected.Left = -1;
        else if (name == "OdGóry")
            expected.Top = -1;
        else
            expected.State = StanNormalny;
        EXPECT_EQ(read, expected) << a.Name << "=" << a.Value;
    }
    // Negative places are ordinary on a screen left of or above the primary one.
    ASSERT_TRUE(store.Write(PlacementSection, "OdLewej", "-1200"));
    EXPECT_EQ(ReadPlacement(store).Left, -1200);
}

TEST(WindowPlacement, TheWholeFrameStaysOnTheArea)
{
    TRect screen{0, 0, 1280, 1024};
    TPlacement p;
    // With no frame, the rules as the window system without one gives them.
    EXPECT_EQ(KeptOnScreen(p, screen).Left, 0);  // first start: the top left corner
    EXPECT_EQ(KeptOnScreen(p, screen).Top, 0);
    p.Left = 1900;
    EXPECT_EQ(KeptOnScreen(p, screen).Left, 758);  // 1280 - 522

    // A frame of 1, 20, 1, 5 (left, top, right, bottom) and a panel of 24 pixels above.
    TRect area{0, 24, 1280, 1000};
    TFrameMargins frame{1, 20, 1, 5};
    TPlacement first = KeptOnScreen(TPlacement{}, area, frame);
    EXPECT_EQ(first.Left, 1);
    EXPECT_EQ(first.Top, 24 + 20);  // the title bar below the panel, not above the screen
    TPlacement zero;
    zero.Left = zero.Top = 0;
    EXPECT_EQ(KeptOnScreen(zero, area, frame).Top, 44);
    p.Left = 1900;
    p.Top = 2000;
    TPlacement kept = KeptOnScreen(p, area, frame);
    EXPECT_EQ(kept.Left + 522 + 1, 1280);  // the frame's right edge on the area's
    EXPECT_EQ(kept.Top + 342 + 5, 1024);   // and its bottom edge, status bar included
    EXPECT_EQ(kept.Width, 522);
    EXPECT_EQ(kept.Height, 342);

    // An area left of and above the primary screen's corner.
    TRect left{-1600, -200, 1600, 900};
    TPlacement there = KeptOnScreen(TPlacement{300, 500, -1700, -300, 0}, left, frame);
    EXPECT_EQ(there.Left, -1599);
    EXPECT_EQ(there.Top, -180);
}

TEST(WindowPlacement, ASizeLargerThanTheAreaIsReducedToIt)
{
    TRect area{0, 24, 1280, 1000};
    TFrameMargins frame{1, 20, 1, 5};
    TPlacement big{1400, 1900, 300, 200, StanZmaksymalizowany};  // last used on a larger screen
    TPlacement kept = KeptOnScreen(big, area, frame);
    EXPECT_EQ(kept.Width, 1278);
    EXPECT_EQ(kept.Height, 975);
    EXPECT_EQ(kept.Left, 1);
    EXPECT_EQ(kept.Top, 44);
    EXPECT_EQ(kept.State, StanZmaksymalizowany);  // the state is the window's own business
    // Without a frame the window fills the area exactly.
    TPlacement plain = KeptOnScreen(big, area);
    EXPECT_EQ(plain.Bounds(), (TRect{0, 24, 1280, 1000}));
    // An area smaller than the frame itself still gives a window.
    TPlacement tiny = KeptOnScreen(big, TRect{0, 0, 10, 10}, frame);
    EXPECT_GE(tiny.Width, 1);
    EXPECT_GE(tiny.Height, 1);
}

TEST(WindowPlacement, TheNormalBoundsOutliveMaximizingAndRestoring)
{
    TNormalBounds normal(TRect{100, 120, 600, 400});
    normal.Changed(TRect{110, 130, 600, 400}, StanNormalny);  // the user moves the normal window
    EXPECT_EQ(normal.Bounds(), (TRect{110, 130, 600, 400}));
    // Maximized: whatever the window goes through, the normal bounds stay.
    EXPECT_FALSE(TNormalBounds::Restored(StanNormalny, StanZmaksymalizowany));
    normal.Changed(TRect{0, 0, 1280, 1000}, StanZmaksymalizowany);
    normal.Changed(TRect{0, 0, 1280, 1000}, StanZminimalizowany);
    EXPECT_EQ(normal.Bounds(), (TRect{110, 130, 600, 400}));
    // Restored, from either, the window goes back to them.
    EXPECT_TRUE(TNormalBounds::Restored(StanZmaksymalizowany, StanNormalny));
    EXPECT_TRUE(TNormalBounds::Restored(StanZminimalizowany, StanNormalny));
    EXPECT_FALSE(TNormalBounds::Restored(StanNormalny, StanNormalny));
    EXPECT_FALSE(TNormalBounds::Restored(StanZminimalizowany, StanZmaksymalizowany));
}
