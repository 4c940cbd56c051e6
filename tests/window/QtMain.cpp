// Window tests run offscreen with a configuration folder of their own, the servers' loop driven
// by the Qt loop as in the program.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QSocketNotifier>

#include "net/EventLoop.h"

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char tmpl[] = "/tmp/tzz-window-XXXXXX";
    setenv("XDG_CONFIG_HOME", mkdtemp(tmpl), 1);
    QApplication app(argc, argv);
    QSocketNotifier notifier(TEventLoop::Default().Descriptor(), QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [] { TEventLoop::Default().ProcessEvents(0); });
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
