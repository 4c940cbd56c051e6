#include "net/SendQueueTotal.h"

#include <algorithm>

#include "net/EventLoop.h"

void TSendQueueTotal::Add(size_t n)
{
    FBytes += n;
    FQueuedEver += n;
    FPeak = std::max(FPeak, FBytes);
    if (FBytes >= Limit)
        FOverLimit = true;
}

void TSendQueueTotal::Remove(size_t n)
{
    FBytes -= std::min(n, FBytes);
    // Three quarters: a queue that drains a little must not resume everybody for one packet.
    if (FOverLimit && FBytes < Limit - Limit / 4) {
        FOverLimit = false;
        for (uint64_t e : FWatchers)
            FLoop.RequestFlush(e);
    }
}

void TSendQueueTotal::QueueCongested(bool congested)
{
    if (congested)
        ++FCongestedQueues;
    else
        --FCongestedQueues;
}

void TSendQueueTotal::WatchClear(uint64_t endpoint)
{
    FWatchers.push_back(endpoint);
}

void TSendQueueTotal::UnwatchClear(uint64_t endpoint)
{
    std::erase(FWatchers, endpoint);
}

std::unique_ptr<TBuffer> TSendQueueTotal::TakeBlock()
{
    if (FSpare.empty())
        return std::make_unique<TBuffer>(DefaultBufSize);
    std::unique_ptr<TBuffer> block = std::move(FSpare.back());
    FSpare.pop_back();
    return block;
}

void TSendQueueTotal::GiveBack(std::unique_ptr<TBuffer> block)
{
    // Only whole, empty blocks of the default size come back for reuse.
    if (block && block->Capacity() == DefaultBufSize && block->Unsent() == 0 && FSpare.size() < MaxSpareBlocks)
        FSpare.push_back(std::move(block));
}
