#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QStatusBar>

#include <filesystem>
#include <fstream>

#include "core/Settings.h"
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
