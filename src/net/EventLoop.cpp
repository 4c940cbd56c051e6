#include "net/EventLoop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "net/WinSockErrors.h"

namespace {

// Messages the loop sends itself (endpoint 0).
constexpr uint32_t LoopResumeAccept = 1;

constexpr uint32_t ClosedEvents = EPOLLRDHUP | EPOLLHUP | EPOLLERR;

}  // namespace

int64_t MonotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

TEventLoop::TEventLoop()
{
    EpollFd = epoll_create1(EPOLL_CLOEXEC);
    WakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    TimerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (EpollFd < 0 || WakeFd < 0 || TimerFd < 0)
        throw std::runtime_error(std::string("event loop: ") + std::strerror(errno));
    for (int fd : {WakeFd, TimerFd}) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        epoll_ctl(EpollFd, EPOLL_CTL_ADD, fd, &ev);
    }
}

TEventLoop::~TEventLoop()
{
    close(TimerFd);
    close(WakeFd);
    close(EpollFd);
}

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

TEventLoop::TRegistration* TEventLoop::Find(int fd)
{
    if (fd < 0 || static_cast<size_t>(fd) >= Registrations.size() || Registrations[fd].Mask == 0)
        return nullptr;
    return &Registrations[fd];
}

void TEventLoop::Modify(int fd, TRegistration& reg, uint32_t events)
{
    if (!reg.InEpoll || reg.EpollEvents == events)
        return;
    epoll_event ev{};
    ev.events = events;
    ev.data.fd = fd;
    epoll_ctl(EpollFd, EPOLL_CTL_MOD, fd, &ev);
    reg.EpollEvents = events;
}

int TEventLoop::AsyncSelect(int fd, TEndpoint endpoint, uint32_t mask)
{
    if (fd < 0)
        return EBADF;
    if (static_cast<size_t>(fd) >= Registrations.size())
        Registrations.resize(fd + 1);
    TRegistration& reg = Registrations[fd];
    if (reg.InEpoll)
        epoll_ctl(EpollFd, EPOLL_CTL_DEL, fd, nullptr);
    reg = TRegistration{};
    if (mask == 0)
        return 0;

    uint32_t events = 0;
    if (mask & FD_ACCEPT) {
        events = EPOLLIN;
    } else {
        if (mask & (FD_READ | FD_CLOSE))
            events |= EPOLLIN | EPOLLRDHUP;
        if (mask & FD_WRITE)
            events |= EPOLLOUT;  // reported once, as a connection becomes usable
    }
    epoll_event ev{};
    ev.events = events;
    ev.data.fd = fd;
    if (epoll_ctl(EpollFd, EPOLL_CTL_ADD, fd, &ev) != 0)
        return errno;
    reg.Endpoint = endpoint;
    reg.Mask = mask;
    reg.Serial = NextSerial++;
    reg.EpollEvents = events;
    reg.InEpoll = true;
    return 0;
}

void TEventLoop::ArmWrite(int fd)
{
    TRegistration* reg = Find(fd);
    if (reg && (reg->Mask & FD_WRITE) && !(reg->Mask & FD_ACCEPT))
        Modify(fd, *reg, reg->EpollEvents | EPOLLOUT);
}

void TEventLoop::SnoozeAccept(int fd, int delayMs)
{
    TRegistration* reg = Find(fd);
    if (!reg || !(reg->Mask & FD_ACCEPT) || reg->Snoozed)
        return;
    reg->Snoozed = true;
    Modify(fd, *reg, 0);
    TMessage msg;
    msg.Msg = LoopResumeAccept;
    msg.WParam = static_cast<uintptr_t>(fd);
    msg.Serial = reg->Serial;
    PostDelayed(0, msg, delayMs);
}

void TEventLoop::PauseReading(int fd, bool paused)
{
    TRegistration* reg = Find(fd);
    if (!reg || reg->ReadPaused == paused)
        return;
    reg->ReadPaused = paused;
    if (reg->Mask & FD_ACCEPT) {
        if (!reg->Snoozed)
            Modify(fd, *reg, paused ? 0u : static_cast<uint32_t>(EPOLLIN));
        return;
    }
    uint32_t readEvents = (reg->Mask & (FD_READ | FD_CLOSE)) ? static_cast<uint32_t>(EPOLLIN | EPOLLRDHUP) : 0u;
    Modify(fd, *reg, paused ? reg->EpollEvents & ~readEvents : reg->EpollEvents | readEvents);
}

bool TEventLoop::ReadPaused(int fd)
{
    TRegistration* reg = Find(fd);
    return reg && reg->ReadPaused;
}

void TEventLoop::Watch(int fd, bool writable, std::function<void()> callback)
{
    Unwatch(fd);
    epoll_event ev{};
    ev.events = writable ? EPOLLOUT : EPOLLIN;
    ev.data.fd = fd;
    if (epoll_ctl(EpollFd, EPOLL_CTL_ADD, fd, &ev) != 0)
        throw std::runtime_error(std::string("event loop: ") + std::strerror(errno));
    Watched[fd] = std::move(callback);
}

