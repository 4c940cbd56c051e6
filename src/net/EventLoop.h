#pragma once
// The event loop that stands in for the window message queue: socket readiness (read, write,
// accept, close) and posted notifications arrive as messages to a notification endpoint and are
// handled one at a time on the one thread that runs the loop.
//
// Ordering kept for the socket layer:
// - read is reported while data waits (level-triggered), again after a read that left data;
// - write is reported once when a connection is adopted and then only after a send failed with
//   "would block" (ArmWrite) and room has become free again;
// - accept is reported while a connection waits;
// - close is reported once per registration, after the read of whatever is still waiting;
// - a posted message runs after everything already in the queue.
// The queue is polled for readiness only when every message of the previous round has run, so a
// readiness is never queued twice for the same state.
// The system's readiness comes from epoll on Linux and from Windows Sockets' asynchronous
// selection (window messages) on Windows; the messages, their order and the rest are common.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "SocketApi.h"
#include "net/SendQueueTotal.h"

// Message numbers above the first user message, as the socket layer numbers them.
inline constexpr uint32_t WM_ASYNCSELECT = WM_USER + 1;
inline constexpr uint32_t WM_CLOSE_DELAYED = WM_USER + 4;
inline constexpr uint32_t WM_WSOCKET_RELEASE = WM_USER + 5;
inline constexpr uint32_t WM_TRIGGER_EXCEPTION = WM_USER + 6;
inline constexpr uint32_t WM_TRIGGER_DATA_AVAILABLE = WM_USER + 20;
inline constexpr uint32_t WM_CLIENT_CLOSED = WM_USER + 30;
inline constexpr uint32_t WM_HTTP_DONE = WM_USER + 40;

struct TMessage {
    uint32_t Msg = 0;
    uintptr_t WParam = 0;
    intptr_t LParam = 0;
    // Registration serial of a readiness message made by the loop; 0 for posted messages. A
    // readiness of a descriptor that was re-registered since is stale and dropped.
    uint64_t Serial = 0;
};

inline intptr_t MakeSelectLParam(uint32_t events, uint32_t error)
{
    return static_cast<intptr_t>((error << 16) | (events & 0xFFFF));
}

// A send of the round's flush that the loop makes together with the other targets' first sends.
struct TGatheredSend {
    TSocket Fd = INVALID_SOCKET;
    const char* Data = nullptr;
    int Len = 0;
    bool Urgent = false;
    bool Made = false;  // false: the loop did not make it after all; the target makes it itself
    bool Done = false;  // the system's side has its outcome
    int Result = 0;     // as SocketSend returns it: bytes taken, or -1
    int Error = 0;      // the system's error number when Result is -1
};

class TNotificationTarget {
public:
    virtual ~TNotificationTarget() = default;
    virtual void WndProc(TMessage& msg) = 0;
    // Runs at the end of the round for a target that asked for it (RequestFlush).
    virtual void Flush() {}
    // Just before the round's flushes: the first send this target's Flush would make (false:
    // none). The loop makes the gathered sends together and hands each one's outcome back with
    // SentTogether before any flush runs; the target takes it as the result of that send, which
    // it does not make again. Nothing else runs in between. A target gathers one send at most
    // until its outcome is handed back, even if it is listed twice.
    virtual bool GatherSend(TGatheredSend&) { return false; }
    virtual void SentTogether(const TGatheredSend&) {}
};

class TEventLoop {
public:
    using TEndpoint = uint64_t;

    TEventLoop();
    ~TEventLoop();
    TEventLoop(const TEventLoop&) = delete;
    TEventLoop& operator=(const TEventLoop&) = delete;

    // The loop of the process's one thread.
    static TEventLoop& Default();

    // A notification endpoint; releasing it drops whatever is still queued for it.
    TEndpoint AllocateEndpoint(TNotificationTarget* target);
    void ReleaseEndpoint(TEndpoint endpoint);

    void Post(TEndpoint endpoint, const TMessage& msg);
    // Asks for the target's Flush once the messages of this round have run: sends queued during
    // a round leave together, as few send calls as the blocks allow.
    void RequestFlush(TEndpoint endpoint) { FlushRequests.push_back(endpoint); }
    void PostDelayed(TEndpoint endpoint, const TMessage& msg, int delayMs);

