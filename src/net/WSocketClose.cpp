// The close paths: the destructor, Close (graceful, after what this round queued), Abort
// (at once, no linger) and CloseLater (from the loop).
#include "net/CustomWSocket.h"

#include "net/WinSockErrors.h"

TCustomWSocket::~TCustomWSocket()
{
    BeginDestroy();
    if (FState != wsClosed || FHSocket != INVALID_SOCKET) {
        try {
            Close();
        } catch (...) {
        }
    }
    if (FHSocket != INVALID_SOCKET) {
        FLoop.AsyncSelect(FHSocket, 0, 0);
        SocketClose(FHSocket);
    }
    // The loop's total and congestion count must not keep what this queue held.
    DeleteBufferedData();
    FLoop.ReleaseEndpoint(FEndpoint);
}

void TCustomWSocket::BeginDestroy()
{
    // From here on no event is raised: the owners of the handlers may be going away too.
    FDestroying = true;
}

// --- closing ---------------------------------------------------------------------------------

void TCustomWSocket::InternalClose(bool shutdown, uint16_t error)
{
    if (FHSocket != INVALID_SOCKET) {
        if (FState == wsClosed)
            return;
        if (shutdown)
            SocketShutdown(FHSocket, 1);
        TSocket handle = FHSocket;
        FLoop.AsyncSelect(handle, 0, 0);
        FHSocket = INVALID_SOCKET;
        // Nothing can send what is left: give it back (shared payloads included) at once
        // rather than when the object is freed.
        DeleteBufferedData();
        if (int code = SocketClose(handle); code != 0) {
            // The handle is released whatever close reports; only the state stays.
            FLastError = code;
            SocketError("Disconnect (closesocket)", FLastError);
            return;
        }
        ChangeState(wsClosed);
        if (!FDestroying && !FCloseInvoked) {
            FCloseInvoked = true;
            TriggerSessionClosed(error);
        }
        try {
            AssignDefaultValue();
        } catch (...) {
        }
    } else if (FState != wsClosed) {
        ChangeState(wsClosed);
        AssignDefaultValue();
    }
}

void TCustomWSocket::Close()
{
    MarkCloseCause(ccServer);
    PushRound();
    InternalClose(true, 0);
}

void TCustomWSocket::Abort()
{
    MarkCloseCause(ccServer);
    // Only what Send could not have handed over at once is dropped.
    PushRound();
    DeleteBufferedData();
    if (FState == wsConnected && Settings().ProtoNumber == IPPROTO_TCP) {
        LingerOnOff = wsLingerOff;
        SetLingerOption();
    }
    InternalClose(false, 0);
}

void TCustomWSocket::CloseLater()
{
    MarkCloseCause(ccServer);
    // The write notification of this round's sends must be queued ahead of the close, so that
    // OnDataSent comes first, as it did when Send pushed at once.
    if (FFlushRequested && FState == wsConnected && FHSocket != INVALID_SOCKET) {
        FFlushRequested = false;
        PushQueue();
    }
    PostMessageToSelf(WM_CLOSE_DELAYED);
}

void TCustomWSocket::Shutdown(int how)
{
    if (FHSocket != INVALID_SOCKET)
        SocketShutdown(FHSocket, how);
}

void TCustomWSocket::SetLingerOption()
{
    if (LingerOnOff == wsLingerNoSet)
        return;
    if (FHSocket == INVALID_SOCKET) {
        RaiseException("Cannot set linger option at this time");
        return;
    }
    if (SocketSetLinger(FHSocket, LingerOnOff == wsLingerOn, static_cast<uint16_t>(LingerTimeout)) != 0)
        SocketErrorOfLastCall("setsockopt(SO_LINGER)");
}
