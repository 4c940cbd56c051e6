#pragma once
// The request clocks of an HTTP server: a connection that has not completed a request (request
// line and headers) within the limit of connecting, or of its last reply, runs out.
//
// All connections of a server share one limit, so the clock started first always runs out
// first: the clocks are kept in the order they were (re)started (a restart moves a connection to
// the back) and one delayed notification, armed for the front, serves them all. Starting,
// restarting and stopping a clock cost O(1) whatever the number of connections, and an expiry
// looks only at the clocks that have run out.
//
// Owned by the HTTP server; lives on the loop's thread. Every slot must be removed (Remove)
// before the clock is destroyed: the server frees its connections first.
#include <cstdint>
#include <functional>
#include <list>

#include "net/EventLoop.h"

class THttpConnection;

class THttpRequestClock : public TNotificationTarget {
    struct TEntry {
        THttpConnection* Connection;
        int64_t SinceMs;
    };

public:
    using TSlot = std::list<TEntry>::iterator;
    // Raised for each connection whose clock has run out; its clock starts again (should the
    // handler leave it open, it runs out again one limit later). It may not free the connection.
    using TExpiredEvent = std::function<void(THttpConnection*)>;

    THttpRequestClock(TEventLoop& loop, TExpiredEvent onExpired);
    ~THttpRequestClock() override;
    THttpRequestClock(const THttpRequestClock&) = delete;
    THttpRequestClock& operator=(const THttpRequestClock&) = delete;

    // 0 (or less): clocks never run out. A change applies to the clocks already running.
    void SetLimitMs(int64_t ms);
    int64_t LimitMs() const { return FLimitMs; }

    TSlot Add(THttpConnection* connection);  // starts its clock now
    void Restart(TSlot slot);
    void Remove(TSlot slot);
    size_t Count() const { return FClocks.size(); }

private:
    void WndProc(TMessage& msg) override;  // the armed notification: expire, then arm again
    void Arm();

    TEventLoop& FLoop;
    TEventLoop::TEndpoint FEndpoint;
    TExpiredEvent FOnExpired;
    int64_t FLimitMs = 0;
    std::list<TEntry> FClocks;  // oldest start first
    int64_t FArmedForMs = -1;   // when the pending notification is due; -1: none pending
};