void TEventLoop::Unwatch(int fd)
{
    if (Watched.erase(fd))
        epoll_ctl(EpollFd, EPOLL_CTL_DEL, fd, nullptr);
}

void TEventLoop::Translate(int fd, uint32_t events)
{
    TRegistration* reg = Find(fd);
    if (!reg)
        return;
    TMessage msg;
    msg.Msg = WM_ASYNCSELECT;
    msg.WParam = static_cast<uintptr_t>(fd);
    msg.Serial = reg->Serial;

    if (reg->Mask & FD_ACCEPT) {
        if (events & (EPOLLIN | EPOLLERR | EPOLLHUP)) {
            msg.LParam = MakeSelectLParam(FD_ACCEPT, 0);
            Queue.push_back({reg->Endpoint, msg});
        }
        return;
    }

    uint32_t bits = 0;
    if ((events & (EPOLLIN | ClosedEvents)) && (reg->Mask & FD_READ))
        bits |= FD_READ;
    if ((events & EPOLLOUT) && (reg->Mask & FD_WRITE)) {
        bits |= FD_WRITE;
        Modify(fd, *reg, reg->EpollEvents & ~EPOLLOUT);
    }
    if (bits) {
        msg.LParam = MakeSelectLParam(bits, 0);
        Queue.push_back({reg->Endpoint, msg});
    }
    if ((events & ClosedEvents) && !reg->CloseReported && (reg->Mask & FD_CLOSE)) {
        int soError = 0;
        socklen_t len = sizeof soError;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
        reg->CloseReported = true;
        // Nothing more will be reported for this registration: a peer that has gone away must
        // not keep the loop busy while the owner decides when to close the handle.
        epoll_ctl(EpollFd, EPOLL_CTL_DEL, fd, nullptr);
        reg->InEpoll = false;
        msg.LParam = MakeSelectLParam(FD_CLOSE, static_cast<uint32_t>(WinSockError(soError)));
        Queue.push_back({reg->Endpoint, msg});
    }
}

void TEventLoop::Dispatch(const TQueued& item)
{
    if (item.Endpoint == 0) {
        if (item.Msg.Msg == LoopResumeAccept) {
            int fd = static_cast<int>(item.Msg.WParam);
            TRegistration* reg = Find(fd);
            if (reg && reg->Serial == item.Msg.Serial && reg->Snoozed) {
                reg->Snoozed = false;
                if (!reg->ReadPaused)
                    Modify(fd, *reg, EPOLLIN);
            }
        }
        return;
    }
    auto it = Endpoints.find(item.Endpoint);
    if (it == Endpoints.end())
        return;
    if (item.Msg.Serial != 0) {
        TRegistration* reg = Find(static_cast<int>(item.Msg.WParam));
        if (!reg || reg->Serial != item.Msg.Serial)
            return;
    }
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

void TEventLoop::UpdateWake()
{
    if (!Queue.empty() && !WakeSignalled && Watched_) {
        uint64_t one = 1;
        if (write(WakeFd, &one, sizeof one) == sizeof one)
            WakeSignalled = true;
    }
    int64_t earliest = -1;
    for (auto& d : Delayed)
        if (earliest < 0 || d.DueMs < earliest)
            earliest = d.DueMs;
    if (earliest == TimerArmedFor)
        return;
    itimerspec when{};
    if (earliest >= 0) {
        int64_t wait = std::max<int64_t>(earliest - MonotonicMs(), 1);
        when.it_value.tv_sec = wait / 1000;
        when.it_value.tv_nsec = (wait % 1000) * 1000000;
    }
    timerfd_settime(TimerFd, 0, &when, nullptr);
    TimerArmedFor = earliest;
}

void TEventLoop::ProcessEvents(int timeoutMs)
{
    epoll_event events[256];
    int n = epoll_wait(EpollFd, events, 256, Queue.empty() ? timeoutMs : 0);
    for (int i = 0; i < n; ++i) {
        int fd = events[i].data.fd;
        if (fd == WakeFd) {
            uint64_t v;
            if (read(WakeFd, &v, sizeof v) > 0)
                WakeSignalled = false;
        } else if (fd == TimerFd) {
            uint64_t v;
            if (read(TimerFd, &v, sizeof v) > 0)
                TimerArmedFor = -1;
        } else if (auto w = Watched.find(fd); w != Watched.end()) {
            auto handler = w->second;
            handler();
        } else {
            Translate(fd, events[i].events);
        }
    }
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
    UpdateWake();
}

void TEventLoop::RunFlushes()
{
    // A flush may ask for more (a close that pushes, an event that sends): run until none is left.
    while (!FlushRequests.empty()) {
        Flushing.swap(FlushRequests);
        for (TEndpoint e : Flushing)
            if (auto it = Endpoints.find(e); it != Endpoints.end())
                it->second->Flush();
        Flushing.clear();
    }
}

void TEventLoop::Run()
{
    while (!Quitting)
        ProcessEvents(-1);
}
