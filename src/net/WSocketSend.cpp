// The send queue and the round flush: Send queues, the end of the round (or a long queue)
// pushes, a write readiness resumes what the network refused.
#include "net/CustomWSocket.h"

#include <algorithm>
#include <climits>

#include "net/WinSockErrors.h"

namespace {

bool IsConnectionEnd(int code)
{
    return code == WSAECONNRESET || code == WSAENOTSOCK || code == WSAENOTCONN || code == WSAEINVAL ||
           code == WSAECONNABORTED;
}

}  // namespace

void TCustomWSocket::DoFdWrite(uint16_t error)
{
    TryToSend();
    if (FAllSent && OnDataSent)
        OnDataSent(this, error);
}

// --- sending ---------------------------------------------------------------------------------

void TCustomWSocket::PutDataInSendBuffer(const void* data, int len)
{
    auto p = static_cast<const char*>(data);
    // Bytes behind a shared payload go into a block behind it, never into room before it.
    TSendQueueTotal& total = FLoop.QueuedTotal();
    auto newBlock = [&] {
        return FBufSize == DefaultBufSize ? total.TakeBlock() : std::make_unique<TBuffer>(FBufSize);
    };
    if (FBufList.empty() || !FBufList.back().Block)
        FBufList.push_back({newBlock(), nullptr, 0});
    int32_t done = FBufList.back().Block->Write(p, len);
    while (done < len) {
        FBufList.push_back({newBlock(), nullptr, 0});
        done += FBufList.back().Block->Write(p + done, len - done);
    }
    total.Add(static_cast<size_t>(len));
    Queued(static_cast<size_t>(len), static_cast<size_t>(len));
}

void TCustomWSocket::Queued(size_t len, size_t own)
{
    FBufferedBytes += len;
    FOwnBytes += own;
    FQueuedBefore = true;
    // Feeding a queue that is behind while all queues are at their bound: whoever fed it is
    // held back (a connection's bytes for itself never count, see TSendQueueTotal).
    TSendQueueTotal& total = FLoop.QueuedTotal();
    if (FBacklogged && total.OverLimit() && total.OwnQueue != this)
        total.FedBacklogOverLimit = true;
    QueueLengthChanged();
}

void TCustomWSocket::DeleteBufferedData()
{
    // A send the loop made for this queue is counted even though nothing will look at it now.
    if (FSentTogether) {
        FSentTogether = false;
        if (FSentTogetherResult > 0) {
            FHandedBytes += static_cast<uint64_t>(FSentTogetherResult);
            if (FCounters)
                FCounters->BytesSent += static_cast<uint64_t>(FSentTogetherResult);
        }
    }
    FBufList.clear();  // drops this queue's references to shared payloads
    FLoop.QueuedTotal().Remove(FOwnBytes);
    FOwnBytes = 0;
    FBufferedBytes = 0;
    FQueuedBefore = false;
    FBacklogged = false;
    QueueLengthChanged();
}

void TCustomWSocket::SharedEntryDone()
{
    FBufList.pop_front();  // this queue's reference goes at once
    FLoop.QueuedTotal().Remove(TSendQueueTotal::SharedEntryCost);
    FOwnBytes -= TSendQueueTotal::SharedEntryCost;
}

uint64_t TCustomWSocket::AcknowledgedBytes() const
{
    if (FHSocket == INVALID_SOCKET)
        return FHandedBytes;
    return FHandedBytes - std::min<uint64_t>(SocketUnacknowledgedBytes(FHSocket), FHandedBytes);
}

void TCustomWSocket::UpdateCongestion()
{
    if (FSlowQueueMark == 0)
        return;
    bool congested = FCongested ? FBufferedBytes > FSlowQueueMark / 2 : FBufferedBytes >= FSlowQueueMark;
    if (congested == FCongested)
        return;
    FCongested = congested;
    FLoop.QueuedTotal().QueueCongested(congested);
}

void TCustomWSocket::SetSlowQueueMark(size_t bytes)
{
    if (FCongested) {
        FCongested = false;
        FLoop.QueuedTotal().QueueCongested(false);
    }
    FSlowQueueMark = bytes;
    QueueLengthChanged();
}

