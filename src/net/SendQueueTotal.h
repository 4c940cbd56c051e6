#pragma once
// What all send queues of one loop hold together, and the payloads they share.
//
// A broadcast goes to many connections at once; its bytes are kept once, in a TSharedPayload,
// and every queue that sends it holds a reference and its own position. The total counts the
// bytes copied into send blocks and each shared payload once, for as long as any queue (or the
// caller) still holds it.
//
// Congestion of all queues: the total has reached its Limit. Whoever decides what a connection
// may add (the messenger server) then stops reading the connections whose packets fed queues
// that are backed up (the network refused part of them), never for what a connection queued
// for itself, and resumes them when the total is back under three quarters of the limit: the
// endpoints that asked for it get a Flush in that round. A single queue may also count as
// congested (a slow-queue mark, see TCustomWSocket::SetSlowQueueMark): that tells who reads too
// slowly, and holds nobody else back.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/ByteString.h"
#include "net/WSockbuf.h"

class TEventLoop;

class TSendQueueTotal {
public:
    // Default bound of what all send queues hold together.
    static constexpr size_t DefaultLimit = 256 * 1024 * 1024;

    explicit TSendQueueTotal(TEventLoop& loop) : FLoop(loop) {}

    size_t Limit = DefaultLimit;
    // Past twice the limit every feeder of a backed-up queue is held, whatever its own state.
    size_t HardLimit() const { return Limit * 2; }
    // What one queue may hold of its own: copied bytes and its references to shared payloads,
    // not the shared bytes, which the total counts once for all.
    static constexpr size_t DefaultQueueLimit = 32 * 1024 * 1024;
    size_t QueueLimit = DefaultQueueLimit;
    // What a queue's reference to a shared payload costs, counted as bytes of that queue.
    static constexpr size_t SharedEntryCost = 64;

    size_t Bytes() const { return FBytes; }
    // Every byte ever queued (a shared payload once): what a piece of work queued is the
    // difference between two readings.
    uint64_t QueuedEver() const { return FQueuedEver; }
    size_t Peak() const { return FPeak; }
    void ResetPeak() { FPeak = FBytes; }
    int CongestedQueues() const { return FCongestedQueues; }
    // Reached the limit, and not yet back under three quarters of it.
    bool OverLimit() const { return FOverLimit; }

    // Set whenever bytes are queued, while over the limit, to a backed-up queue other than
    // OwnQueue; the one who dispatches a connection's packet names the connection's own queue
    // and clears the flag before, and looks at it after.
    bool FedBacklogOverLimit = false;
    const void* OwnQueue = nullptr;

    void Add(size_t n);
    void Remove(size_t n);
    void QueueCongested(bool congested);

    // The endpoint's Flush runs in the round in which the total is back under the limit.
    void WatchClear(uint64_t endpoint);
    void UnwatchClear(uint64_t endpoint);

    // Send blocks of the default size that queues have emptied, kept for the next one that
    // needs a block: an idle connection keeps none, a busy one allocates none. At most
    // MaxSpareBlocks are kept (1.5 MiB), enough for a status change to a thousand users.
    static constexpr size_t MaxSpareBlocks = 1024;
    std::unique_ptr<TBuffer> TakeBlock();
    void GiveBack(std::unique_ptr<TBuffer> block);

private:
    TEventLoop& FLoop;
    size_t FBytes = 0;
    uint64_t FQueuedEver = 0;
    size_t FPeak = 0;
    int FCongestedQueues = 0;
    bool FOverLimit = false;
    std::vector<uint64_t> FWatchers;
    std::vector<std::unique_ptr<TBuffer>> FSpare;
};

// One copy of bytes that several send queues send.
class TSharedPayload {
public:
    TSharedPayload(TSendQueueTotal& total, ByteString bytes) : FTotal(total), FBytes(std::move(bytes))
    {
        FTotal.Add(FBytes.size());
    }
    ~TSharedPayload() { FTotal.Remove(FBytes.size()); }
    TSharedPayload(const TSharedPayload&) = delete;
    TSharedPayload& operator=(const TSharedPayload&) = delete;

    ByteView Bytes() const { return FBytes; }

private:
    TSendQueueTotal& FTotal;
    const ByteString FBytes;
};

using TSharedBytes = std::shared_ptr<const TSharedPayload>;
