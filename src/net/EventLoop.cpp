// The message queue, notification endpoints, delayed messages and the round, on every system;
// the readiness side is in EventLoopEpoll.cpp (posix) or EventLoopWindows.cpp (windows).
#include "net/EventLoop.h"

#include <algorithm>
#include <chrono>

#include "EventLoopBackend.h"

namespace {

// Messages the loop sends itself (endpoint 0).
constexpr uint32_t LoopResumeAccept = 1;

}  // namespace

int64_t MonotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

TEventLoop::TEventLoop() : Backend(std::make_unique<TBackend>(*this)) {}

TEventLoop::~TEventLoop() = default;

TEventLoop& TEventLoop::Default()
{
    static TEventLoop loop;
    return loop;
}

TEventLoop::TEndpoint TEventLoop::AllocateEndpoint(TNotificationTarget* target)
{
    TEndpoint id = NextEndpoint++;
    Endpoints.emplace(id, target);
    return id;
}

void TEventLoop::ReleaseEndpoint(TEndpoint endpoint)
{
    // Queued messages stay in the queue and are dropped when reached: the lookup fails.
    Endpoints.erase(endpoint);
    std::erase_if(Delayed, [endpoint](const TDelayed& d) { return d.Endpoint == endpoint; });
}

void TEventLoop::Post(TEndpoint endpoint, const TMessage& msg)
{
    Queue.push_back({endpoint, msg});
}

void TEventLoop::PostDelayed(TEndpoint endpoint, const TMessage& msg, int delayMs)
{
    Delayed.push_back({MonotonicMs() + std::max(delayMs, 0), NextDelayedOrder++, endpoint, msg});
}

int64_t TEventLoop::EarliestDueMs() const
{
    int64_t earliest = -1;
    for (auto& d : Delayed)
        if (earliest < 0 || d.DueMs < earliest)
            earliest = d.DueMs;
    return earliest;
}

void TEventLoop::SnoozeAccept(TSocket fd, int delayMs)
{
    TBackend::TRegistration* reg = Backend->Find(fd);
    if (!reg || !(reg->Mask & FD_ACCEPT) || reg->Snoozed)
        return;
    reg->Snoozed = true;
    Backend->StopAccepting(fd, *reg);
    TMessage msg;
    msg.Msg = LoopResumeAccept;
    msg.WParam = static_cast<uintptr_t>(fd);
    msg.Serial = reg->Serial;
    PostDelayed(0, msg, delayMs);
}

bool TEventLoop::ReadPaused(TSocket fd)
{
    TBackend::TRegistration* reg = Backend->Find(fd);
    return reg && reg->ReadPaused;
}

// The registration serial of a socket; 0 when it has none.
uint64_t TEventLoop::SerialOf(TSocket fd)
{
    TBackend::TRegistration* reg = Backend->Find(fd);
    return reg ? reg->Serial : 0;
}

void TEventLoop::LoopMessage(const TMessage& msg)
{
    if (msg.Msg != LoopResumeAccept)
        return;
    TSocket fd = static_cast<TSocket>(msg.WParam);
    TBackend::TRegistration* reg = Backend->Find(fd);
    if (!reg || reg->Serial != msg.Serial || !reg->Snoozed)
        return;
    reg->Snoozed = false;
    if (!reg->ReadPaused)
        Backend->ResumeAccepting(fd, *reg);
}

void TEventLoop::Dispatch(const TQueued& item)
{
    if (item.Endpoint == 0) {
        LoopMessage(item.Msg);
        return;
    }
    auto it = Endpoints.find(item.Endpoint);
    if (it == Endpoints.end())
        return;
    // A readiness of a socket registered again since it was queued is stale.
    if (item.Msg.Serial != 0 && SerialOf(static_cast<TSocket>(item.Msg.WParam)) != item.Msg.Serial)
        return;
    TMessage msg = item.Msg;
    it->second->WndProc(msg);
}

void TEventLoop::MoveDueTimers()
{
    if (Delayed.empty())
        return;
    int64_t now = MonotonicMs();
    std::vector<TDelayed> due;
    std::erase_if(Delayed, [&](const TDelayed& d) {
        if (d.DueMs > now)
            return false;
        due.push_back(d);
        return true;
    });
    std::sort(due.begin(), due.end(), [](const TDelayed& a, const TDelayed& b) {
        return a.DueMs != b.DueMs ? a.DueMs < b.DueMs : a.Order < b.Order;
    });
    for (auto& d : due)
        Queue.push_back({d.Endpoint, d.Msg});
}

void TEventLoop::ProcessEvents(int timeoutMs)
{
    Backend->Poll(Queue.empty() ? timeoutMs : 0);
    RunRound();
}

void TEventLoop::RunRound()
{
    struct TInRound {
        bool& Flag;
        ~TInRound() { Flag = false; }
    } inRound{InRound};
    InRound = true;
    MoveDueTimers();

    // Only what is queued now: messages posted while these run wait for the next round.
    for (size_t count = Queue.size(); count > 0 && !Queue.empty(); --count) {
        TQueued item = Queue.front();
        Queue.pop_front();
        Dispatch(item);
    }
    RunFlushes();
    if (OnRoundEnd)
        OnRoundEnd();
    Backend->RoundEnd();
}

void TEventLoop::RunFlushes()
{
    // A flush may ask for more (a close that pushes, an event that sends): run until none is left.
    while (!FlushRequests.empty()) {
        Flushing.swap(FlushRequests);
        SendTogether();
        for (TEndpoint e : Flushing)
            if (auto it = Endpoints.find(e); it != Endpoints.end())
                it->second->Flush();
        Flushing.clear();
    }
}

void TEventLoop::SendTogether()
{
    // One socket's send costs one call either way.
    if (Flushing.size() < 2 || !Backend->SendsTogether())
        return;
    Gathered.clear();
    GatheredTargets.clear();
    for (TEndpoint e : Flushing) {
        auto it = Endpoints.find(e);
        if (it == Endpoints.end())
            continue;
        TGatheredSend send;
        if (it->second->GatherSend(send)) {
            Gathered.push_back(send);
            GatheredTargets.push_back(it->second);
        }
    }
    // A single one is not worth it: its flush makes it as usual.
    if (Gathered.size() >= 2) {
        for (TGatheredSend& send : Gathered)
            send.Made = true;
        Backend->SendAll(Gathered.data(), Gathered.size());
    }
    for (size_t i = 0; i < Gathered.size(); ++i)
        GatheredTargets[i]->SentTogether(Gathered[i]);
}

void TEventLoop::Run()
{
    while (!Quitting)
        ProcessEvents(-1);
}