    // Readiness; what differs per system is in EventLoopEpoll.cpp and EventLoopWindows.cpp.

    // Asks for readiness messages of a socket (FD_* mask) to endpoint; mask 0 forgets it.
    // Returns 0 or a Windows Sockets number.
    int AsyncSelect(TSocket fd, TEndpoint endpoint, uint32_t mask);
    // A send would block: report write once when room is free again.
    void ArmWrite(TSocket fd);
    // Stops reporting accept for a listening socket for a while (nothing left to accept with).
    void SnoozeAccept(TSocket fd, int delayMs);
    // Stops (or starts again) reporting read, accept and the peer's close for a socket, so that
    // a paused socket with data waiting does not make every round report it again.
    void PauseReading(TSocket fd, bool paused);
    bool ReadPaused(TSocket fd);

    // Safe from any thread and from a signal or console-control handler: Run returns after the
    // round in progress.
    void QuitFromAnyThread();

    // Descriptors of others (signals, pipes) watched on the same thread (POSIX systems).
    void WatchReadable(int fd, std::function<void()> onReadable) { Watch(fd, false, std::move(onReadable)); }
    void WatchWritable(int fd, std::function<void()> onWritable) { Watch(fd, true, std::move(onWritable)); }
    void Unwatch(int fd);
    // Readable whenever the loop has work: another loop watches it and calls ProcessEvents(0)
    // (POSIX systems).
    int Descriptor();

    // How the round's sends reach the system: "io_uring" (the first send of every flushed socket
    // in one system call), "epoll" (one call per send; also where the system has no io_uring or
    // refuses it), "windows". Chosen when the loop is made; TZZ_EVENT_BACKEND=epoll or io_uring
    // asks for one (io_uring still falls back where it cannot be had).
    const char* BackendName() const;

    // What the send queues of this loop's sockets hold together.
    TSendQueueTotal& QueuedTotal() { return FQueuedTotal; }

    // Runs at the end of every round, before the loop waits again (the log sink flushes here).
    std::function<void()> OnRoundEnd;

    // One round: wait up to timeoutMs (-1: no limit) for work, then run what was queued.
    void ProcessEvents(int timeoutMs);
    void Run();
    void Quit() { Quitting = true; }

private:
    // The system's side: readiness waited for and translated into messages of the queue.
    struct TBackend;
    friend struct TBackend;

    struct TQueued {
        TEndpoint Endpoint;
        TMessage Msg;
    };
    struct TDelayed {
        int64_t DueMs;
        uint64_t Order;
        TEndpoint Endpoint;
        TMessage Msg;
    };

    void Watch(int fd, bool writable, std::function<void()> callback);
    uint64_t SerialOf(TSocket fd);
    // A message the loop sent itself (endpoint 0).
    void LoopMessage(const TMessage& msg);
    void Dispatch(const TQueued& item);
    void MoveDueTimers();
    // What a round does once the system's events are in: due timers, the queue as it stands,
    // the flushes. Not while a round runs already (InRound).
    void RunRound();
    bool InRound = false;
    void RunFlushes();
    // The first sends of the flushes about to run, made together where the system allows it.
    void SendTogether();
    // When the earliest delayed message is due; -1 when none waits.
    int64_t EarliestDueMs() const;

    std::unique_ptr<TBackend> Backend;
    bool Quitting = false;
    TEndpoint NextEndpoint = 1;
    uint64_t NextDelayedOrder = 0;
    std::unordered_map<TEndpoint, TNotificationTarget*> Endpoints;
    std::deque<TQueued> Queue;
    std::vector<TEndpoint> FlushRequests;
    std::vector<TEndpoint> Flushing;
    std::vector<TGatheredSend> Gathered;
    std::vector<TNotificationTarget*> GatheredTargets;
    std::vector<TDelayed> Delayed;  // few entries: kept unsorted
    TSendQueueTotal FQueuedTotal{*this};
};

// Milliseconds of a monotonic clock.
int64_t MonotonicMs();
