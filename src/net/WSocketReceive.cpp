// The receive loop: what a read or close readiness does, and the plain read under it.
#include "net/CustomWSocket.h"

#include <algorithm>

#include "net/WinSockErrors.h"

void TCustomWSocket::DoFdRead(uint16_t error)
{
    ReceiveLoop(error, ComponentOptions);
}

void TCustomWSocket::DoFdClose(uint16_t error)
{
    if (FState == wsConnecting)
        return;
    TSocket handle = FHSocket;
    // Nothing more is read while the owner holds back: it has yet to handle what it has.
    bool more = !FReadHeld && ReceiveLoop(0, ComponentOptions & ~OptionBit(wsoNoReceiveLoop));
    // A data handler that closed the session has had it reported (or dropped) already.
    if (FHSocket != handle)
        return;
    // An orderly close comes after everything the peer sent: it waits until the owner reads
    // again (its turn ended, or it holds back), so that all of it is handled before the
    // session ends. A reset promises nothing and ends the session now.
    if (FReadHeld && error == 0) {
        FHeldClose = true;
        FHeldCloseError = 0;
        ClosedWhileReadHeld();
        return;
    }
    if (more) {
        // The loop reports a close only once: what the peer sent before it is taken in later
        // rounds, a share at a time, through this same notification posted again.
        PostMessageToSelf(WM_ASYNCSELECT, static_cast<uintptr_t>(handle), MakeSelectLParam(FD_CLOSE, error));
        return;
    }
    if (!FCloseInvoked) {
        FCloseInvoked = true;
        TriggerSessionClosed(error);
    }
    if (FState != wsClosed)
        Close();
}

bool TCustomWSocket::ReceiveLoop(uint16_t error, TWSocketOptions options)
{
    int64_t taken = 0;
    try {
        for (;;) {
            int64_t readBefore = FReadCount;
            FLastError = 0;
            if (!TriggerDataAvailable(error)) {
                char junk[1024];
                if (PlainReceive(junk, sizeof junk) < 0 && FLastError == WSAEWOULDBLOCK) {
                    FLastError = 0;
                    break;
                }
            }
            if ((options & OptionBit(wsoNoReceiveLoop)) || FReadHeld)
                break;
            if (FLastError != 0)
                break;
            int count = 0;
            if (int code = SocketPendingBytes(FHSocket, count); code != 0) {
                FLastError = code;
                break;
            }
            // A handler that read nothing would be asked again for ever.
            if (count == 0 || FReadCount == readBefore)
                break;
            // One loop thread serves every connection: a peer that sends faster than its
            // handler consumes gets a bounded share, then the others have their turn. The
            // loop is level-triggered, so the rest is reported again in the next round.
            taken += FReadCount - readBefore;
            if (taken >= ReadShare)
                return true;
        }
    } catch (...) {
        // An exception of the data handler ends this read's processing and nothing else.
    }
    return false;
}

bool TCustomWSocket::TriggerDataAvailable(uint16_t error)
{
    if (!OnDataAvailable)
        return false;
    OnDataAvailable(this, error);
    return true;
}

void TCustomWSocket::TriggerSessionClosed(uint16_t error)
{
    if (OnSessionClosed)
        OnSessionClosed(this, error);
}

// --- receiving -------------------------------------------------------------------------------

int TCustomWSocket::PlainReceive(void* buffer, int bufferSize)
{
    int n = SocketRecv(FHSocket, static_cast<char*>(buffer), std::max(bufferSize, 0));
    if (n < 0) {
        FLastError = SocketLastError();
        return -1;
    }
    FReadCount += n;
    if (FCounters)
        FCounters->BytesReceived += static_cast<uint64_t>(n);
    return n;
}

int TCustomWSocket::Receive(void* buffer, int bufferSize)
{
    return PlainReceive(buffer, bufferSize);
}

ByteString TCustomWSocket::ReceiveString(int maxBytes)
{
    int n = RcvdCount();
    if (n < 0)
        return {};
    if (n == 0)
        n = 255;
    n = std::min(n, std::max(maxBytes, 1));
    ByteString s(static_cast<size_t>(n), '\0');
    int r = Receive(s.data(), n);
    if (r <= 0)
        return {};
    s.resize(static_cast<size_t>(r));
    return s;
}
