#pragma once
// The system's sockets as the socket layer uses them: Windows Sockets 2, whose error numbers are
// the ones messages quote. The POSIX build has a file of the same name under net/posix; the build
// picks one.
#include "core/windows/WindowsHeaders.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>

using TSocket = SOCKET;
using in_addr_t = u_long;  // the type of in_addr::s_addr here

// Once per process, before the first socket call; safe to call again.
inline void SocketStartup()
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

inline int SocketLastError()
{
    return WSAGetLastError();
}

inline int SocketErrorNumber(int systemError)
{
    return systemError;
}

// Not inherited by started programs. The event loop's asynchronous selection makes it
// non-blocking; it is made so here too, for the calls before that.
inline TSocket SocketOpen(int family, int type, int protocol)
{
    SocketStartup();
    TSocket s = WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s != INVALID_SOCKET) {
        u_long on = 1;
        ioctlsocket(s, FIONBIO, &on);
    }
    return s;
}

inline int SocketClose(TSocket s)
{
    return ::closesocket(s) == 0 ? 0 : SocketLastError();
}

inline int SocketRecv(TSocket s, char* buffer, int size)
{
    return ::recv(s, buffer, size, 0);
}

inline int SocketSend(TSocket s, const char* data, int size, bool urgent)
{
    return ::send(s, data, size, urgent ? MSG_OOB : 0);
}

inline int SocketPendingBytes(TSocket s, int& count)
{
    u_long n = 0;
    if (::ioctlsocket(s, FIONREAD, &n) != 0) {
        count = 0;
        return SocketLastError();
    }
    count = n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n);
    return 0;
}

// This system does not tell what the peer has acknowledged: what the network took is counted
// as taken, and SocketBoundSendBuffer keeps the difference small.
inline size_t SocketUnacknowledgedBytes(TSocket)
{
    return 0;
}

// A send buffer of a bounded size, so that what the network took from a connection's queue is
// close to what its reader has taken (the system may otherwise buffer megabytes).
inline void SocketBoundSendBuffer(TSocket s)
{
    int bytes = 64 * 1024;
    ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes);
}

// Whether the peer has ended the connection with nothing left to read, for a connection whose
// reading is paused: a system may report that close only after a read (Wine does), which a
// paused connection does not make.
inline bool SocketPeerEnded(TSocket s)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval now{};
    if (::select(0, &readable, nullptr, nullptr, &now) != 1)
        return false;
    char c;
    return ::recv(s, &c, 1, MSG_PEEK) == 0;
}

inline int SocketShutdown(TSocket s, int how)
{
    return ::shutdown(s, how);
}

inline int SocketSetOption(TSocket s, int level, int name, int value)
{
    return ::setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

inline int SocketSetLinger(TSocket s, bool on, int seconds)
{
    linger li{};
    li.l_onoff = on ? 1 : 0;
    li.l_linger = static_cast<u_short>(seconds);
    return ::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&li), sizeof li);
}

// Windows binds a listening port again while its old connections wait out TIME_WAIT without
// being asked (its SO_REUSEADDR would let another program take a port in use). The port is taken
// exclusively: no other program can bind it beside ours, on the same address or on one address
// of ours, and take the clients that connect to it.
inline void SocketSetListenOptions(TSocket s)
{
    SocketSetOption(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, 1);
}

// A failed bind's code as reported. A port that another socket holds exclusively (ours are held
// so: another copy of this program, say) is refused with 10013, "Permission denied"; it is a port
// in use, and reported as one.
inline int SocketBindError(int code)
{
    return code == WSAEACCES ? WSAEADDRINUSE : code;
}

inline int SocketPendingError(TSocket s)
{
    int soError = 0;
    int len = sizeof soError;
    ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
    return soError;
}

// Tests make accept fail as the system does, which no test can bring about at will: the next
// Count calls fail with Code. A failure of the waiting connection itself (reset or aborted in the
// queue) takes it from the queue, as the system does; any other (no descriptor or buffer left)
// leaves it waiting, and no call reaches the system that would have it report the connection again.
struct TAcceptFault {
    int Code = 0;
    int Count = 0;
};
inline TAcceptFault& SocketAcceptFault()
{
    static TAcceptFault fault;
    return fault;
}

// A failed accept that concerns only the connection it took (reset or aborted while it waited).
inline bool SocketConnectionFailed(int code)
{
    return code == WSAECONNRESET || code == WSAECONNABORTED || code == WSAETIMEDOUT;
}

// The accepted socket inherits the listener's selection, so it is non-blocking already; it is
// kept from started programs as the listener is.
inline TSocket SocketAccept(TSocket listening)
{
    if (TAcceptFault& fault = SocketAcceptFault(); fault.Count > 0) {
        --fault.Count;
        if (SocketConnectionFailed(fault.Code)) {
            TSocket gone = ::accept(listening, nullptr, nullptr);
            if (gone != INVALID_SOCKET) {
                SocketSetLinger(gone, true, 0);
                ::closesocket(gone);
            }
        }
        WSASetLastError(fault.Code);
        return INVALID_SOCKET;
    }
    TSocket s = ::accept(listening, nullptr, nullptr);
    if (s != INVALID_SOCKET)
        SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return s;
}

// After a failed accept, in how many milliseconds the listener asks the system again for the
// connections that wait (-1: the system reports them again by itself). The system may stay silent
// after a failed accept, about the connection that waits and those that come after it (as Wine
// was seen to be), so the listener always asks again: at once when only the connection
// taken failed or none waited, after a pause when the system lacks resources (no descriptor or
// buffer; Wine gives 10022 for that) or fails otherwise, so that it never spins on a failure.
inline int SocketAcceptRetryMs(int code)
{
    return SocketConnectionFailed(code) || code == WSAEWOULDBLOCK ? 0 : 100;
}
