// The window's size, place and state across restarts, under a window manager whose frames are
// real: the title bar and borders are the manager's and known only once the window is shown.
#include <QScreen>
#include <QWindow>

#include "framework/FormaBezdokumentowaPozycjonowana.h"
#include "window/WindowFixture.h"

// Rectangles in failure messages as a person reads them.
void PrintTo(const QRect& r, std::ostream* os) { *os << r.x() << "," << r.y() << " " << r.width() << "x" << r.height(); }
void PrintTo(const QSize& s, std::ostream* os) { *os << s.width() << "x" << s.height(); }
void PrintTo(const QPoint& p, std::ostream* os) { *os << p.x() << "," << p.y(); }

namespace {

struct TPlacedForm : TFormaBezdokumentowaPozycjonowana {
    TPlacedForm()
    {
        VersionCheck.Server.VersionBaseAddress = "";  // no version check
        ShowMessageBox = [](const QString&, const QString&, bool) {};
    }
};

struct PlacementTest : WindowTest {
    // Waits (a loaded machine may take long) until the condition holds; false if it never did.
    template <class F>
    static bool WaitUntil(F condition, int timeoutMs = 10000)
    {
        int64_t end = MonotonicMs() + timeoutMs;
        while (!condition()) {
            if (MonotonicMs() > end)
                return false;
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return true;
    }
    // Shows the window and waits until the window manager has framed it and all has settled.
    static void ShowFramed(QWidget& form)
    {
        form.show();
        ASSERT_TRUE(WaitUntil([&] { return form.windowHandle()->isExposed() && !form.windowHandle()->frameMargins().isNull(); }));
        Settle(form);
    }
    // Nothing has moved the window for a while.
    static void Settle(QWidget& form)
    {
        QRect last = form.frameGeometry();
        int64_t stableSince = MonotonicMs(), end = MonotonicMs() + 10000;
        while (MonotonicMs() - stableSince < 300 && MonotonicMs() < end) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            if (form.frameGeometry() != last) {
                last = form.frameGeometry();
                stableSince = MonotonicMs();
            }
        }
    }
    static void Store(int left, int top, int width, int height, int state = 0)
    {
        TSettingsStore s("Welkor/Trelubki Serwer Zuli-Zuli");
        s.Write("StareRozmiary", "OdLewej", std::to_string(left));
        s.Write("StareRozmiary", "OdGóry", std::to_string(top));
        s.Write("StareRozmiary", "Szerokość", std::to_string(width));
        s.Write("StareRozmiary", "Wysokość", std::to_string(height));
        s.Write("StareRozmiary", "StanOkna", std::to_string(state));
    }
    static QRect Available() { return QGuiApplication::primaryScreen()->availableGeometry(); }
    static void ExpectWhollyOnScreen(const QWidget& form)
    {
        QRect frame = form.frameGeometry();
        EXPECT_TRUE(Available().contains(frame)) << ::testing::PrintToString(frame);
    }
};

}  // namespace

TEST_F(PlacementTest, ThePlaceHoldsOverTwentyRestartsAndAfterAMove)
{
    Store(200, 150, 500, 300);
    for (int i = 0; i < 20; ++i) {
        TPlacedForm form;
        form.FormCreate();
        ShowFramed(form);
        ASSERT_EQ(form.geometry(), QRect(200, 150, 500, 300)) << "restart " << i;
        form.close();
        ASSERT_EQ(Placement("OdLewej"), "200") << "restart " << i;
        ASSERT_EQ(Placement("OdGóry"), "150") << "restart " << i;
    }
    {
        TPlacedForm form;
        form.FormCreate();
        ShowFramed(form);
        form.move(form.pos() + QPoint(37, 41));  // moved as the frame is dragged
        ASSERT_TRUE(WaitUntil([&] { return form.geometry().topLeft() == QPoint(237, 191); }));
        Settle(form);
        form.close();
    }
    for (int i = 0; i < 3; ++i) {
        TPlacedForm form;
        form.FormCreate();
        ShowFramed(form);
        EXPECT_EQ(form.geometry(), QRect(237, 191, 500, 300)) << "restart " << i << " after the move";
        form.close();
    }
}

TEST_F(PlacementTest, FirstStartAndATopOfZeroShowTheWholeFrame)
{
    {
        TPlacedForm form;
        form.FormCreate();
        ShowFramed(form);
        EXPECT_EQ(form.size(), QSize(522, 342));
        EXPECT_EQ(form.frameGeometry().topLeft(), Available().topLeft());  // the top left corner, title bar on it
        ExpectWhollyOnScreen(form);
        form.close();
    }
    Store(300, 0, 500, 300);
    TPlacedForm form;
    form.FormCreate();
    ShowFramed(form);
    EXPECT_EQ(form.frameGeometry().top(), Available().top());
    EXPECT_EQ(form.geometry().left(), 300);
    ExpectWhollyOnScreen(form);
}

TEST_F(PlacementTest, OversizedAndOffScreenPlacementsAreBroughtOntoTheScreen)
{
    // Last used on a larger monitor: the size is cut to what the screen holds.
    Store(100, 100, 1900, 1400);
    {
        TPlacedForm form;
        form.FormCreate();
        ShowFramed(form);
        ExpectWhollyOnScreen(form);
        EXPECT_EQ(form.frameGeometry().size(), Available().size());
        form.close();
    }
    // Corrupt sizes count as absent.
    Store(100, 100, 99999, 99999);
    {
        TPlacedForm form;
        form.FormCreate();
        ShowFramed(form);
        EXPECT_EQ(form.size(), QSize(522, 342));
        form.close();
    }
    // Past the right and bottom edges, and past the left and top ones.
    for (QPoint place : {QPoint(1900, 2000), QPoint(-3000, -3000)}) {
        Store(place.x(), place.y(), 500, 300);
        TPlacedForm form;
        form.FormCreate();
        ShowFramed(form);
        EXPECT_EQ(form.size(), QSize(500, 300));
        ExpectWhollyOnScreen(form);
        QRect frame = form.frameGeometry();
        if (place.x() > 0)
            EXPECT_EQ(frame.bottomRight(), Available().bottomRight());
        else
            EXPECT_EQ(frame.topLeft(), Available().topLeft());
        form.close();
    }
}

TEST_F(PlacementTest, MaximizedRoundTripKeepsTheNormalPlace)
{
    Store(150, 120, 600, 400);
    {
        TPlacedForm form;
        form.FormCreate();
        ShowFramed(form);
        form.showMaximized();
        ASSERT_TRUE(WaitUntil([&] { return form.isMaximized() && form.width() > 600; }));
        Settle(form);
        form.close();
    }
    EXPECT_EQ(Placement("StanOkna"), "2");
    EXPECT_EQ(Placement("OdLewej"), "150");
    EXPECT_EQ(Placement("OdGóry"), "120");
    EXPECT_EQ(Placement("Szerokość"), "600");
    EXPECT_EQ(Placement("Wysokość"), "400");
    {
        TPlacedForm form;
        form.FormCreate();
        ShowFramed(form);
        ASSERT_TRUE(WaitUntil([&] { return form.isMaximized() && form.width() > 600; }));
        form.showNormal();  // restored: back at the normal place, not at the corner
        ASSERT_TRUE(WaitUntil([&] { return !form.isMaximized(); }));
        Settle(form);
        EXPECT_EQ(form.geometry(), QRect(150, 120, 600, 400));
        form.close();
    }
    EXPECT_EQ(Placement("StanOkna"), "0");
    EXPECT_EQ(Placement("OdLewej"), "150");
    EXPECT_EQ(Placement("OdGóry"), "120");
}
