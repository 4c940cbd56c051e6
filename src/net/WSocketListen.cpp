// Listening for connections and adopting an accepted one.
#include "net/CustomWSocket.h"

#include "net/WinSockErrors.h"

// --- listening and adopting ------------------------------------------------------------------

void TCustomWSocket::ResolveForListen()
{
    TListenSettings& set = EditSettings();
    if (!set.ProtoResolved) {
        set.ProtoNumber = WSocketResolveProto(set.ProtoStr);
        set.SocketType = set.ProtoNumber == IPPROTO_UDP ? 2 : 1;
        set.ProtoResolved = true;
    }
    if (!set.PortResolved) {
        set.Sin.sin_port = htons(WSocketResolvePort(set.PortStr, set.ProtoStr));
        set.PortResolved = true;
    }
    if (!set.AddrResolved) {
        set.Sin.sin_addr.s_addr = WSocketResolveHost(set.AddrStr);
        set.AddrResolved = true;
    }
}

void TCustomWSocket::Listen()
{
    const TListenSettings& given = Settings();
    if (!given.PortAssigned) {
        SocketError("listen: port not assigned", WSAEINVAL);
        return;
    }
    if (!given.ProtoAssigned) {
        SocketError("listen: protocol not assigned", WSAEINVAL);
        return;
    }
    if (!given.AddrAssigned) {
        SocketError("listen: address not assigned", WSAEINVAL);
        return;
    }
    try {
        ResolveForListen();
    } catch (const ESocketException& e) {
        RaiseException(std::string("listen: ") + e.what());
        return;
    }
    DeleteBufferedData();

    TListenSettings& set = EditSettings();
    TSocket s = SocketOpen(set.AddrFamily, set.SocketType == 2 ? SOCK_DGRAM : SOCK_STREAM, set.ProtoNumber);
    if (s == INVALID_SOCKET) {
        SocketErrorOfLastCall("socket");
        return;
    }
    SocketSetListenOptions(s);
    if (::bind(s, reinterpret_cast<sockaddr*>(&set.Sin), sizeof set.Sin) != 0) {
        int code = SocketBindError(SocketLastError());
        SocketClose(s);
        SocketError("Bind", code);
        return;
    }
    FHSocket = s;
    ChangeState(wsBound);
    if (set.SocketType == 2) {
        ChangeState(wsListening);
        ChangeState(wsConnected);
        if (OnSessionConnected)
            OnSessionConnected(this, 0);
    } else {
        // Five was all the old socket library allowed; here a burst of clients connecting at
        // once would have its SYNs dropped and wait seconds for the retry.
        if (::listen(FHSocket, SOMAXCONN) != 0) {
            SocketErrorOfLastCall("Listen");
            return;
        }
        ChangeState(wsListening);
    }
    if (int e = FLoop.AsyncSelect(FHSocket, FEndpoint, FD_ACCEPT | FD_READ | FD_WRITE | FD_CLOSE); e != 0) {
        SocketError("WSAASyncSelect", e);
        return;
    }
    if (FPaused)
        FLoop.PauseReading(FHSocket, true);
}

TSocket TCustomWSocket::Accept()
{
    if (FState != wsListening) {
        SocketError("not a listening socket", WSAEINVAL);
        return INVALID_SOCKET;
    }
    TSocket s = SocketAccept(FHSocket);
    if (s == INVALID_SOCKET) {
        int e = SocketLastError();
        // Whatever failed, the listener accepts again once the cause is gone: it asks the
        // system again itself where the system would not report the waiting connections again.
        if (int retryMs = SocketAcceptRetryMs(e); retryMs >= 0)
            FLoop.SnoozeAccept(FHSocket, retryMs);
        // The connection announced has gone (reset and dropped from the queue): nothing failed.
        if (e == WSAEWOULDBLOCK)
            return INVALID_SOCKET;
        // Reported without the rule that drops the handle on a reset: the reset (or whatever
        // else failed) was the waiting connection's, and the listening socket stays.
        ReportSocketError("Accept", e);
        return INVALID_SOCKET;
    }
    return s;
}

void TCustomWSocket::Dup(TSocket newHSocket)
{
    // Descriptor 0 is a valid socket when standard input is closed.
    if (newHSocket == INVALID_SOCKET) {
        SocketError("Dup", WSAEINVAL);
        return;
    }
    if (FState != wsClosed) {
        if (FHSocket != INVALID_SOCKET) {
            FLoop.AsyncSelect(FHSocket, 0, 0);
            TSocket old = FHSocket;
            FHSocket = INVALID_SOCKET;
            if (int code = SocketClose(old); code != 0) {
                SocketError("Dup (closesocket)", code);
                return;
            }
        }
        ChangeState(wsClosed);
    }
    FHSocket = newHSocket;
    SetLingerOption();
    if (int e = FLoop.AsyncSelect(FHSocket, FEndpoint, FD_READ | FD_WRITE | FD_CLOSE | FD_CONNECT); e != 0) {
        SocketError("WSAAsyncSelect", e);
        return;
    }
    if (FPaused)
        FLoop.PauseReading(FHSocket, true);
    ChangeState(wsConnected);
}
