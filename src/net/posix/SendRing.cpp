// One system call for a round's sends (see SendRing.h).
#include "SendRing.h"

#include <linux/io_uring.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

int RingSetup(unsigned entries, io_uring_params& params)
{
    return static_cast<int>(syscall(__NR_io_uring_setup, entries, &params));
}

int RingEnter(int fd, unsigned toSubmit, unsigned minComplete, unsigned flags)
{
    return static_cast<int>(syscall(__NR_io_uring_enter, fd, toSubmit, minComplete, flags, nullptr, 0));
}

// The kernel reads the tail and writes the head of the submission ring, and the other way
// round for completions: the ends each side reads are loaded and stored with ordering.
uint32_t LoadAcquire(uint32_t* p)
{
    return std::atomic_ref<uint32_t>(*p).load(std::memory_order_acquire);
}

void StoreRelease(uint32_t* p, uint32_t v)
{
    std::atomic_ref<uint32_t>(*p).store(v, std::memory_order_release);
}

template <typename T>
T* At(void* base, uint32_t offset)
{
    return reinterpret_cast<T*>(static_cast<char*>(base) + offset);
}

}  // namespace

std::unique_ptr<TSendRing> TSendRing::Open(unsigned entries)
{
    std::unique_ptr<TSendRing> ring(new TSendRing);
    io_uring_params params{};
    // Every entry is submitted even if one before it cannot be; completions posted for the
    // task that asked, when it next enters the kernel (it always waits for them at once).
    // A kernel that refuses these flags (before 5.19) is not used at all: older ones are not
    // known to fail a send to a full socket at once when asked not to wait, and one that held
    // it until the reader made room would hold the whole round with it.
    params.flags = IORING_SETUP_SUBMIT_ALL | IORING_SETUP_COOP_TASKRUN;
    ring->Fd = RingSetup(entries, params);
    if (ring->Fd < 0)
        return nullptr;
    if (!(params.features & IORING_FEAT_NODROP))
        return nullptr;  // a full completion ring would lose results

    ring->Entries = params.sq_entries;
    ring->RingMapSize = params.sq_off.array + params.sq_entries * sizeof(uint32_t);
    size_t cqSize = params.cq_off.cqes + params.cq_entries * sizeof(io_uring_cqe);
    bool single = params.features & IORING_FEAT_SINGLE_MMAP;
    if (single)
        ring->RingMapSize = std::max(ring->RingMapSize, cqSize);
    ring->RingMap = mmap(nullptr, ring->RingMapSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, ring->Fd,
                         IORING_OFF_SQ_RING);
    if (ring->RingMap == MAP_FAILED) {
        ring->RingMap = nullptr;
        return nullptr;
    }
    void* cq = ring->RingMap;
    if (!single) {
        ring->CqMapSize = cqSize;
        ring->CqMap = mmap(nullptr, cqSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, ring->Fd,
                           IORING_OFF_CQ_RING);
        if (ring->CqMap == MAP_FAILED) {
            ring->CqMap = nullptr;
            return nullptr;
        }
        cq = ring->CqMap;
    }
    ring->SqesMapSize = params.sq_entries * sizeof(io_uring_sqe);
    ring->SqesMap = mmap(nullptr, ring->SqesMapSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, ring->Fd,
                         IORING_OFF_SQES);
    if (ring->SqesMap == MAP_FAILED) {
        ring->SqesMap = nullptr;
        return nullptr;
    }
    ring->SqHead = At<uint32_t>(ring->RingMap, params.sq_off.head);
    ring->SqTail = At<uint32_t>(ring->RingMap, params.sq_off.tail);
    ring->SqMask = *At<uint32_t>(ring->RingMap, params.sq_off.ring_mask);
    ring->SqArray = At<uint32_t>(ring->RingMap, params.sq_off.array);
    ring->Sqes = static_cast<io_uring_sqe*>(ring->SqesMap);
    ring->CqHead = At<uint32_t>(cq, params.cq_off.head);
    ring->CqTail = At<uint32_t>(cq, params.cq_off.tail);
    ring->CqMask = *At<uint32_t>(cq, params.cq_off.ring_mask);
    ring->Cqes = At<io_uring_cqe>(cq, params.cq_off.cqes);
    return ring;
}

TSendRing::~TSendRing()
{
    if (SqesMap)
        munmap(SqesMap, SqesMapSize);
    if (CqMap)
        munmap(CqMap, CqMapSize);
    if (RingMap)
        munmap(RingMap, RingMapSize);
    if (Fd >= 0)
        close(Fd);
}

