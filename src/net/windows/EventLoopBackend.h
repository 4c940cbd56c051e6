#pragma once
// The event loop's readiness on Windows: Windows Sockets' asynchronous selection posts a window
// message to a message-only window of the loop's thread for each network event, and re-enables
// an event only when the call that consumes it is made (recv for read, accept for accept, a send
// that would block for write). So a read that leaves data gets another message, as the socket
// layer expects, and nothing is reported twice for the same state.
#include <unordered_map>

#include "net/EventLoop.h"

struct TEventLoop::TBackend {
    struct TRegistration {
        TEndpoint Endpoint = 0;
        uint32_t Mask = 0;
        uint64_t Serial = 0;
        bool CloseReported = false;
        bool Snoozed = false;
        bool ReadPaused = false;
        uint64_t ReadQueuedFor = 0;  // the round whose messages hold a read (or accept) of this socket
    };

    explicit TBackend(TEventLoop& loop);
    ~TBackend();

    void Poll(int timeoutMs);
    void RoundEnd() {}
    // Each send is a call of its own here.
    bool SendsTogether() const { return false; }
    void SendAll(TGatheredSend*, size_t) {}
    // A listening socket's accept stopped while snoozed (it is not reported meanwhile), and
    // started again.
    void StopAccepting(TSocket, TRegistration&) {}
    void ResumeAccepting(TSocket s, TRegistration& reg) { GiveReadBack(reg, s); }

    TRegistration* Find(TSocket s);
    // One network event of the system, as the message for the socket's endpoint.
    void Translate(UINT message, TSocket s, LPARAM lParam);
    void Queue(TRegistration& reg, TSocket s, uint32_t events, uint32_t error);
    // Read (or accept) reported again after a pause or snooze.
    void GiveReadBack(TRegistration& reg, TSocket s);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // A window's message may run a message loop of its own for as long as the user likes (a
    // menu held open, the window being moved or sized, a message box): the sockets' messages
    // are dispatched there, not by Poll. Such a message comes nested inside Poll's dispatch of
    // another one, and the loop's rounds are run from there, each as a round of its own.
    bool NestedInDispatch(UINT message, WPARAM wParam) const;
    void RunNestedRound();
    // Makes sure a loop of a window's own comes back here while work is queued or due.
    void WakeNestedLoop();

    // The round that runs what is queued now: this one while polling, else the next.
    uint64_t NextRound() const { return Polling ? Polls : Polls + 1; }

    TEventLoop& Loop;
    HWND Window = nullptr;
    uint64_t Polls = 0;
    bool Polling = false;
    const MSG* Dispatching = nullptr;  // the message Poll is dispatching
    bool WakePosted = false;
    int64_t WakeTimerDueMs = -1;
    uint64_t NextSerial = 1;
    std::unordered_map<TSocket, TRegistration> Registrations;
};
