#pragma once
// A notification target that records the messages it is given, in order.
#include <functional>
#include <vector>

#include "net/EventLoop.h"

struct TRecorder : TNotificationTarget {
    TEventLoop& Loop;
    TEventLoop::TEndpoint Id;
    std::vector<uint32_t> Seen;
    std::function<void(uint32_t)> Also;
    explicit TRecorder(TEventLoop& loop) : Loop(loop), Id(loop.AllocateEndpoint(this)) {}
    ~TRecorder() override { Loop.ReleaseEndpoint(Id); }
    void WndProc(TMessage& m) override
    {
        Seen.push_back(m.Msg);
        if (Also)
            Also(m.Msg);
    }
    void Post(uint32_t msg) { Loop.Post(Id, TMessage{msg, 0, 0, 0}); }
};
