#pragma once
// The event loop's readiness on Linux: epoll, level-triggered, with an eventfd that makes the
// loop's descriptor readable for posted work and a timerfd for the earliest delayed message;
// the round's sends through an io_uring ring where there is one (SendRing.h).
#include <atomic>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "SendRing.h"
#include "net/EventLoop.h"

struct TEventLoop::TBackend {
    struct TRegistration {
        TEndpoint Endpoint = 0;
        uint32_t Mask = 0;
        uint64_t Serial = 0;
        uint32_t EpollEvents = 0;
        bool InEpoll = false;
        bool CloseReported = false;
        bool Snoozed = false;
        bool ReadPaused = false;
    };

    explicit TBackend(TEventLoop& loop);
    ~TBackend();

    // Waits up to timeoutMs for readiness and queues its messages.
    void Poll(int timeoutMs);
    // Before the loop waits again: wake a watching loop for queued work, arm the timer.
    void RoundEnd();
    // A listening socket's accept stopped while snoozed, and started again.
    void StopAccepting(int fd, TRegistration& reg);
    void ResumeAccepting(int fd, TRegistration& reg);

    bool SendsTogether() const { return Ring != nullptr; }
    void SendAll(TGatheredSend* sends, size_t count) { Ring->SendAll(sends, count); }

    // The timer set for the earliest delayed message.
    void ArmTimer();
    TRegistration* Find(int fd);
    void Modify(int fd, TRegistration& reg, uint32_t events);
    void Translate(int fd, uint32_t events);

    TEventLoop& Loop;
    int EpollFd = -1;
    int WakeFd = -1;   // eventfd: signalled while messages wait in the queue
    int TimerFd = -1;  // timerfd: armed for the earliest delayed message
    int64_t TimerArmedFor = -1;
    bool WakeSignalled = false;
    bool Watched = false;  // another loop waits on the descriptor: it must be woken for posts
    std::atomic<bool> QuitRequested{false};
    uint64_t NextSerial = 1;
    std::vector<TRegistration> Registrations;  // indexed by descriptor
    std::unordered_map<int, std::function<void()>> Watchers;
    std::unique_ptr<TSendRing> Ring;  // none: each send is a call of its own
};