void TCustomWSocket::PauseReading(bool paused)
{
    FReadHeld = paused;
    if (FHSocket == INVALID_SOCKET)
        return;
    FLoop.PauseReading(FHSocket, paused);
    // A close kept while not reading comes after whatever the read then reports.
    if (!paused && FHeldClose) {
        FHeldClose = false;
        auto handle = static_cast<uintptr_t>(FHSocket);
        PostMessageToSelf(WM_ASYNCSELECT, handle, MakeSelectLParam(FD_CLOSE, FHeldCloseError));
    }
}

void TCustomWSocket::QueueString(ByteView str)
{
    if (!str.empty())
        PutDataInSendBuffer(str.data(), static_cast<int>(str.size()));
}

int TCustomWSocket::Send(const void* data, int len)
{
    if (FState != wsConnected) {
        SocketError("Send", WSAENOTCONN);
        return -1;
    }
    FAllSent = false;
    if (len > 0)
        PutDataInSendBuffer(data, len);
    return RequestPush(len);
}

int TCustomWSocket::SendShared(const TSharedBytes& payload)
{
    if (FState != wsConnected) {
        SocketError("Send", WSAENOTCONN);
        return -1;
    }
    FAllSent = false;
    int len = payload ? static_cast<int>(payload->Bytes().size()) : 0;
    if (len > 0) {
        FBufList.push_back({nullptr, payload, 0});
        FLoop.QueuedTotal().Add(TSendQueueTotal::SharedEntryCost);
        Queued(static_cast<size_t>(len), TSendQueueTotal::SharedEntryCost);
    }
    return RequestPush(len);
}

int TCustomWSocket::RequestPush(int len)
{
    // What is sent during a round leaves at its end, together; a long queue goes at once, and
    // so does a zero-length Send, which asks for exactly that push.
    if (FBufferedBytes > FlushAtOnce || len <= 0) {
        PushQueue();
    } else if (!FFlushRequested) {
        FFlushRequested = true;
        FLoop.RequestFlush(FEndpoint);
    }
    return std::max(len, 0);
}

void TCustomWSocket::Flush()
{
    FFlushRequested = false;
    if (FState != wsConnected || FAllSent)
        return;
    try {
        PushQueue();
    } catch (const std::exception& e) {
        HandleBgException(e);
    }
}

// The bytes the first send of TryToSend would hand over, or false when it would first drop an
// emptied block (then it makes its own sends).
static bool FrontBytes(const char*& p, int32_t& len, TBuffer* block, const TSharedBytes& shared, size_t sharedSent)
{
    if (block) {
        p = block->Peek(len);
        return len > 0;
    }
    ByteView rest = shared->Bytes().substr(sharedSent);
    p = rest.data();
    len = static_cast<int32_t>(std::min<size_t>(rest.size(), INT32_MAX));
    return len > 0;
}

bool TCustomWSocket::GatherSend(TGatheredSend& send)
{
    // Only what Flush would send at once: a connected socket with a queue and no outcome
    // still to take.
    if (!FFlushRequested || FSentTogether || FState != wsConnected || FAllSent || FHSocket == INVALID_SOCKET ||
        FBufList.empty())
        return false;
    TSendEntry& e = FBufList.front();
    const char* p = nullptr;
    int32_t len = 0;
    if (!FrontBytes(p, len, e.Block.get(), e.Shared, e.SharedSent))
        return false;
    send.Fd = FHSocket;
    send.Data = p;
    send.Len = len;
    send.Urgent = FSendFlags == wsSendUrgent;
    FSentTogether = true;  // its outcome is on its way: not gathered twice
    FSentTogetherResult = 0;
    return true;
}

void TCustomWSocket::SentTogether(const TGatheredSend& send)
{
    FSentTogether = send.Made;
    FSentTogetherResult = send.Result;
    FSentTogetherCode = send.Result < 0 ? static_cast<uint16_t>(SocketErrorNumber(send.Error)) : 0;
}

void TCustomWSocket::PushRound()
{
    if (FFlushRequested && FState == wsConnected && FHSocket != INVALID_SOCKET) {
        FFlushRequested = false;
        TryToSend();
    }
}

