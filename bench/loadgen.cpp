// Load generator: the same workloads against our messenger server and against Redis pub/sub
// (one PUBLISH to a channel with one subscriber is one relayed message), each run checking what
// it receives. Prints one table with the ratio ours/Redis.
//   loadgen --ours PORT PID --redis PORT PID [--only relay|relay-online|fan-out|connections] [--seconds 5]
//           [--connections 10000] [--online 10000]
//   loadgen --ours PORT PID --only churn [--online 15000] [--seconds 5]
// "churn" connects, logs in and leaves again and again beside that many users online (ours only).
// "relay-online" is the relay again with that many other users logged in and idle (Redis: as
// many idle subscribers, each on a channel of its own), all connected before the pairs.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::string;

int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

[[noreturn]] void Fail(const std::string& what)
{
    throw std::runtime_error(what);
}

// --- wire helpers --------------------------------------------------------------------------

Bytes U32(uint32_t v)
{
    Bytes b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return b;
}

uint32_t Get32(const Bytes& b, size_t at)
{
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<uint32_t>(static_cast<unsigned char>(b[at + i])) << (8 * i);
    return v;
}

Bytes Frame(uint32_t type, const Bytes& payload)
{
    return U32(type) + U32(static_cast<uint32_t>(payload.size())) + payload;
}

Bytes Resp(std::initializer_list<std::string> args)
{
    Bytes out = "*" + std::to_string(args.size()) + "\r\n";
    for (const auto& a : args)
        out += "$" + std::to_string(a.size()) + "\r\n" + a + "\r\n";
    return out;
}

// One RESP reply from the front of buf: its kind, integer and bulk items; 0 when incomplete.
struct TReply {
    char Kind = 0;
    int64_t Integer = 0;
    std::vector<std::string> Items;
};

size_t ParseLine(const Bytes& buf, size_t at, std::string& line)
{
    size_t end = buf.find("\r\n", at);
    if (end == Bytes::npos)
        return 0;
    line = buf.substr(at, end - at);
    return end + 2 - at;
}

size_t ParseResp(const Bytes& buf, size_t at, TReply& r)
{
    std::string line;
    size_t n = ParseLine(buf, at, line);
    if (!n || line.empty())
        return 0;
    r.Kind = line[0];
    if (r.Kind == '+' || r.Kind == '-')
        return n;
    if (r.Kind == ':') {
        r.Integer = std::stoll(line.substr(1));
        return n;
    }
    if (r.Kind != '*')
        Fail("unexpected reply " + line);
    long count = std::stol(line.substr(1));
    size_t used = n;
    for (long i = 0; i < count; ++i) {
        std::string head;
        size_t h = ParseLine(buf, at + used, head);
        if (!h)
            return 0;
        if (head[0] == ':') {
            r.Items.push_back(head.substr(1));
            used += h;
            continue;
        }
        long len = std::stol(head.substr(1));
        if (buf.size() < at + used + h + len + 2)
            return 0;
        r.Items.push_back(buf.substr(at + used + h, static_cast<size_t>(len)));
        used += h + len + 2;
    }
    return used;
}

// --- sockets -------------------------------------------------------------------------------

int Connect(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<uint16_t>(port));
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0)
        Fail(std::string("connect: ") + std::strerror(errno));
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

void SendAll(int fd, const Bytes& data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd p{fd, POLLOUT, 0};
                poll(&p, 1, 100);
                continue;
            }
            Fail("send failed");
        }
        done += static_cast<size_t>(n);
    }
}

Bytes ReadExactly(int fd, size_t n, int timeoutMs = 5000)
{
    Bytes out;
    int64_t end = NowNs() + int64_t(timeoutMs) * 1000000;
    char buf[4096];
    while (out.size() < n) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            ssize_t r = ::recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
            if (r <= 0)
                Fail("connection closed during set-up");
            out.append(buf, static_cast<size_t>(r));
        }
        if (NowNs() > end)
            Fail("timeout during set-up");
    }
    return out;
}

