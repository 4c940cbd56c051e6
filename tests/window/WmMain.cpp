// Window tests under a window manager: an X server and openbox of their own, so that frames,
// placement and window states are the ones a desktop gives. A configuration folder of their own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QSocketNotifier>

#include <filesystem>
#include <iostream>
#include <memory>

#include "net/EventLoop.h"
#include "window/XDisplay.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    TXServer x;
    TWindowManager wm(x.Display);
    if (!wm.Ready) {
        std::cerr << (x.Display.empty() ? "Xvfb could not be started" : "openbox could not be started")
                  << " (Debian: xvfb, openbox; tools/setup.sh installs them)\n";
        return 1;
    }
    setenv("DISPLAY", x.Display.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    char tmpl[] = "/tmp/tzz-window-XXXXXX";
    setenv("XDG_CONFIG_HOME", mkdtemp(tmpl), 1);
    char temp[] = "/tmp/tzz-window-tmp-XXXXXX";
    setenv("TMPDIR", mkdtemp(temp), 1);
    setenv("XDG_RUNTIME_DIR", temp, 1);  // mkdtemp made it private, as the toolkit wants
    int status = 0;
    {
        QApplication app(argc, argv);
        QSocketNotifier notifier(TEventLoop::Default().Descriptor(), QSocketNotifier::Read);
        QObject::connect(&notifier, &QSocketNotifier::activated, [] { TEventLoop::Default().ProcessEvents(0); });
        status = RUN_ALL_TESTS();
    }
    std::error_code ec;
    std::filesystem::remove_all(tmpl, ec);
    std::filesystem::remove_all(temp, ec);
    return status;
}
