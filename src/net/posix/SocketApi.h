#pragma once
// The system's sockets as the socket layer uses them: POSIX sockets with their errors given as
// Windows Sockets numbers, so that messages read as they always have. The Windows build has a
// file of the same name under net/windows; the build picks one.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

using TSocket = int;
inline constexpr TSocket INVALID_SOCKET = -1;

// Readiness bits of an asynchronous-selection message (low half of LParam; the error is the high
// half) and the first message number free for a program, as Windows numbers them.
inline constexpr uint32_t FD_READ = 1;
inline constexpr uint32_t FD_WRITE = 2;
inline constexpr uint32_t FD_OOB = 4;
inline constexpr uint32_t FD_ACCEPT = 8;
inline constexpr uint32_t FD_CONNECT = 16;
inline constexpr uint32_t FD_CLOSE = 32;
inline constexpr uint32_t WM_USER = 1024;

inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEINPROGRESS = 10036;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSANOTINITIALISED = 10093;
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSATRY_AGAIN = 11002;
inline constexpr int WSANO_RECOVERY = 11003;
inline constexpr int WSANO_DATA = 11004;

// errno to the Windows Sockets number; an errno without one is returned as it is.
int WinSockError(int errnoValue);

// Nothing to start on this system.
inline void SocketStartup() {}

// The last failure of a socket call, as a Windows Sockets number.
inline int SocketLastError()
{
    return WinSockError(errno);
}

// A number the system gave otherwise (SO_ERROR, the event loop), as a Windows Sockets number.
inline int SocketErrorNumber(int systemError)
{
    return WinSockError(systemError);
}

// Not inherited by started programs, never blocking.
inline TSocket SocketOpen(int family, int type, int protocol)
{
    return ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
}

inline TSocket SocketAccept(TSocket listening)
{
    return ::accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
}

// 0, or the Windows Sockets number of the failure. An interrupted close has still closed.
inline int SocketClose(TSocket s)
{
    if (::close(s) != 0 && errno != EINTR)
        return SocketLastError();
    return 0;
}

inline int SocketRecv(TSocket s, char* buffer, int size)
{
    return static_cast<int>(::recv(s, buffer, static_cast<size_t>(size), 0));
}

// A peer that has reset must not end the process: never SIGPIPE.
inline int SocketSend(TSocket s, const char* data, int size, bool urgent)
{
    return static_cast<int>(::send(s, data, static_cast<size_t>(size), MSG_NOSIGNAL | (urgent ? MSG_OOB : 0)));
}

// How many bytes wait to be read: 0 and count, or the Windows Sockets number of the failure.
inline int SocketPendingBytes(TSocket s, int& count)
{
    count = 0;
    return ::ioctl(s, FIONREAD, &count) == 0 ? 0 : SocketLastError();
}

// Bytes handed to the socket that the peer has not acknowledged yet (sent or not); 0 when the
// system cannot say.
inline size_t SocketUnacknowledgedBytes(TSocket s)
{
    int count = 0;
    return ::ioctl(s, TIOCOUTQ, &count) == 0 && count > 0 ? static_cast<size_t>(count) : 0;
}

// What the system may hold of a connection's unsent data: this system tells what the peer has
// acknowledged (above), so its own sizing stays.
inline void SocketBoundSendBuffer(TSocket) {}

// Whether the peer has ended the connection with nothing left to read, for a connection whose
// reading is paused: the event loop reports that close on this system, so nobody needs to ask.
inline bool SocketPeerEnded(TSocket)
{
    return false;
}

// How: 0 receiving, 1 sending, 2 both (the same numbers on every system).
inline int SocketShutdown(TSocket s, int how)
{
    return ::shutdown(s, how);
}

inline int SocketSetOption(TSocket s, int level, int name, int value)
{
    return ::setsockopt(s, level, name, &value, sizeof value);
}

inline int SocketSetLinger(TSocket s, bool on, int seconds)
{
    linger li{};
    li.l_onoff = on ? 1 : 0;
    li.l_linger = seconds;
    return ::setsockopt(s, SOL_SOCKET, SO_LINGER, &li, sizeof li);
}

// A listening port whose old connections wait out TIME_WAIT can be bound again at once (a
// restart soon after clients were connected); a port another socket listens on is still refused.
inline void SocketSetListenOptions(TSocket s)
{
    SocketSetOption(s, SOL_SOCKET, SO_REUSEADDR, 1);
}

// A failed bind's code as reported: the system's own (10013 for a port below 1024 without the
// right to it, 10048 for a port in use).
inline int SocketBindError(int code)
{
    return code;
}

// The failure a socket has recorded (SO_ERROR), as a Windows Sockets number.
inline int SocketPendingError(TSocket s)
{
    int soError = 0;
    socklen_t len = sizeof soError;
    ::getsockopt(s, SOL_SOCKET, SO_ERROR, &soError, &len);
    return WinSockError(soError);
}

// After a failed accept, in how many milliseconds the listener asks the system again for the
// connections that wait (-1: the system reports them again by itself, as readiness here is
// level-triggered). An accept with no descriptor or memory left fails again at once while the
// connection waits: the listener stops asking for a while instead of spinning.
inline int SocketAcceptRetryMs(int code)
{
    return code == WSAEMFILE || code == WSAENOBUFS ? 100 : -1;
}
