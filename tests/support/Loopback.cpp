#include "support/Loopback.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "net/WSocket.h"
#include "support/TestPlatform.h"

bool RunUntil(const std::function<bool()>& pred, int timeoutMs)
{
    int64_t end = MonotonicMs() + timeoutMs;
    while (!pred()) {
        if (MonotonicMs() >= end)
            return pred();
        TEventLoop::Default().ProcessEvents(5);
    }
    return true;
}

void RunFor(int ms)
{
    int64_t end = MonotonicMs() + ms;
    while (MonotonicMs() < end)
        TEventLoop::Default().ProcessEvents(5);
}

int BoundPort(TSocket s)
{
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&sin), &len) != 0)
        return -1;
    return ntohs(sin.sin_port);
}

int FreePort()
{
    TWSocket probe;
    probe.SetAddr("127.0.0.1");
    probe.SetPort("0");
    probe.Listen();
    return BoundPort(probe);
}

int BoundPort(const TCustomWSocket& socket)
{
    return BoundPort(socket.Handle());
}

int HoldAnyPort(TCustomWSocket& holder)
{
    holder.SetAddr("0.0.0.0");
    holder.SetPort("0");
    holder.Listen();
    return BoundPort(holder);
}

TPeer::~TPeer()
{
    Close();
}

bool Connected(TPeer& peer, int port, int timeoutMs)
{
    for (int waited = 0;; waited += 20) {
        if (peer.Connect(port))
            return true;
        if (waited >= timeoutMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool TPeer::Connect(int port)
{
    Close();
    FEnded = false;
    FPending.clear();
    FSocket = SocketOpen(AF_INET, SOCK_STREAM, 0);
    if (FSocket == INVALID_SOCKET)
        return false;
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<uint16_t>(port));
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Never blocking: a connect in progress is waited for here, without the loop (the kernel
    // completes it on loopback whether or not the server accepts).
    if (::connect(FSocket, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) {
        int error = SocketLastError();
        if (error != WSAEWOULDBLOCK && error != WSAEINPROGRESS)
            return false;
        if (!WaitWritable(FSocket, 5000) || SocketPendingError(FSocket) != 0)
            return false;
    }
    SocketSetOption(FSocket, IPPROTO_TCP, TCP_NODELAY, 1);
    return true;
}

int TPeer::SendNow(const char* data, size_t size)
{
    int n = SocketSend(FSocket, data, static_cast<int>(std::min<size_t>(size, 1 << 30)), false);
    if (n >= 0)
        return n;
    return SocketLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

int TPeer::ReceiveNow(char* buffer, int size)
{
    int n = SocketRecv(FSocket, buffer, size);
    if (n >= 0)
        return n;
    return SocketLastError() == WSAEWOULDBLOCK ? -1 : 0;
}

void TPeer::SetReceiveBuffer(int bytes)
{
    SocketSetOption(FSocket, SOL_SOCKET, SO_RCVBUF, bytes);
}

void TPeer::Send(ByteView bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        int n = SendNow(bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n == 0)
            TEventLoop::Default().ProcessEvents(5);  // let the server drain us
        else
            return;
    }
}

bool TPeer::Pull()
{
    char buf[65536];
    int n = ReceiveNow(buf, sizeof buf);
    if (n > 0)
        FPending.append(buf, static_cast<size_t>(n));
    else if (n == 0)
        FEnded = true;
    return !FEnded;
}

ByteString TPeer::ReadFor(int ms)
{
    int64_t end = MonotonicMs() + ms;
    while (MonotonicMs() < end && !FEnded) {
        TEventLoop::Default().ProcessEvents(2);
        Pull();
    }
    Pull();
    ByteString out;
    out.swap(FPending);
    return out;
}

ByteString TPeer::ReadExactly(size_t n, int timeoutMs)
{
    int64_t end = MonotonicMs() + timeoutMs;
    while (FPending.size() < n && !FEnded && MonotonicMs() < end) {
        Pull();
        if (FPending.size() < n)
            TEventLoop::Default().ProcessEvents(2);
    }
    ByteString out = FPending.substr(0, n);
    FPending.erase(0, out.size());
    return out;
}

bool TPeer::WaitClosed(int timeoutMs)
{
    int64_t end = MonotonicMs() + timeoutMs;
    while (!FEnded && MonotonicMs() < end) {
        TEventLoop::Default().ProcessEvents(2);
        Pull();
    }
    return FEnded;
}

void TPeer::Close()
{
    if (FSocket != INVALID_SOCKET)
        SocketClose(FSocket);
    FSocket = INVALID_SOCKET;
}

void TPeer::Reset()
{
    if (FSocket == INVALID_SOCKET)
        return;
    SocketSetLinger(FSocket, true, 0);
    Close();
}

void TPeer::ShutdownWrite()
{
    SocketShutdown(FSocket, 1);
}

bool SystemReportsResets()
{
    static const bool reported = [] {
        TSocket listener = SocketOpen(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
        ::listen(listener, 1);
        TPeer peer(BoundPort(listener));
        TSocket accepted = WaitReadable(listener, 2000) ? SocketAccept(listener) : INVALID_SOCKET;
        peer.Reset();
        char byte;
        bool resetSeen = accepted != INVALID_SOCKET && WaitReadable(accepted, 2000) &&
                         SocketRecv(accepted, &byte, 1) < 0 && SocketLastError() == WSAECONNRESET;
        if (accepted != INVALID_SOCKET)
            SocketClose(accepted);
        SocketClose(listener);
        return resetSeen;
    }();
    return reported;
}

std::string Hex(ByteView bytes)
{
    std::string out;
    char two[4];
    for (unsigned char c : bytes) {
        std::snprintf(two, sizeof two, "%02X ", c);
        out += two;
    }
    if (!out.empty())
        out.pop_back();
    return out;
}
