#pragma once
// Tells the service manager that started the program (a notify-type systemd unit) how it is
// doing: READY once the services listen, a STATUS line kept fresh, WATCHDOG while the loop runs,
// STOPPING when it shuts down. Started any other way (no NOTIFY_SOCKET), it does nothing at all:
// no message, no timer.
//
// The watchdog is fed from a delayed notification of the loop itself, so a loop that stops
// turning stops feeding it, and the service manager restarts the program.
#include <cstdint>
#include <functional>
#include <string>

#include "net/EventLoop.h"

class TServiceNotifier : public TNotificationTarget {
public:
    // The status line is refreshed (sent when it has changed) this often at least.
    static constexpr int StatusIntervalMs = 5000;

    // status: the current status line, asked at every refresh.
    TServiceNotifier(TEventLoop& loop, std::function<std::string()> status);
    ~TServiceNotifier() override;
    TServiceNotifier(const TServiceNotifier&) = delete;
    TServiceNotifier& operator=(const TServiceNotifier&) = delete;

    // The services listen: READY with the first status line; from now on the status is
    // refreshed and the watchdog fed. Once only.
    void Ready();
    // Shutting down: STOPPING; no more refreshes.
    void Stopping();

    bool Active() const { return FActive; }
    // Between two refreshes: half the watchdog's interval when that is shorter.
    int TickMs() const { return FTickMs; }

private:
    void WndProc(TMessage& msg) override;
    void Tick();

    TEventLoop& FLoop;
    TEventLoop::TEndpoint FEndpoint;
    std::function<std::string()> FStatus;
    bool FActive = false;
    bool FWatchdog = false;
    bool FReady = false;
    bool FStopping = false;
    int FTickMs = StatusIntervalMs;
    std::string FLastStatus;
};

// The system's side (app/posix: libsystemd when the build has it; elsewhere nothing).
// Whether a service manager listens for this process's notifications.
bool ServiceManagerListens();
// Sends one notification ("READY=1\nSTATUS=...").
void NotifyServiceManager(const std::string& state);
// The watchdog interval the service manager asks to be fed within, in microseconds; 0: none.
uint64_t ServiceWatchdogUs();
