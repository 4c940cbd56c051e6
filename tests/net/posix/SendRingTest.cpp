// The round's sends through the io_uring ring give each send the outcome the plain call gives
// (bytes taken, "would block", the peer's reset, a descriptor that is no socket), so that the
// socket layer cannot tell the two apart; and the loop takes the ring only where it is asked to.
#include <gtest/gtest.h>
#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "SendRing.h"
#include "support/Loopback.h"

namespace {

// A connected pair over loopback: Ours sends, Theirs is the peer.
struct TPair {
    TSocket Ours = INVALID_SOCKET;
    TSocket Theirs = INVALID_SOCKET;

    TPair()
    {
        TSocket listener = SocketOpen(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
        ::listen(listener, 1);
        socklen_t len = sizeof sin;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&sin), &len);
        Theirs = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(Theirs, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
        for (int i = 0; i < 200 && Ours == INVALID_SOCKET; ++i) {
            Ours = SocketAccept(listener);
            if (Ours == INVALID_SOCKET)
                ::usleep(1000);
        }
        SocketClose(listener);
    }
    ~TPair()
    {
        if (Ours != INVALID_SOCKET)
            SocketClose(Ours);
        if (Theirs != INVALID_SOCKET)
            SocketClose(Theirs);
    }
    // Fills the socket with plain sends until the system says it would block, with buffers of
    // a fixed size on both sides (the system would otherwise grow them meanwhile).
    void Fill()
    {
        SocketSetOption(Ours, SOL_SOCKET, SO_SNDBUF, 16 * 1024);
        SocketSetOption(Theirs, SOL_SOCKET, SO_RCVBUF, 16 * 1024);
        std::string chunk(64 * 1024, 'f');
        for (int pass = 0; pass < 2; ++pass) {
            while (SocketSend(Ours, chunk.data(), static_cast<int>(chunk.size()), false) > 0) {
            }
            ::usleep(20000);  // what was in flight has been taken
        }
    }
    void ResetPeer()
    {
        SocketSetLinger(Theirs, true, 0);
        SocketClose(Theirs);
        Theirs = INVALID_SOCKET;
        ::usleep(20000);
    }
    std::string ReadAll(size_t n)
    {
        std::string got;
        char buf[4096];
        while (got.size() < n) {
            ssize_t r = ::recv(Theirs, buf, sizeof buf, 0);
            if (r <= 0)
                break;
            got.append(buf, static_cast<size_t>(r));
        }
        return got;
    }
};

TGatheredSend SendOf(TSocket fd, const std::string& bytes)
{
    TGatheredSend s;
    s.Fd = fd;
    s.Data = bytes.data();
    s.Len = static_cast<int>(bytes.size());
    return s;
}

// The outcome of the plain call, as the ring reports it.
std::pair<int, int> Plain(TSocket fd, const std::string& bytes)
{
    int n = SocketSend(fd, bytes.data(), static_cast<int>(bytes.size()), false);
    return {n < 0 ? -1 : n, n < 0 ? errno : 0};
}

class EnvironmentSetting {
public:
    explicit EnvironmentSetting(const char* name) : Name(name)
    {
        if (const char* v = std::getenv(name))
            Old = v, Had = true;
    }
    ~EnvironmentSetting()
    {
        if (Had)
            ::setenv(Name, Old.c_str(), 1);
        else
            ::unsetenv(Name);
    }

private:
    const char* Name;
    std::string Old;
    bool Had = false;
};

}  // namespace

TEST(SendRing, EachSendHasThePlainCallsOutcome)
{
    auto ring = TSendRing::Open(8);
    if (!ring)
        GTEST_SKIP() << "this system gives no io_uring ring";
    // Twins: the same situation made twice, one sent through the ring, one with the plain call.
    TPair fine, full, fullTwin, reset, resetTwin, partial;
    full.Fill();
    fullTwin.Fill();
    reset.ResetPeer();
    resetTwin.ResetPeer();
    SocketSetOption(partial.Theirs, SOL_SOCKET, SO_RCVBUF, 4096);
    SocketSetOption(partial.Ours, SOL_SOCKET, SO_SNDBUF, 4096);
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_NONBLOCK), 0);
    int closedFd = ::dup(pipeFds[0]);
    ::close(closedFd);

    std::string small = "hello";
    std::string big(4 * 1024 * 1024, 'b');
    std::vector<TGatheredSend> sends{SendOf(fine.Ours, small), SendOf(full.Ours, small), SendOf(reset.Ours, small),
                                     SendOf(partial.Ours, big), SendOf(pipeFds[1], small), SendOf(closedFd, small)};
    ring->SendAll(sends.data(), sends.size());

    EXPECT_EQ(sends[0].Result, 5);
    EXPECT_EQ(fine.ReadAll(5), "hello");
    EXPECT_EQ(std::make_pair(sends[1].Result, sends[1].Error), Plain(fullTwin.Ours, small));
    EXPECT_EQ(sends[1].Error, EAGAIN);
    EXPECT_EQ(std::make_pair(sends[2].Result, sends[2].Error), Plain(resetTwin.Ours, small));
    EXPECT_EQ(sends[2].Result, -1);
    EXPECT_GT(sends[3].Result, 0);  // part of it, never waited for
    EXPECT_LT(sends[3].Result, static_cast<int>(big.size()));
    EXPECT_EQ(std::make_pair(sends[4].Result, sends[4].Error), Plain(pipeFds[1], small));
    EXPECT_EQ(sends[4].Error, ENOTSOCK);
    EXPECT_EQ(std::make_pair(sends[5].Result, sends[5].Error), Plain(closedFd, small));
    EXPECT_EQ(sends[5].Error, EBADF);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

TEST(SendRing, MoreSendsThanTheRingHoldsAllGoInOrder)
{
    auto ring = TSendRing::Open(4);
    if (!ring)
        GTEST_SKIP() << "this system gives no io_uring ring";
    std::vector<TPair> pairs(11);
    std::vector<std::string> bytes;
    for (size_t i = 0; i < pairs.size(); ++i)
        bytes.push_back("message " + std::to_string(i));
    // Each connection twice in the batch's order, one ring full after another: its two pieces
    // arrive in that order.
    std::vector<TGatheredSend> sends;
    for (int round = 0; round < 2; ++round)
        for (size_t i = 0; i < pairs.size(); ++i)
            sends.push_back(SendOf(pairs[i].Ours, bytes[i]));
    ring->SendAll(sends.data(), sends.size());
    for (auto& s : sends)
        EXPECT_EQ(s.Result, s.Len);
    for (size_t i = 0; i < pairs.size(); ++i)
        EXPECT_EQ(pairs[i].ReadAll(2 * bytes[i].size()), bytes[i] + bytes[i]);
}

TEST(SendRing, TheLoopTakesTheRingUnlessAskedNotTo)
{
    EnvironmentSetting keep("TZZ_EVENT_BACKEND");
    bool available = TSendRing::Open(8) != nullptr;
    ::unsetenv("TZZ_EVENT_BACKEND");
    EXPECT_STREQ(TEventLoop().BackendName(), available ? "io_uring" : "epoll");
    ::setenv("TZZ_EVENT_BACKEND", "io_uring", 1);
    EXPECT_STREQ(TEventLoop().BackendName(), available ? "io_uring" : "epoll");
    ::setenv("TZZ_EVENT_BACKEND", "epoll", 1);
    EXPECT_STREQ(TEventLoop().BackendName(), "epoll");
}
