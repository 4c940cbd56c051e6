// Window tests run offscreen with a configuration folder of their own, the servers' loop driven
// by the Qt loop as in the program.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QSocketNotifier>

#include <filesystem>

#include "net/EventLoop.h"

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char tmpl[] = "/tmp/tzz-window-XXXXXX";
    setenv("XDG_CONFIG_HOME", mkdtemp(tmpl), 1);
    // Temporary files of its own: the tests count what the version check leaves behind.
    char temp[] = "/tmp/tzz-window-tmp-XXXXXX";
    setenv("TMPDIR", mkdtemp(temp), 1);
    QApplication app(argc, argv);
    QSocketNotifier notifier(TEventLoop::Default().Descriptor(), QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [] { TEventLoop::Default().ProcessEvents(0); });
    ::testing::InitGoogleTest(&argc, argv);
    int status = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(tmpl, ec);
    std::filesystem::remove_all(temp, ec);
    return status;
}
