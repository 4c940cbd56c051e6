// The send queue and the round flush: Send queues, the end of the round (or a long queue)
// pushes, a write readiness resumes what the network refused.
#include "net/CustomWSocket.h"

#include <sys/socket.h>

#include <cerrno>

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
    if (FBufList.empty())
        FBufList.push_back(std::make_unique<TBuffer>(FBufSize));
    int32_t done = FBufList.back()->Write(p, len);
    while (done < len) {
        FBufList.push_back(std::make_unique<TBuffer>(FBufSize));
        done += FBufList.back()->Write(p + done, len - done);
    }
    FBufferedBytes += static_cast<size_t>(len);
}

void TCustomWSocket::DeleteBufferedData()
{
    FBufList.clear();
    FBufferedBytes = 0;
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
    int result = 0;
    if (len > 0) {
        PutDataInSendBuffer(data, len);
        result = len;
    }
    // What is sent during a round leaves at its end, together; a long queue goes at once, and
    // so does a zero-length Send, which asks for exactly that push.
    if (FBufferedBytes > FlushAtOnce || len <= 0) {
        PushQueue();
    } else if (!FFlushRequested) {
        FFlushRequested = true;
        FLoop.RequestFlush(FEndpoint);
    }
    return result;
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
    if (FHSocket == INVALID_SOCKET || FBufList.empty())
        return;
    for (;;) {
        int32_t len = 0;
        const char* p = FBufList.front()->Peek(len);
        if (len <= 0) {
            if (FBufList.size() == 1) {
                FAllSent = true;
                return;
            }
            FBufList.pop_front();
            continue;
        }
        int flags = MSG_NOSIGNAL | (FSendFlags == wsSendUrgent ? MSG_OOB : 0);
        ssize_t n = ::send(FHSocket, p, static_cast<size_t>(len), flags);
        if (n > 0) {
            FBufList.front()->Remove(static_cast<int32_t>(n));
            FBufferedBytes -= static_cast<size_t>(n);
            if (OnSendData && !FDestroying)
                OnSendData(this, static_cast<int>(n));
            if (FHSocket == INVALID_SOCKET || FBufList.empty())
                return;  // the handler closed or aborted the session
            if (n < len) {
                FLoop.ArmWrite(FHSocket);
                return;
            }
            continue;
        }
        if (n == 0)
            return;
        int code = WinSockError(errno);
        if (IsConnectionEnd(code)) {
            // The inner close reports the end with this code, unless it was reported already
            // (a goodbye sent from the close notification) or the object is being destroyed.
            InternalClose(true, static_cast<uint16_t>(code));
            return;
        }
        if (code == WSAEWOULDBLOCK) {
            FLoop.ArmWrite(FHSocket);
            return;
        }
        SocketError("TryToSend failed", code);
        return;
    }
}
