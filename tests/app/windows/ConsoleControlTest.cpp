// Ctrl+C, Ctrl+Break and closing the console, delivered as the system delivers them: to the
// handler, on a thread of their own.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "app/HeadlessLog.h"
#include "app/Platform.h"
#include "app/windows/ConsoleControl.h"
#include "core/Znaki.h"
#include "messenger/ZzSerwer.h"
#include "support/Loopback.h"
#include "support/windows/Pipe.h"

namespace {

// Runs loop until it is asked to stop; false when nothing asked within the time.
bool RunStopped(TEventLoop& loop, std::chrono::milliseconds within = std::chrono::seconds(10))
{
    std::atomic<bool> done{false}, watchdog{false};
    std::thread guard([&] {
        auto end = std::chrono::steady_clock::now() + within;
        while (!done && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!done) {
            watchdog = true;
            loop.QuitFromAnyThread();
        }
    });
    loop.Run();
    done = true;
    guard.join();
    return !watchdog;
}

bool Connects(int port)
{
    TPeer peer;
    return peer.Connect(port);
}

}  // namespace

TEST(ConsoleControl, CtrlCAndCtrlBreakStopTheLoopAndReturnAtOnce)
{
    PrepareProcess();
    for (DWORD event : {DWORD{CTRL_C_EVENT}, DWORD{CTRL_BREAK_EVENT}}) {
        TEventLoop loop;
        StopLoopOnRequest(loop);
        std::atomic<BOOL> handled{FALSE};
        std::thread console([&] { handled = ConsoleControlHandler(event); });
        EXPECT_TRUE(RunStopped(loop)) << event;
        console.join();
        EXPECT_TRUE(handled) << event;  // not passed on: the system's own handler would end the process
        StopWatchingLoop();
    }
}

TEST(ConsoleControl, ARequestDuringStartUpEndsTheFirstRoundAndLogoffIsNoRequest)
{
    PrepareProcess();
    EXPECT_TRUE(ConsoleControlHandler(CTRL_LOGOFF_EVENT));
    EXPECT_TRUE(ConsoleControlHandler(CTRL_C_EVENT));  // no loop watched yet
    {
        TEventLoop loop;
        StopLoopOnRequest(loop);
        EXPECT_TRUE(RunStopped(loop));
        StopWatchingLoop();
    }
    // Taken once: the next loop runs.
    TEventLoop loop;
    StopLoopOnRequest(loop);
    EXPECT_FALSE(RunStopped(loop, std::chrono::milliseconds(300)));
    StopWatchingLoop();
}

TEST(ConsoleControl, ClosingTheConsoleWaitsUntilTheServersAreClosedAndTheLogWritten)
{
    PrepareProcess();
    TPipe pipe(1 << 16);
    int port = FreePort();

    std::atomic<bool> returned{false}, portOpenAtReturn{true};
    std::string logAtReturn;
    std::thread console;
    {
        TEventLoop loop;
        THeadlessLog log(loop, pipe.Fd);
        auto server = std::make_unique<TZzSerwer>(loop);
        server->SetPort(port);
        std::string error;
        server->Open(error);
        ASSERT_EQ(error, "");
        ASSERT_TRUE(Connects(port));
        log.Append(Znaki::ToCp1250("przed zamknięciem"));
        StopLoopOnRequest(loop);
        console = std::thread([&] {
            ConsoleControlHandler(CTRL_CLOSE_EVENT);
            // The system ends the process here: everything must be done by now.
            portOpenAtReturn = Connects(port);
            logAtReturn = pipe.Drain();
            returned = true;
        });
        EXPECT_TRUE(RunStopped(loop));
        StopWatchingLoop();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_FALSE(returned);  // still waiting for the shut-down
        log.Append(Znaki::ToCp1250("zamknięte"));
        server.reset();
    }
    ShutDownDone();
    console.join();
    EXPECT_FALSE(portOpenAtReturn);
    EXPECT_EQ(logAtReturn, "przed zamknięciem\nzamknięte\n");
}