void TSendRing::SendAll(TGatheredSend* sends, size_t count)
{
    while (count > 0) {
        auto n = static_cast<unsigned>(std::min<size_t>(count, Entries));
        if (!SubmitAndWait(sends, n)) {
            for (unsigned i = 0; i < n; ++i) {
                TGatheredSend& s = sends[i];
                s.Result = SocketSend(s.Fd, s.Data, s.Len, s.Urgent);
                s.Error = s.Result < 0 ? errno : 0;
            }
        }
        sends += n;
        count -= n;
    }
}

unsigned TSendRing::Reap(TGatheredSend* sends, unsigned n)
{
    unsigned reaped = 0;
    uint32_t head = *CqHead;
    uint32_t cqTail = LoadAcquire(CqTail);
    for (; head != cqTail; ++head) {
        const io_uring_cqe& cqe = Cqes[head & CqMask];
        uint64_t index = cqe.user_data & 0xFFFFFFFFu;
        if ((cqe.user_data >> 32) != Batch || index >= n)
            continue;  // an earlier batch's
        TGatheredSend& s = sends[index];
        s.Result = cqe.res >= 0 ? cqe.res : -1;
        s.Error = cqe.res >= 0 ? 0 : -cqe.res;
        s.Done = true;
        ++reaped;
    }
    StoreRelease(CqHead, head);
    return reaped;
}

bool TSendRing::SubmitAndWait(TGatheredSend* sends, unsigned n)
{
    uint32_t tail = *SqTail;  // only this side writes it
    // Each batch's completions carry its number: one left over from a batch whose wait failed
    // must not be taken for a send of this one.
    ++Batch;
    for (unsigned i = 0; i < n; ++i) {
        const TGatheredSend& s = sends[i];
        uint32_t slot = (tail + i) & SqMask;
        io_uring_sqe& sqe = Sqes[slot];
        std::memset(&sqe, 0, sizeof sqe);
        sqe.opcode = IORING_OP_SEND;
        sqe.fd = s.Fd;
        sqe.addr = reinterpret_cast<uintptr_t>(s.Data);
        sqe.len = static_cast<uint32_t>(s.Len);
        // As SocketSend: a full socket says "would block" at once instead of being waited on.
        sqe.msg_flags = MSG_NOSIGNAL | MSG_DONTWAIT | (s.Urgent ? MSG_OOB : 0);
        sqe.user_data = (uint64_t{Batch} << 32) | i;
        SqArray[slot] = slot;
        sends[i].Result = -1;
        sends[i].Error = 0;
        sends[i].Done = false;
    }
    StoreRelease(SqTail, tail + n);

    unsigned submitted = 0;
    unsigned completed = 0;
    bool waitFailed = false;
    // Until every submitted send has completed. The kernel waits for completions only when it
    // took every entry asked for; an interrupted wait is taken up again.
    while (submitted < n || completed < submitted) {
        int r = RingEnter(Fd, n - submitted, n - completed, IORING_ENTER_GETEVENTS);
        if (r < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EBUSY)
                continue;
            if (submitted == 0 && completed == 0) {
                // Nothing went: take the entries back so the ring is as it was.
                StoreRelease(SqTail, tail);
                return false;
            }
            waitFailed = true;
            break;
        }
        submitted += static_cast<unsigned>(r);
        completed += Reap(sends, n);
        if (r == 0 && submitted < n) {
            // The kernel took no more: the rest go one by one below, once what it took has
            // completed.
            while (completed < submitted && !waitFailed) {
                int w = RingEnter(Fd, 0, submitted - completed, IORING_ENTER_GETEVENTS);
                if (w < 0 && errno != EINTR && errno != EAGAIN && errno != EBUSY)
                    waitFailed = true;
                completed += Reap(sends, n);
            }
            break;
        }
    }
    // A send whose outcome is unknown may have gone: its connection cannot go on (sending it
    // again could repeat bytes), so it ends as if the peer had.
    if (waitFailed)
        for (unsigned i = 0; i < submitted; ++i)
            if (!sends[i].Done)
                sends[i].Error = ECONNABORTED;
    // Entries the kernel did not take are withdrawn and sent one by one, in order after the
    // others (each on a socket of its own, so no stream's order changes).
    if (submitted < n) {
        StoreRelease(SqTail, tail + submitted);
        for (unsigned i = submitted; i < n; ++i) {
            TGatheredSend& s = sends[i];
            s.Result = SocketSend(s.Fd, s.Data, s.Len, s.Urgent);
            s.Error = s.Result < 0 ? errno : 0;
        }
    }
    return true;
}
