#include "support/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "net/WSocket.h"

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

int BoundPort(int fd)
{
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) != 0)
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

TPeer::~TPeer()
{
    Close();
}

bool TPeer::Connect(int port)
{
    Close();
    FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<uint16_t>(port));
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(FFd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0)
        return false;
    int one = 1;
    setsockopt(FFd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    FEnded = false;
    FPending.clear();
    return true;
}

void TPeer::Send(ByteView bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(FFd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            TEventLoop::Default().ProcessEvents(5);  // let the server drain us
        } else {
            return;
        }
    }
}

bool TPeer::Pull()
{
    char buf[65536];
    ssize_t n = ::recv(FFd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
        FPending.append(buf, static_cast<size_t>(n));
        return true;
    }
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
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
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
}

void TPeer::Reset()
{
    if (FFd < 0)
        return;
    linger li{1, 0};
    setsockopt(FFd, SOL_SOCKET, SO_LINGER, &li, sizeof li);
    Close();
}

void TPeer::ShutdownWrite()
{
    ::shutdown(FFd, SHUT_WR);
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
