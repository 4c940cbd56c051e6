#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <fstream>

#include "core/Settings.h"
#include "core/posix/IniFolder.h"
#include "support/Loopback.h"

// Every test starts with an empty configuration folder.
struct WindowTest : ::testing::Test {
    void SetUp() override
    {
        for (auto& entry : std::filesystem::directory_iterator(ConfigFolder()))
            std::filesystem::remove_all(entry.path());
    }
    static void Pump(int ms)
    {
        int64_t end = MonotonicMs() + ms;
        while (MonotonicMs() < end)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    static std::string Placement(const char* name)
    {
        TSettingsStore s("Welkor/Trelubki Serwer Zuli-Zuli");
        return s.Read("StareRozmiary", name).value_or("(none)");
    }
    // Nothing listens there: a download fails at once.
    static constexpr const char* Nowhere = "http://127.0.0.1:1/";
};

// What a modal message box showed: opened by open(), read and closed as soon as it is up.
struct TBoxSeen {
    QString Title, Text;
    bool Icon = false;
    bool Seen = false;
};
inline TBoxSeen SeeModalBox(const std::function<void()>& open)
{
    TBoxSeen seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                seen = {box->windowTitle(), box->text(), !box->iconPixmap().isNull(), true};
                box->done(0);
                poll.stop();
            }
    });
    poll.start(10);
    open();
    return seen;
}