// One RESP reply read whole (set-up only).
TReply ReadResp(int fd, Bytes& buf)
{
    char tmp[4096];
    for (;;) {
        TReply r;
        if (size_t n = ParseResp(buf, 0, r)) {
            buf.erase(0, n);
            return r;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0)
            Fail("timeout waiting for Redis");
        ssize_t got = ::recv(fd, tmp, sizeof tmp, 0);
        if (got <= 0)
            Fail("Redis closed");
        buf.append(tmp, static_cast<size_t>(got));
    }
}

// --- process figures -----------------------------------------------------------------------

int64_t CpuTicks(int pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), {});
    size_t close = all.rfind(')');
    std::istringstream rest(all.substr(close + 2));
    std::string field;
    int64_t utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::stoll(field);
        if (i == 15)
            stime = std::stoll(field);
    }
    return utime + stime;
}

int64_t SelfCpuTicks()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    int64_t us = (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000LL + u.ru_utime.tv_usec + u.ru_stime.tv_usec;
    return us * sysconf(_SC_CLK_TCK) / 1000000;
}

int64_t RssKb(int pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stoll(line.substr(6));
    return 0;
}

struct TCpu {
    int Pid;
    int64_t Start, SelfStart, Wall;
    explicit TCpu(int pid) : Pid(pid), Start(CpuTicks(pid)), SelfStart(SelfCpuTicks()), Wall(NowNs()) {}
    std::pair<double, double> Shares() const
    {
        double seconds = double(NowNs() - Wall) / 1e9;
        double tck = double(sysconf(_SC_CLK_TCK));
        return {100.0 * double(CpuTicks(Pid) - Start) / tck / seconds,
                100.0 * double(SelfCpuTicks() - SelfStart) / tck / seconds};
    }
};

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(p * double(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

// --- the servers ---------------------------------------------------------------------------

enum class TKind { Ours, Redis };

struct TTarget {
    TKind Kind;
    int Port;
    int Pid;
    const char* Name() const { return Kind == TKind::Ours ? "ours" : "redis"; }
};

// A logged-in messenger client, or a Redis client (subscribed to channel when given).
int Client(const TTarget& t, uint32_t user, const std::string& channel = "")
{
    int fd = Connect(t.Port);
    if (t.Kind == TKind::Ours) {
        Bytes welcome = ReadExactly(fd, 12);
        if (Get32(welcome, 0) != 1 || Get32(welcome, 4) != 4)
            Fail("bad greeting");
        SendAll(fd, Frame(21, U32(user)));
        Bytes ok = ReadExactly(fd, 8);
        if (Get32(ok, 0) != 3 || Get32(ok, 4) != 0)
            Fail("bad login answer");
    } else if (!channel.empty()) {
        Bytes buf;
        SendAll(fd, Resp({"SUBSCRIBE", channel}));
        TReply r = ReadResp(fd, buf);
        if (r.Items.size() != 3 || r.Items[0] != "subscribe")
            Fail("bad subscribe answer");
    }
    return fd;
}

// Logged-in users who only stay connected (Redis: subscribers of channels nobody publishes to).
std::vector<int> IdleUsers(const TTarget& t, int count)
{
    std::vector<int> fds;
    fds.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        fds.push_back(Client(t, 100000 + static_cast<uint32_t>(i), "idle" + std::to_string(i)));
    return fds;
}

void CloseAll(std::vector<int>& fds)
{
    for (int f : fds)
        ::close(f);
    fds.clear();
}

void NonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Incoming messages, whatever the protocol: a messenger packet or a RESP reply.
struct TIncoming {
    uint32_t Type = 0;  // messenger packet type; for Redis 'M' message, 'I' integer
    Bytes Payload;      // messenger payload, or the Redis message's data
    int64_t Integer = 0;
};

// Cuts what has arrived on a connection into messages; false when one is incomplete.
bool NextIncoming(TKind kind, Bytes& in, size_t& at, TIncoming& msg)
{
    if (kind == TKind::Ours) {
        if (in.size() - at < 8)
            return false;
        uint32_t len = Get32(in, at + 4);
        if (in.size() - at < 8 + len)
            return false;
        msg.Type = Get32(in, at);
        msg.Payload = in.substr(at + 8, len);
        at += 8 + len;
        return true;
    }
    TReply r;
    size_t n = ParseResp(in, at, r);
    if (!n)
        return false;
    at += n;
    if (r.Kind == ':') {
        msg.Type = 'I';
        msg.Integer = r.Integer;
    } else if (r.Kind == '*' && r.Items.size() == 3 && r.Items[0] == "message") {
        msg.Type = 'M';
        msg.Payload = r.Items[2];
    } else {
        Fail("unexpected Redis reply");
    }
    return true;
}

struct TConn {
    int Fd = -1;
    Bytes In;
    Bytes Out;
    bool Sender = false;
    int Index = 0;
};

void Flush(TConn& c)
{
    while (!c.Out.empty()) {
        ssize_t n = ::send(c.Fd, c.Out.data(), c.Out.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        c.Out.erase(0, static_cast<size_t>(n));
    }
}

// Reads what is there; false when the peer closed.
bool Pull(TConn& c)
{
    char buf[65536];
    for (;;) {
        ssize_t n = ::recv(c.Fd, buf, sizeof buf, 0);
        if (n > 0) {
            c.In.append(buf, static_cast<size_t>(n));
            if (n < static_cast<ssize_t>(sizeof buf))
                return true;
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

// A message of `size` bytes, no NUL: send time, sequence number and pair, then padding.
Bytes Text(int64_t sentNs, uint32_t seq, uint32_t pair, size_t size)
{
    char head[64];
    int n = snprintf(head, sizeof head, "%016llx%08x%04x", static_cast<unsigned long long>(sentNs), seq, pair);
    Bytes t(head, static_cast<size_t>(n));
    t.resize(std::max(size, t.size()), 'x');
    return t;
}

struct TRelayResult {
    double PerSecond = 0, P50 = 0, P99 = 0, ServerCpu = 0, GenCpu = 0;
    long Errors = 0;
};

TRelayResult Relay(const TTarget& t, int pairs, int window, size_t size, double seconds)
{
    std::vector<TConn> conns(2 * static_cast<size_t>(pairs));
    for (int i = 0; i < pairs; ++i) {
        TConn& r = conns[2 * i];
        TConn& s = conns[2 * i + 1];
        r.Fd = Client(t, 20000 + i, "ch" + std::to_string(i));
        s.Fd = Client(t, 10000 + i);
        r.Index = s.Index = i;
        s.Sender = true;
    }
    int ep = epoll_create1(0);
    for (size_t k = 0; k < conns.size(); ++k) {
        NonBlocking(conns[k].Fd);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = k;
        epoll_ctl(ep, EPOLL_CTL_ADD, conns[k].Fd, &ev);
    }
    std::vector<uint32_t> nextSeq(pairs, 0), expected(pairs, 0), acked(pairs, 0);
    std::vector<int> inflight(pairs, 0);
    std::vector<double> latencies;
    latencies.reserve(4000000);
    long errors = 0, delivered = 0;
    auto send = [&](int i) {
        TConn& s = conns[2 * i + 1];
        Bytes text = Text(NowNs(), nextSeq[i]++, static_cast<uint32_t>(i), size);
        if (t.Kind == TKind::Ours)
            s.Out += Frame(11, U32(20000 + i) + U32(nextSeq[i] - 1) + U32(0) + text + Bytes(1, '\0'));
        else
            s.Out += Resp({"PUBLISH", "ch" + std::to_string(i), text});
        ++inflight[i];
    };
    TCpu cpu(t.Pid);
    int64_t start = NowNs(), stopAt = start + int64_t(seconds * 1e9);
    for (int i = 0; i < pairs; ++i) {
        for (int w = 0; w < window; ++w)
            send(i);
        Flush(conns[2 * i + 1]);
    }
    bool sending = true;
    int64_t drainUntil = 0;
    epoll_event events[512];
    for (;;) {
        int64_t now = NowNs();
        if (sending && now >= stopAt) {
            sending = false;
            drainUntil = now + 2000000000LL;
        }
        if (!sending) {
            bool done = true;
            for (int i = 0; i < pairs; ++i)
                done &= inflight[i] == 0 && expected[i] == nextSeq[i];
            if (done || now > drainUntil)
                break;
        }
        int n = epoll_wait(ep, events, 512, 1);
        for (int e = 0; e < n; ++e) {
            TConn& c = conns[events[e].data.u64];
            if (!Pull(c))
                Fail("server closed a connection");
            size_t at = 0;
            TIncoming m;
            while (NextIncoming(t.Kind, c.In, at, m)) {
                int i = c.Index;
                if (c.Sender) {
                    bool ack = t.Kind == TKind::Ours ? m.Type == 5 : m.Type == 'I';
                    if (!ack)
                        continue;  // ours: nothing else is expected; counted below if wrong
                    if (t.Kind == TKind::Ours &&
                        (Get32(m.Payload, 0) != 2 || Get32(m.Payload, 4) != uint32_t(10000 + i) ||
                         Get32(m.Payload, 8) != acked[i]))
                        ++errors;
                    if (t.Kind == TKind::Redis && m.Integer != 1)
                        ++errors;
                    ++acked[i];
                    --inflight[i];
                    if (sending)
                        send(i);
                } else {
                    Bytes text;
                    if (t.Kind == TKind::Ours) {
                        if (m.Type != 10 || m.Payload.size() < 17 || Get32(m.Payload, 0) != uint32_t(10000 + i)) {
                            ++errors;
                            continue;
                        }
                        text = m.Payload.substr(16, m.Payload.size() - 17);
                    } else {
                        text = m.Payload;
                    }
                    unsigned long long sent = 0;
                    unsigned seq = 0, pair = 0;
                    if (text.size() != size || sscanf(text.c_str(), "%16llx%8x%4x", &sent, &seq, &pair) != 3 ||
                        seq != expected[i] || pair != unsigned(i)) {
                        ++errors;  // lost, duplicated, reordered or damaged
                        expected[i] = seq + 1;
                        continue;
                    }
                    ++expected[i];
                    int64_t arrived = NowNs();
                    if (arrived <= stopAt) {
                        ++delivered;
                        latencies.push_back(double(arrived - int64_t(sent)) / 1000.0);
                    }
                }
            }
            c.In.erase(0, at);
        }
        for (int i = 0; i < pairs; ++i)
            if (!conns[2 * i + 1].Out.empty())
                Flush(conns[2 * i + 1]);
    }
    TRelayResult res;
    auto [server, gen] = cpu.Shares();
    res.ServerCpu = server;
    res.GenCpu = gen;
    res.PerSecond = double(delivered) / seconds;
    res.P50 = Percentile(latencies, 0.50);
    res.P99 = Percentile(latencies, 0.99);
    for (int i = 0; i < pairs; ++i)
        if (expected[i] != nextSeq[i])
            errors += nextSeq[i] - expected[i];
    res.Errors = errors;
    for (auto& c : conns)
        ::close(c.Fd);
    ::close(ep);
    return res;
}

struct TFanResult {
    double Median = 0, P99 = 0, ServerCpu = 0, GenCpu = 0;
    long Errors = 0;
};

TFanResult FanOut(const TTarget& t, int receivers, int rounds)
{
    std::vector<TConn> conns(static_cast<size_t>(receivers));
    for (int i = 0; i < receivers; ++i) {
        conns[i].Fd = Client(t, 30000 + i, "fan");
        NonBlocking(conns[i].Fd);
    }
    TConn sender;
    sender.Fd = Client(t, 1);
    NonBlocking(sender.Fd);
    int ep = epoll_create1(0);
    for (int i = 0; i < receivers; ++i) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = static_cast<uint64_t>(i);
        epoll_ctl(ep, EPOLL_CTL_ADD, conns[i].Fd, &ev);
    }
    std::vector<double> times;
    long errors = 0;
    TCpu cpu(t.Pid);
    epoll_event events[1024];
    for (int r = 0; r < rounds; ++r) {
        char desc[16];
        snprintf(desc, sizeof desc, "r%04d", r);
        int64_t t0 = NowNs();
        if (t.Kind == TKind::Ours)
            sender.Out = Frame(2, U32(2) + desc);
        else
            sender.Out = Resp({"PUBLISH", "fan", desc});
        Flush(sender);
        int got = 0;
        int64_t deadline = t0 + 5000000000LL;
        while (got < receivers && NowNs() < deadline) {
            int n = epoll_wait(ep, events, 1024, 5);
            for (int e = 0; e < n; ++e) {
                TConn& c = conns[events[e].data.u64];
                Pull(c);
                size_t at = 0;
                TIncoming m;
                while (NextIncoming(t.Kind, c.In, at, m)) {
                    Bytes d = t.Kind == TKind::Ours ? (m.Type == 15 && m.Payload.size() >= 14 && Get32(m.Payload, 0) == 1
                                                           ? m.Payload.substr(14)
                                                           : Bytes("?"))
                                                    : m.Payload;
                    if (d == desc)
                        ++got;
                    else
                        ++errors;
                }
                c.In.erase(0, at);
            }
        }
        times.push_back(double(NowNs() - t0) / 1000.0);
        errors += receivers - got;
        Pull(sender);  // Redis answers the publisher with the count
        sender.In.clear();
    }
    TFanResult res;
    auto [server, gen] = cpu.Shares();
    res.ServerCpu = server;
    res.GenCpu = gen;
    res.Median = Percentile(times, 0.5);
    res.P99 = Percentile(times, 0.99);
    res.Errors = errors;
    for (auto& c : conns)
        ::close(c.Fd);
    ::close(sender.Fd);
    ::close(ep);
    return res;
}

struct TConnResult {
    double BytesPerConn = 0, NewClientUs = 0;
    long Errors = 0;
};

TConnResult Connections(const TTarget& t, int count)
{
    usleep(200000);
    int64_t before = RssKb(t.Pid);
    std::vector<int> fds;
    fds.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        int fd = Client(t, 40000 + static_cast<uint32_t>(i));
        if (t.Kind == TKind::Redis) {
            Bytes buf;
            SendAll(fd, Resp({"PING"}));
            if (ReadResp(fd, buf).Kind != '+')
                Fail("no PONG");
        }
        fds.push_back(fd);
    }
    usleep(500000);
    int64_t after = RssKb(t.Pid);
    TConnResult res;
    res.BytesPerConn = double(after - before) * 1024.0 / count;
    int64_t t0 = NowNs();
    int fd = Connect(t.Port);
    if (t.Kind == TKind::Ours) {
        if (Get32(ReadExactly(fd, 12), 0) != 1)
            ++res.Errors;
    } else {
        Bytes buf;
        SendAll(fd, Resp({"PING"}));
        if (ReadResp(fd, buf).Kind != '+')
            ++res.Errors;
    }
    res.NewClientUs = double(NowNs() - t0) / 1000.0;
    ::close(fd);
    for (int f : fds)
        ::close(f);
    usleep(300000);
    return res;
}

// Connect/close churn beside users who stay: the cost of a connection's arrival and departure
// while the client list is long. Each new client logs in (as a user not otherwise online) and
// leaves at once. Our server only.
struct TChurnResult {
    double PerSecond = 0;
    double ServerCpuUsPerConn = 0;
};

TChurnResult Churn(const TTarget& t, int online, double seconds)
{
    std::vector<int> idle = IdleUsers(t, online);
    usleep(200000);
    int64_t cpuStart = CpuTicks(t.Pid);
    int64_t start = NowNs(), end = start + static_cast<int64_t>(seconds * 1e9);
    long done = 0;
    while (NowNs() < end) {
        int fd = Client(t, 900000);
        ::close(fd);
        ++done;
    }
    double wall = double(NowNs() - start) / 1e9;
    double cpuUs = double(CpuTicks(t.Pid) - cpuStart) * 1e6 / double(sysconf(_SC_CLK_TCK));
    CloseAll(idle);
    TChurnResult res;
    res.PerSecond = double(done) / wall;
    res.ServerCpuUsPerConn = done ? cpuUs / double(done) : 0;
    return res;
}

// --- the table -----------------------------------------------------------------------------

struct TRow {
    std::string Workload, Metric;
    bool LowerIsBetter;
    std::vector<double> Ours, Redis;
};

}  // namespace

int main(int argc, char** argv)
{
    TTarget ours{TKind::Ours, 0, 0}, redis{TKind::Redis, 0, 0};
    std::string only;
    double seconds = 5;
    int connections = 10000;
    int online = 10000;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--ours" && i + 2 < argc) {
            ours.Port = atoi(argv[++i]);
            ours.Pid = atoi(argv[++i]);
        } else if (a == "--redis" && i + 2 < argc) {
            redis.Port = atoi(argv[++i]);
            redis.Pid = atoi(argv[++i]);
        } else if (a == "--only" && i + 1 < argc) {
            only = argv[++i];
        } else if (a == "--seconds" && i + 1 < argc) {
            seconds = atof(argv[++i]);
        } else if (a == "--connections" && i + 1 < argc) {
            connections = atoi(argv[++i]);
        } else if (a == "--online" && i + 1 < argc) {
            online = atoi(argv[++i]);
        } else {
            fprintf(stderr, "usage: loadgen --ours PORT PID [--redis PORT PID] [--only relay|relay-online|fan-out|connections|churn] [--seconds S] [--connections N] [--online N]\n");
            return 2;
        }
    }
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    lim.rlim_cur = lim.rlim_max;
    setrlimit(RLIMIT_NOFILE, &lim);

    if (only == "churn") {
        try {
            TChurnResult c = Churn(ours, online, seconds);
            printf("churn with %d users online: %.0f connections/s, server CPU %.1f us per connection\n", online,
                   c.PerSecond, c.ServerCpuUsPerConn);
        } catch (const std::exception& e) {
            fprintf(stderr, "loadgen: %s\n", e.what());
            return 1;
        }
        return 0;
    }

    std::vector<TRow> rows = {
        {"relay", "messages/s", false, {}, {}},      {"relay", "latency p50 us", true, {}, {}},
        {"relay", "latency p99 us", true, {}, {}},   {"relay1", "latency p50 us", true, {}, {}},
        {"fan-out", "median us", true, {}, {}},      {"fan-out", "p99 us", true, {}, {}},
        {"connections", "bytes/conn", true, {}, {}}, {"connections", "new client us", true, {}, {}},
        {"relay-online", "messages/s", false, {}, {}}, {"relay-online", "latency p50 us", true, {}, {}},
        {"relay-online", "latency p99 us", true, {}, {}},
    };
    std::map<std::string, std::vector<std::string>> cpuNotes;
    long errors = 0;
    try {
        std::vector<TTarget> order;
        for (int run = 0; run < 2; ++run) {
            order.push_back(ours);
            if (redis.Port)
                order.push_back(redis);
        }
        int oursRuns = 0, redisRuns = 0;
        for (const TTarget& t : order) {
            auto put = [&](size_t row, double v) {
                (t.Kind == TKind::Ours ? rows[row].Ours : rows[row].Redis).push_back(v);
            };
            char note[160];
            // Memory first, on a server that has not held (and freed) other clients yet: a
            // later run would reuse what earlier workloads freed and show next to nothing.
            bool first = (t.Kind == TKind::Ours ? oursRuns++ : redisRuns++) == 0;
            if ((only.empty() && first) || only == "connections") {
                TConnResult c = Connections(t, connections);
                put(6, c.BytesPerConn);
                put(7, c.NewClientUs);
                errors += c.Errors;
            }
            if (only.empty() || only == "relay") {
                TRelayResult r = Relay(t, 50, 16, 64, seconds);
                put(0, r.PerSecond);
                put(1, r.P50);
                put(2, r.P99);
                errors += r.Errors;
                snprintf(note, sizeof note, "%s: server %.0f%%, generator %.0f%%, errors %ld", t.Name(), r.ServerCpu, r.GenCpu, r.Errors);
                cpuNotes["relay"].push_back(note);
            }
            if (only.empty() || only == "relay-online") {
                std::vector<int> idle = IdleUsers(t, online);
                usleep(200000);
                TRelayResult r = Relay(t, 50, 16, 64, seconds);
                CloseAll(idle);
                put(8, r.PerSecond);
                put(9, r.P50);
                put(10, r.P99);
                errors += r.Errors;
                snprintf(note, sizeof note, "%s: server %.0f%%, generator %.0f%%, errors %ld", t.Name(), r.ServerCpu, r.GenCpu, r.Errors);
                cpuNotes["relay-online"].push_back(note);
                usleep(300000);
            }
            if (only.empty()) {
                TRelayResult one = Relay(t, 1, 1, 64, seconds / 2);
                put(3, one.P50);
                errors += one.Errors;
                snprintf(note, sizeof note, "%s: server %.0f%%, generator %.0f%%, errors %ld", t.Name(), one.ServerCpu, one.GenCpu, one.Errors);
                cpuNotes["relay1"].push_back(note);
            }
            if (!only.empty() && only != "fan-out")
                continue;
            TFanResult f = FanOut(t, 1000, 50);
            put(4, f.Median);
            put(5, f.P99);
            errors += f.Errors;
            snprintf(note, sizeof note, "%s: server %.0f%%, generator %.0f%%, errors %ld", t.Name(), f.ServerCpu, f.GenCpu, f.Errors);
            cpuNotes["fan-out"].push_back(note);
        }
    } catch (const std::exception& e) {
        fprintf(stderr, "loadgen: %s\n", e.what());
        return 1;
    }
    auto mean = [](const std::vector<double>& v) {
        double s = 0;
        for (double x : v)
            s += x;
        return v.empty() ? 0.0 : s / double(v.size());
    };
    printf("%-12s %-16s %12s %12s %12s   (the mean of two runs: ours, Redis, ours, Redis; connections: first run)\n", "workload", "metric",
           "ours", "redis", "ours/redis");
    for (size_t index : {0, 1, 2, 8, 9, 10, 3, 4, 5, 6, 7}) {
        const TRow& row = rows[index];
        if (row.Ours.empty())
            continue;
        double o = mean(row.Ours), r = mean(row.Redis);
        if (row.Redis.empty())
            printf("%-12s %-16s %12.1f %12s %12s\n", row.Workload.c_str(), row.Metric.c_str(), o, "-", "-");
        else
            printf("%-12s %-16s %12.1f %12.1f %11.2fx\n", row.Workload.c_str(), row.Metric.c_str(), o, r, r ? o / r : 0);
    }
    if (!rows[0].Ours.empty() && !rows[8].Ours.empty())
        printf("\nrelay with %d other users online: %.2fx our plain relay (Redis: %.2fx its plain relay)\n", online,
               mean(rows[8].Ours) / mean(rows[0].Ours),
               rows[0].Redis.empty() ? 0.0 : mean(rows[8].Redis) / mean(rows[0].Redis));
    if (!rows[6].Ours.empty()) {
        printf("\nbytes/conn per run, ours:");
        for (double v : rows[6].Ours)
            printf(" %.1f", v);
        printf("   redis:");
        for (double v : rows[6].Redis)
            printf(" %.1f", v);
        printf("\n");
    }
    printf("\nCPU share per run (100%% = one core):\n");
    for (auto& [w, notes] : cpuNotes)
        for (auto& n : notes)
            printf("  %-8s %s\n", w.c_str(), n.c_str());
    printf("\nchecks: %ld errors (lost, duplicated, reordered or damaged messages)\n", errors);
    return errors == 0 ? 0 : 1;
}
