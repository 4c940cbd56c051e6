#include "http/RequestClock.h"

#include <algorithm>
#include <vector>

namespace {
constexpr uint32_t ClockMessage = WM_USER + 41;
}  // namespace

THttpRequestClock::THttpRequestClock(TEventLoop& loop, TExpiredEvent onExpired)
    : FLoop(loop), FEndpoint(loop.AllocateEndpoint(this)), FOnExpired(std::move(onExpired))
{
}

THttpRequestClock::~THttpRequestClock()
{
    FLoop.ReleaseEndpoint(FEndpoint);  // drops the pending notification
}

void THttpRequestClock::SetLimitMs(int64_t ms)
{
    FLimitMs = std::max<int64_t>(ms, 0);
    Arm();
}

THttpRequestClock::TSlot THttpRequestClock::Add(THttpConnection* connection)
{
    FClocks.push_back({connection, MonotonicMs()});
    Arm();
    return std::prev(FClocks.end());
}

void THttpRequestClock::Restart(TSlot slot)
{
    slot->SinceMs = MonotonicMs();
    FClocks.splice(FClocks.end(), FClocks, slot);  // moves the node: no allocation
    Arm();
}

void THttpRequestClock::Remove(TSlot slot)
{
    FClocks.erase(slot);
}

void THttpRequestClock::Arm()
{
    if (FLimitMs <= 0 || FClocks.empty())
        return;
    int64_t due = FClocks.front().SinceMs + FLimitMs;
    // A notification due no later than this one looks again when it runs.
    if (FArmedForMs >= 0 && FArmedForMs <= due)
        return;
    TMessage msg;
    msg.Msg = ClockMessage;
    msg.LParam = static_cast<intptr_t>(due);
    int64_t wait = std::clamp<int64_t>(due - MonotonicMs(), 0, INT32_MAX);
    FLoop.PostDelayed(FEndpoint, msg, static_cast<int>(wait));
    FArmedForMs = due;
}

void THttpRequestClock::WndProc(TMessage& msg)
{
    if (msg.Msg != ClockMessage)
        return;
    // An earlier notification left behind by a shorter limit is not the one that is armed.
    if (static_cast<int64_t>(msg.LParam) == FArmedForMs)
        FArmedForMs = -1;
    if (FLimitMs > 0) {
        int64_t now = MonotonicMs();
        std::vector<THttpConnection*> expired;
        while (!FClocks.empty() && FClocks.front().SinceMs + FLimitMs <= now) {
            expired.push_back(FClocks.front().Connection);
            FClocks.front().SinceMs = now;
            FClocks.splice(FClocks.end(), FClocks, FClocks.begin());
        }
        for (THttpConnection* c : expired)
            if (FOnExpired)
                FOnExpired(c);
    }
    Arm();
}
