// The event loop's readiness on Linux (see EventLoopBackend.h).
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "EventLoopBackend.h"
#include "net/WinSockErrors.h"

namespace {

constexpr uint32_t ClosedEvents = EPOLLRDHUP | EPOLLHUP | EPOLLERR;
// Entries of the send ring: a round flushing more sockets submits in more calls.
constexpr unsigned SendRingEntries = 1024;

// The ring for the round's sends unless TZZ_EVENT_BACKEND=epoll asks for one call per send (for
// tests and measurements). A system without it, or refusing it, gets the plain sends silently:
// they behave the same.
std::unique_ptr<TSendRing> OpenSendRing()
{
    const char* wanted = std::getenv("TZZ_EVENT_BACKEND");
    if (wanted && std::strcmp(wanted, "epoll") == 0)
        return nullptr;
    return TSendRing::Open(SendRingEntries);
}

}  // namespace

TEventLoop::TBackend::TBackend(TEventLoop& loop) : Loop(loop)
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
    Ring = OpenSendRing();
}

TEventLoop::TBackend::~TBackend()
{
    close(TimerFd);
    close(WakeFd);
    close(EpollFd);
}

TEventLoop::TBackend::TRegistration* TEventLoop::TBackend::Find(int fd)
{
    if (fd < 0 || static_cast<size_t>(fd) >= Registrations.size() || Registrations[fd].Mask == 0)
        return nullptr;
    return &Registrations[fd];
}

void TEventLoop::TBackend::Modify(int fd, TRegistration& reg, uint32_t events)
{
    if (!reg.InEpoll || reg.EpollEvents == events)
        return;
    epoll_event ev{};
    ev.events = events;
    ev.data.fd = fd;
    epoll_ctl(EpollFd, EPOLL_CTL_MOD, fd, &ev);
    reg.EpollEvents = events;
}

int TEventLoop::AsyncSelect(TSocket fd, TEndpoint endpoint, uint32_t mask)
{
    if (fd < 0)
        return WinSockError(EBADF);
    auto& regs = Backend->Registrations;
    if (static_cast<size_t>(fd) >= regs.size())
        regs.resize(fd + 1);
    TBackend::TRegistration& reg = regs[fd];
    if (reg.InEpoll)
        epoll_ctl(Backend->EpollFd, EPOLL_CTL_DEL, fd, nullptr);
    reg = TBackend::TRegistration{};
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
    if (epoll_ctl(Backend->EpollFd, EPOLL_CTL_ADD, fd, &ev) != 0)
        return WinSockError(errno);
    reg.Endpoint = endpoint;
    reg.Mask = mask;
    reg.Serial = Backend->NextSerial++;
    reg.EpollEvents = events;
    reg.InEpoll = true;
    return 0;
}

void TEventLoop::ArmWrite(TSocket fd)
{
    TBackend::TRegistration* reg = Backend->Find(fd);
    if (reg && (reg->Mask & FD_WRITE) && !(reg->Mask & FD_ACCEPT))
        Backend->Modify(fd, *reg, reg->EpollEvents | EPOLLOUT);
}

void TEventLoop::TBackend::StopAccepting(int fd, TRegistration& reg)
{
    Modify(fd, reg, 0);
}

void TEventLoop::TBackend::ResumeAccepting(int fd, TRegistration& reg)
{
    Modify(fd, reg, EPOLLIN);
}

void TEventLoop::PauseReading(TSocket fd, bool paused)
{
    TBackend::TRegistration* reg = Backend->Find(fd);
    if (!reg || reg->ReadPaused == paused)
        return;
    reg->ReadPaused = paused;
    if (reg->Mask & FD_ACCEPT) {
        if (!reg->Snoozed)
            Backend->Modify(fd, *reg, paused ? 0u : static_cast<uint32_t>(EPOLLIN));
        return;
    }
    // Only the data stops being reported: the peer's close (and a hang-up or error, which the
    // system reports regardless) still comes, once, so that a connection not read now learns
    // that its peer has gone.
    if (!(reg->Mask & (FD_READ | FD_CLOSE)))
        return;
    Backend->Modify(fd, *reg, paused ? reg->EpollEvents & ~EPOLLIN : reg->EpollEvents | EPOLLIN | EPOLLRDHUP);
}

void TEventLoop::QuitFromAnyThread()
{
    // Only an atomic store and a write: both safe in a signal handler.
    Backend->QuitRequested.store(true);
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(Backend->WakeFd, &one, sizeof one);
}

const char* TEventLoop::BackendName() const
{
    return Backend->Ring ? "io_uring" : "epoll";
}

int TEventLoop::Descriptor()
{
    Backend->Watched = true;
    return Backend->EpollFd;
}

void TEventLoop::Watch(int fd, bool writable, std::function<void()> callback)
{
    Unwatch(fd);
    epoll_event ev{};
    ev.events = writable ? EPOLLOUT : EPOLLIN;
    ev.data.fd = fd;
    if (epoll_ctl(Backend->EpollFd, EPOLL_CTL_ADD, fd, &ev) != 0)
        throw std::runtime_error(std::string("event loop: ") + std::strerror(errno));
    Backend->Watchers[fd] = std::move(callback);
}

void TEventLoop::Unwatch(int fd)
{
    if (Backend->Watchers.erase(fd))
        epoll_ctl(Backend->EpollFd, EPOLL_CTL_DEL, fd, nullptr);
}

void TEventLoop::TBackend::Translate(int fd, uint32_t events)
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
            Loop.Queue.push_back({reg->Endpoint, msg});
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
        Loop.Queue.push_back({reg->Endpoint, msg});
    }
    if ((events & ClosedEvents) && !reg->CloseReported && (reg->Mask & FD_CLOSE)) {
        int error = SocketPendingError(fd);
        reg->CloseReported = true;
        // Nothing more will be reported for this registration: a peer that has gone away must
        // not keep the loop busy while the owner decides when to close the handle.
        epoll_ctl(EpollFd, EPOLL_CTL_DEL, fd, nullptr);
        reg->InEpoll = false;
        msg.LParam = MakeSelectLParam(FD_CLOSE, static_cast<uint32_t>(error));
        Loop.Queue.push_back({reg->Endpoint, msg});
    }
}

void TEventLoop::TBackend::Poll(int timeoutMs)
{
    // A message delayed before the loop first ran (or by another loop's round) must wake it too.
    if (timeoutMs != 0)
        ArmTimer();
    epoll_event events[256];
    int n = epoll_wait(EpollFd, events, 256, timeoutMs);
    for (int i = 0; i < n; ++i) {
        int fd = events[i].data.fd;
        if (fd == WakeFd) {
            uint64_t v;
            if (read(WakeFd, &v, sizeof v) > 0)
                WakeSignalled = false;
            if (QuitRequested.exchange(false))
                Loop.Quit();
        } else if (fd == TimerFd) {
            uint64_t v;
            if (read(TimerFd, &v, sizeof v) > 0)
                TimerArmedFor = -1;
        } else if (auto w = Watchers.find(fd); w != Watchers.end()) {
            auto handler = w->second;
            handler();
        } else {
            Translate(fd, events[i].events);
        }
    }
}

void TEventLoop::TBackend::RoundEnd()
{
    if (!Loop.Queue.empty() && !WakeSignalled && Watched) {
        uint64_t one = 1;
        if (write(WakeFd, &one, sizeof one) == sizeof one)
            WakeSignalled = true;
    }
    ArmTimer();
}

void TEventLoop::TBackend::ArmTimer()
{
    int64_t earliest = Loop.EarliestDueMs();
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