void TCustomWSocket::PushQueue()
{
    TryToSend();
    // OnDataSent comes from the loop, after the caller's handler has returned.
    if (FAllSent && FHSocket != INVALID_SOCKET)
        PostMessageToSelf(WM_ASYNCSELECT, static_cast<uintptr_t>(FHSocket), MakeSelectLParam(FD_WRITE, 0));
}

int TCustomWSocket::SendString(ByteView str)
{
    if (str.empty())
        return 0;
    return Send(str.data(), static_cast<int>(str.size()));
}

void TCustomWSocket::TryToSend()
{
    if (FHSocket == INVALID_SOCKET)
        return;
    if (FBufList.empty()) {
        // Nothing waits: a connection that has queued before has sent all of it (what a
        // zero-length Send asks to hear); one that never queued has nothing to report.
        if (FQueuedBefore)
            FAllSent = true;
        FBacklogged = false;
        return;
    }
    for (;;) {
        TSendEntry& e = FBufList.front();
        int32_t len = 0;
        const char* p = nullptr;
        if (e.Block) {
            p = e.Block->Peek(len);
            if (len <= 0) {
                // An emptied block goes back to the loop's spares, the last one too: an idle
                // connection keeps no block (1,514 bytes for each of thousands of idle users),
                // and a busy one takes its next from the spares.
                FLoop.QueuedTotal().GiveBack(std::move(e.Block));
                FBufList.pop_front();
                if (FBufList.empty()) {
                    FAllSent = true;
                    FBacklogged = false;
                    return;
                }
                continue;
            }
        } else {
            // A shared payload goes in as large pieces as the network takes: it is not copied
            // into blocks, so there is no block size to keep to.
            ByteView rest = e.Shared->Bytes().substr(e.SharedSent);
            if (rest.empty()) {
                SharedEntryDone();
                if (FBufList.empty()) {
                    FAllSent = true;
                    FBacklogged = false;
                    return;
                }
                continue;
            }
            p = rest.data();
            len = static_cast<int32_t>(std::min<size_t>(rest.size(), INT32_MAX));
        }
        // The loop may have made this send already, with the round's others (GatherSend):
        // its outcome stands for the call, which is not made again.
        int n = 0;
        int code = 0;
        if (FSentTogether) {
            FSentTogether = false;
            n = FSentTogetherResult;
            code = FSentTogetherCode;
        } else {
            n = SocketSend(FHSocket, reinterpret_cast<const char*>(p), len, FSendFlags == wsSendUrgent);
            if (n < 0)
                code = SocketLastError();
        }
        if (n > 0) {
            if (e.Block) {
                e.Block->Remove(static_cast<int32_t>(n));
                FLoop.QueuedTotal().Remove(static_cast<size_t>(n));
                FOwnBytes -= static_cast<size_t>(n);
            } else {
                e.SharedSent += static_cast<size_t>(n);
                if (e.SharedSent == e.Shared->Bytes().size()) {
                    SharedEntryDone();
                    if (FBufList.empty()) {
                        FAllSent = true;
                        FBacklogged = false;
                    }
                }
            }
            FBufferedBytes -= static_cast<size_t>(n);
            FHandedBytes += static_cast<uint64_t>(n);
            if (FCounters)
                FCounters->BytesSent += static_cast<uint64_t>(n);
            QueueLengthChanged();
            if (OnSendData && !FDestroying)
                OnSendData(this, static_cast<int>(n));
            if (FHSocket == INVALID_SOCKET || FBufList.empty())
                return;  // all gone, or the handler closed or aborted the session
            // A part taken is not a full buffer everywhere: the next send takes more or says
            // "would block", which is what asks for the write readiness on every system.
            continue;
        }
        if (n == 0)
            return;
        if (IsConnectionEnd(code)) {
            // The inner close reports the end with this code, unless it was reported already
            // (a goodbye sent from the close notification) or the object is being destroyed.
            InternalClose(true, static_cast<uint16_t>(code));
            return;
        }
        if (code == WSAEWOULDBLOCK) {
            FBacklogged = true;
            FLoop.ArmWrite(FHSocket);
            return;
        }
        SocketError("TryToSend failed", code);
        return;
    }
}
