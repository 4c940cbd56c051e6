#pragma once
// A web server for tests that answers each request with whatever bytes a test chooses (a
// redirect, an error page, a portal's page) or with nothing at all (a stalled server). It runs on
// a thread of its own, so a test's event loop may wait on it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

class TRawHttpServer {
public:
    // reply(path) gives the whole reply, status line included; empty means: never answer.
    explicit TRawHttpServer(std::function<std::string(const std::string& path)> reply) : FReply(std::move(reply))
    {
        FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(FListen, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
        ::listen(FListen, 16);
        socklen_t len = sizeof sin;
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&sin), &len);
        FPort = ntohs(sin.sin_port);
        FThread = std::thread([this] { Serve(); });
    }
    ~TRawHttpServer()
    {
        FStop = true;
        FThread.join();
        for (int fd : FHeld)
            ::close(fd);
        ::close(FListen);
    }
    int Port() const { return FPort; }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(FPort) + "/"; }
    int Requests() const { return FRequests; }

private:
    void Serve()
    {
        while (!FStop) {
            pollfd p{FListen, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            std::string request;
            char buf[4096];
            while (request.find("\r\n\r\n") == std::string::npos && !FStop) {
                pollfd c{fd, POLLIN, 0};
                if (::poll(&c, 1, 20) <= 0)
                    continue;
                ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                request.append(buf, static_cast<size_t>(n));
            }
            ++FRequests;
            size_t start = request.find(' ') + 1, end = request.find(' ', start);
            std::string reply = FReply(request.substr(start, end - start));
            if (reply.empty()) {
                FHeld.push_back(fd);  // stalled: neither answered nor closed
                continue;
            }
            ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
            ::close(fd);
        }
    }

    std::function<std::string(const std::string&)> FReply;
    int FListen = -1;
    int FPort = 0;
    std::atomic<bool> FStop{false};
    std::atomic<int> FRequests{0};
    std::vector<int> FHeld;
    std::thread FThread;
};

// An HTTP/1.0 reply with the given status line, content type and body.
inline std::string HttpReply(const std::string& status, const std::string& type, const std::string& body,
                             const std::string& extraHeaders = "")
{
    return "HTTP/1.0 " + status + "\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n" + extraHeaders + "\r\n" + body;
}
