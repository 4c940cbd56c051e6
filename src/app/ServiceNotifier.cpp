#include "app/ServiceNotifier.h"

#include <algorithm>

TServiceNotifier::TServiceNotifier(TEventLoop& loop, std::function<std::string()> status)
    : FLoop(loop), FEndpoint(loop.AllocateEndpoint(this)), FStatus(std::move(status)), FActive(ServiceManagerListens())
{
    if (!FActive)
        return;
    if (uint64_t watchdogUs = ServiceWatchdogUs(); watchdogUs > 0) {
        FWatchdog = true;
        // Twice per interval, as the service manager's documentation asks: one late round
        // does not make a restart.
        FTickMs = static_cast<int>(std::clamp<uint64_t>(watchdogUs / 2000, 1, StatusIntervalMs));
    }
}

TServiceNotifier::~TServiceNotifier()
{
    FLoop.ReleaseEndpoint(FEndpoint);  // drops the pending tick
}

void TServiceNotifier::Ready()
{
    if (!FActive || FReady || FStopping)
        return;
    FReady = true;
    FLastStatus = FStatus ? FStatus() : std::string();
    NotifyServiceManager("READY=1\nSTATUS=" + FLastStatus);
    FLoop.PostDelayed(FEndpoint, TMessage{}, FTickMs);
}

void TServiceNotifier::Stopping()
{
    if (!FActive || FStopping)
        return;
    FStopping = true;
    NotifyServiceManager("STOPPING=1\nSTATUS=Stopping");
}

void TServiceNotifier::WndProc(TMessage&)
{
    if (FStopping)
        return;
    Tick();
    FLoop.PostDelayed(FEndpoint, TMessage{}, FTickMs);
}

void TServiceNotifier::Tick()
{
    std::string state;
    if (FWatchdog)
        state = "WATCHDOG=1";
    if (std::string status = FStatus ? FStatus() : std::string(); status != FLastStatus) {
        FLastStatus = status;
        state += (state.empty() ? "STATUS=" : "\nSTATUS=") + status;
    }
    if (!state.empty())
        NotifyServiceManager(state);
}
