#pragma once
// The sends of one round handed to the kernel in one system call (an io_uring submission queue),
// where the kernel offers it and allows it. Each send is made exactly as SocketSend makes it
// (never waiting, never SIGPIPE), so it takes part of the bytes, all of them, or fails with the
// errno the plain call would give: the socket layer cannot tell which way they went.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "net/EventLoop.h"

class TSendRing {
public:
    // The ring, or nothing when the system has none or refuses one (a sandbox, a setting that
    // turns it off, too old a kernel): the loop then sends each on its own.
    static std::unique_ptr<TSendRing> Open(unsigned entries);
    ~TSendRing();
    TSendRing(const TSendRing&) = delete;
    TSendRing& operator=(const TSendRing&) = delete;

    // Makes every send, one system call per ring full, and fills in each one's Result (bytes
    // taken, or -1 and Error, an errno). Returns once all have completed.
    void SendAll(TGatheredSend* sends, size_t count);

private:
    TSendRing() = default;
    // Submits n prepared entries and waits for their completions; false if the system refused
    // the call itself (those sends are then made one by one).
    bool SubmitAndWait(TGatheredSend* sends, unsigned n);
    // Takes the completions that have come, into sends' results; returns how many were this
    // batch's.
    unsigned Reap(TGatheredSend* sends, unsigned n);

    int Fd = -1;
    uint32_t Batch = 0;  // the number of the batch in the ring
    void* RingMap = nullptr;
    size_t RingMapSize = 0;
    void* CqMap = nullptr;  // only when the kernel maps the two rings apart
    size_t CqMapSize = 0;
    void* SqesMap = nullptr;
    size_t SqesMapSize = 0;
    unsigned Entries = 0;
    // The submission ring.
    uint32_t* SqHead = nullptr;
    uint32_t* SqTail = nullptr;
    uint32_t SqMask = 0;
    uint32_t* SqArray = nullptr;
    struct io_uring_sqe* Sqes = nullptr;
    // The completion ring.
    uint32_t* CqHead = nullptr;
    uint32_t* CqTail = nullptr;
    uint32_t CqMask = 0;
    struct io_uring_cqe* Cqes = nullptr;
};
