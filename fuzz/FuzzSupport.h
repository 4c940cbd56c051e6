#pragma once
// Shared by the fuzz targets: a log that only counts, loopback helpers and loop pumping.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/ActivityLog.h"
#include "net/EventLoop.h"
#include "net/WSocket.h"

struct TCountingLog : TActivityLog {
    size_t Lines = 0;
    void Append(ByteView) override { ++Lines; }
    void SetColour(TLogColour) override {}
};

inline int LocalPort(const TCustomWSocket& s)
{
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    getsockname(s.Handle(), reinterpret_cast<sockaddr*>(&sin), &len);
    return ntohs(sin.sin_port);
}

inline int ConnectTo(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<uint16_t>(port));
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) {
        ::close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// Reads and forgets whatever the server has sent; false once the server has closed.
inline bool Drain(int fd)
{
    char buf[65536];
    for (;;) {
        ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0)
            continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

inline void Pump(int rounds)
{
    for (int i = 0; i < rounds; ++i)
        TEventLoop::Default().ProcessEvents(0);
}
