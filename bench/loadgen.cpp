// Load generator: the same workloads against our messenger server and the message servers a user
// could pick instead: Redis pub/sub (one PUBLISH to a channel with one subscriber is one relayed
// message), an MQTT 3.1.1 broker at QoS 0 and a NATS server. Every run checks what it receives.
// Prints one table with a column per server and the ratios ours/each.
//   loadgen --ours PORT PID [--redis PORT PID] [--mosquitto PORT PID] [--nats PORT PID]
//           [--only relay|relay-online|relay1|fan-out|connections] [--seconds 5]
//           [--connections 10000] [--online 10000]
//   loadgen --ours PORT PID --only churn [--online 15000] [--seconds 5]
// "churn" connects, logs in and leaves again and again beside that many users online (ours only).
// "relay-online" is the relay again with that many other users logged in and idle (the others:
// as many idle subscribers, each on a topic of its own), all connected before the pairs.
#include "LoadgenWire.h"

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
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace loadgen;

int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

[[noreturn]] void Fail(const std::string& what)
{
    throw std::runtime_error(what);
}

// --- our wire and RESP ---------------------------------------------------------------------

void AppendU32(Bytes& out, uint32_t v)
{
    char b[4];
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    out.append(b, 4);
}

Bytes U32(uint32_t v)
{
    Bytes b;
    AppendU32(b, v);
    return b;
}

uint32_t Get32(std::string_view b, size_t at)
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

// The largest packet taken from our server: the workloads' are under 100 bytes.
constexpr uint32_t OursMaxPacket = 1 << 20;

void AppendResp(Bytes& out, std::initializer_list<std::string_view> args)
{
    out += '*';
    out += std::to_string(args.size());
    out += "\r\n";
    for (auto a : args) {
        out += '$';
        out += std::to_string(a.size());
        out += "\r\n";
        out.append(a);
        out += "\r\n";
    }
}

Bytes Resp(std::initializer_list<std::string_view> args)
{
    Bytes out;
    AppendResp(out, args);
    return out;
}

// One RESP reply from in[at...]: its kind, integer, and up to three items (views into `in`).
struct TReply {
    char Kind = 0;
    int64_t Integer = 0;
    std::array<std::string_view, 3> Items;
    size_t Count = 0;
};

int64_t ParseInt(std::string_view s)
{
    bool neg = !s.empty() && s[0] == '-';
    int64_t v = 0;
    for (size_t i = neg ? 1 : 0; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9')
            Fail("bad number in a reply");
        v = v * 10 + (s[i] - '0');
    }
    return neg ? -v : v;
}

// The bytes used, 0 when the reply is not complete yet.
size_t ParseResp(std::string_view in, size_t at, TReply& r)
{
    auto line = [&](size_t from, std::string_view& l) -> size_t {
        size_t end = in.find("\r\n", from);
        if (end == std::string_view::npos)
            return 0;
        l = in.substr(from, end - from);
        return end + 2 - from;
    };
    std::string_view head;
    size_t used = line(at, head);
    if (!used || head.empty())
        return 0;
    r.Kind = head[0];
    r.Count = 0;
    if (r.Kind == '+' || r.Kind == '-')
        return used;
    if (r.Kind == ':') {
        r.Integer = ParseInt(head.substr(1));
        return used;
    }
    if (r.Kind != '*')
        Fail("unexpected reply " + Bytes(head));
    int64_t count = ParseInt(head.substr(1));
    if (count < 0 || count > int64_t(r.Items.size()))
        Fail("unexpected reply " + Bytes(head));
    for (int64_t i = 0; i < count; ++i) {
        std::string_view item;
        size_t h = line(at + used, item);
        if (!h)
            return 0;
        if (item.empty())
            Fail("empty RESP item");
        if (item[0] == ':') {
            r.Items[r.Count++] = item.substr(1);
            used += h;
            continue;
        }
        int64_t len = ParseInt(item.substr(1));
        if (len < 0 || len > int64_t(OursMaxPacket))
            Fail("bad RESP length");
        if (in.size() < at + used + h + size_t(len) + 2)
            return 0;
        r.Items[r.Count++] = in.substr(at + used + h, size_t(len));
        used += h + size_t(len) + 2;
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

void SendAll(int fd, std::string_view data)
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

// Reads into buf until done(buf) says the awaited answer is there (set-up only, 5 s at most).
void ReadUntil(int fd, Bytes& buf, const std::function<bool(Bytes&)>& done, const char* what)
{
    int64_t end = NowNs() + 5000000000LL;
    char tmp[4096];
    while (!done(buf)) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            ssize_t r = ::recv(fd, tmp, sizeof tmp, 0);
            if (r <= 0)
                Fail(std::string("connection closed while waiting for ") + what);
            buf.append(tmp, static_cast<size_t>(r));
        }
        if (NowNs() > end)
            Fail(std::string("timeout waiting for ") + what);
    }
}

Bytes ReadExactly(int fd, size_t n)
{
    Bytes buf;
    ReadUntil(fd, buf, [n](Bytes& b) { return b.size() >= n; }, "the server's greeting");
    return buf;
}

// One RESP reply read whole: its kind and first item (set-up only).
std::pair<char, Bytes> ReadResp(int fd)
{
    Bytes buf;
    std::pair<char, Bytes> got;
    ReadUntil(fd, buf, [&](Bytes& b) {
        TReply r;
        if (!ParseResp(b, 0, r))
            return false;
        got = {r.Kind, r.Count ? Bytes(r.Items[0]) : Bytes()};
        return true;
    }, "Redis");
    return got;
}

// One MQTT packet of type `type` read whole (set-up only).
void ReadMqtt(int fd, uint8_t type, const char* what)
{
    Bytes buf;
    ReadUntil(fd, buf, [&](Bytes& b) {
        size_t at = 0;
        TMqttPacket p;
        TTake took = MqttNext(b, at, p);
        if (took == TTake::Bad)
            Fail(std::string("bad MQTT packet instead of ") + what);
        if (took == TTake::NeedMore)
            return false;
        if (p.Type != type)
            Fail(std::string("MQTT packet ") + std::to_string(p.Type) + " instead of " + what);
        // CONNACK and SUBACK end in the return code: 0 accepted, 0 granted QoS 0.
        if (p.Body.empty() || p.Body.back() != 0)
            Fail(std::string("MQTT broker refused: ") + what);
        b.erase(0, at);
        return true;
    }, what);
    if (!buf.empty())
        Fail(std::string("more than ") + what + " from the MQTT broker");
}

// NATS operations until one of `kind` (set-up only); the server's PINGs are answered.
void ReadNats(int fd, TNatsOp::TKind kind, const char* what)
{
    Bytes buf;
    ReadUntil(fd, buf, [&](Bytes& b) {
        for (;;) {
            size_t at = 0;
            TNatsOp op;
            TTake took = NatsNext(b, at, op);
            if (took == TTake::Bad)
                Fail(std::string("bad NATS line waiting for ") + what);
            if (took == TTake::NeedMore)
                return false;
            if (op.Kind == TNatsOp::TKind::Err)
                Fail("NATS server: " + Bytes(op.Line));
            if (op.Kind == TNatsOp::TKind::Ping)
                SendAll(fd, "PONG\r\n");
            bool found = op.Kind == kind;
            b.erase(0, at);
            if (found)
                return true;
        }
    }, what);
}

// --- process figures -----------------------------------------------------------------------

int64_t CpuTicks(int pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), {});
    size_t close = all.rfind(')');
    if (close == std::string::npos)
        Fail("no /proc/" + std::to_string(pid) + "/stat: the server has gone");
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

int64_t SelfCpuUs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000LL + u.ru_utime.tv_usec + u.ru_stime.tv_usec;
}

int64_t RssKb(int pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stoll(line.substr(6));
    return 0;
}

// The server's CPU time (all its threads, from /proc) and the generator's own, over a workload.
struct TCpuUse {
    double ServerShare = 0, GenShare = 0;  // percent of one core over the wall time
    double ServerUs = 0, GenUs = 0;        // CPU time used
};

struct TCpu {
    int Pid;
    int64_t Start, SelfStart, Wall;
    explicit TCpu(int pid) : Pid(pid), Start(CpuTicks(pid)), SelfStart(SelfCpuUs()), Wall(NowNs()) {}
    TCpuUse Used() const
    {
        double seconds = double(NowNs() - Wall) / 1e9;
        TCpuUse u;
        u.ServerUs = double(CpuTicks(Pid) - Start) * 1e6 / double(sysconf(_SC_CLK_TCK));
        u.GenUs = double(SelfCpuUs() - SelfStart);
        u.ServerShare = u.ServerUs / 1e4 / seconds;
        u.GenShare = u.GenUs / 1e4 / seconds;
        return u;
    }
};

// Reorders v (a full sort of millions of latencies took longer than the rest of the count).
double Percentile(std::vector<double>& v, double p)
{
    if (v.empty())
        return 0;
    size_t i = std::min(static_cast<size_t>(p * double(v.size() - 1) + 0.5), v.size() - 1);
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(i), v.end());
    return v[i];
}

// --- the servers ---------------------------------------------------------------------------

enum class TKind { Ours, Redis, Mqtt, Nats };
constexpr int KindCount = 4;
constexpr const char* KindNames[KindCount] = {"ours", "redis", "mosquitto", "nats"};

struct TTarget {
    TKind Kind;
    int Port = 0;
    int Pid = 0;
    const char* Name() const { return KindNames[int(Kind)]; }
};

// A logged-in messenger client, or a client of another server, subscribed to `topic` when given.
int Client(const TTarget& t, uint32_t user, const std::string& topic = "")
{
    static unsigned clientNumber = 0;
    int fd = Connect(t.Port);
    switch (t.Kind) {
    case TKind::Ours: {
        Bytes welcome = ReadExactly(fd, 12);
        if (Get32(welcome, 0) != 1 || Get32(welcome, 4) != 4)
            Fail("bad greeting");
        SendAll(fd, Frame(21, U32(user)));
        Bytes ok = ReadExactly(fd, 8);
        if (Get32(ok, 0) != 3 || Get32(ok, 4) != 0)
            Fail("bad login answer");
        break;
    }
    case TKind::Redis:
        if (!topic.empty()) {
            SendAll(fd, Resp({"SUBSCRIBE", topic}));
            if (ReadResp(fd) != std::pair<char, Bytes>('*', "subscribe"))
                Fail("bad subscribe answer");
        }
        break;
    case TKind::Mqtt:
        // Client identifiers are unique: the broker drops an older session of the same one.
        SendAll(fd, MqttConnectPacket("lg" + std::to_string(getpid()) + "-" + std::to_string(++clientNumber)));
        ReadMqtt(fd, MqttConnAck, "CONNACK");
        if (!topic.empty()) {
            SendAll(fd, MqttSubscribePacket(1, topic));
            ReadMqtt(fd, MqttSubAck, "SUBACK");
        }
        break;
    case TKind::Nats:
        ReadNats(fd, TNatsOp::TKind::Info, "INFO");
        // PING after SUB: its PONG says the subscription is in place.
        SendAll(fd, NatsConnectLine() + (topic.empty() ? "" : NatsSubLine(topic, 1)) + "PING\r\n");
        ReadNats(fd, TNatsOp::TKind::Pong, "PONG");
        break;
    }
    return fd;
}

// Logged-in users who only stay connected (the others: subscribers of topics nobody publishes to).
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

// One incoming message, whatever the protocol. Views point into the connection's input.
struct TIncoming {
    uint32_t Type = 0;  // our packet type; for the others 'M' a message, 'I' Redis's integer,
                        // 'P' a NATS PING (to answer), 0 anything else (ignored)
    std::string_view Payload, Topic;
    int64_t Integer = 0;
};

// Cuts what has arrived on a connection into messages; false when one is incomplete.
bool NextIncoming(TKind kind, std::string_view in, size_t& at, TIncoming& msg)
{
    msg.Topic = {};
    switch (kind) {
    case TKind::Ours: {
        if (in.size() - at < 8)
            return false;
        uint32_t len = Get32(in, at + 4);
        if (len > OursMaxPacket)
            Fail("oversized packet from our server");
        if (in.size() - at < 8 + len)
            return false;
        msg.Type = Get32(in, at);
        msg.Payload = in.substr(at + 8, len);
        at += 8 + len;
        return true;
    }
    case TKind::Redis: {
        TReply r;
        size_t n = ParseResp(in, at, r);
        if (!n)
            return false;
        at += n;
        if (r.Kind == ':') {
            msg.Type = 'I';
            msg.Integer = r.Integer;
        } else if (r.Kind == '*' && r.Count == 3 && r.Items[0] == "message") {
            msg.Type = 'M';
            msg.Topic = r.Items[1];
            msg.Payload = r.Items[2];
        } else {
            Fail("unexpected Redis reply");
        }
        return true;
    }
    case TKind::Mqtt: {
        TMqttPacket p;
        TTake took = MqttNext(in, at, p);
        if (took == TTake::Bad)
            Fail("bad MQTT packet");
        if (took == TTake::NeedMore)
            return false;
        msg.Type = p.Type == MqttPublish ? 'M' : 0;
        msg.Topic = p.Topic;
        msg.Payload = p.Payload;
        return true;
    }
    case TKind::Nats: {
        TNatsOp op;
        TTake took = NatsNext(in, at, op);
        if (took == TTake::Bad)
            Fail("bad NATS line");
        if (took == TTake::NeedMore)
            return false;
        if (op.Kind == TNatsOp::TKind::Err)
            Fail("NATS server: " + Bytes(op.Line));
        msg.Type = op.Kind == TNatsOp::TKind::Msg ? 'M' : op.Kind == TNatsOp::TKind::Ping ? 'P' : 0;
        msg.Topic = op.Subject;
        msg.Payload = op.Payload;
        return true;
    }
    }
    return false;
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
    size_t done = 0;
    while (done < c.Out.size()) {
        ssize_t n = ::send(c.Fd, c.Out.data() + done, c.Out.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    c.Out.erase(0, done);
}

// Reads what is there; false when the peer closed.
bool Pull(TConn& c)
{
    static char buf[256 * 1024];
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

// A publication of `text` to `topic` (the pair's channel, subject or recipient number).
void AppendPublish(TKind kind, Bytes& out, const std::string& topic, uint32_t recipient, uint32_t seq,
                   int64_t sentNs, uint32_t pair, size_t size)
{
    switch (kind) {
    case TKind::Ours:
        AppendU32(out, 11);
        AppendU32(out, static_cast<uint32_t>(12 + size + 1));
        AppendU32(out, recipient);
        AppendU32(out, seq);
        AppendU32(out, 0);
        AppendText(out, sentNs, seq, pair, size);
        out.push_back('\0');
        return;
    case TKind::Redis: {
        out += "*3\r\n$7\r\nPUBLISH\r\n$";
        out += std::to_string(topic.size());
        out += "\r\n";
        out += topic;
        out += "\r\n$";
        out += std::to_string(size);
        out += "\r\n";
        AppendText(out, sentNs, seq, pair, size);
        out += "\r\n";
        return;
    }
    case TKind::Mqtt:
        out.push_back(static_cast<char>(MqttPublish << 4));
        MqttAppendLength(out, 2 + topic.size() + size);
        MqttAppendString(out, topic);
        AppendText(out, sentNs, seq, pair, size);
        return;
    case TKind::Nats:
        out += "PUB ";
        out += topic;
        out += ' ';
        out += std::to_string(size);
        out += "\r\n";
        AppendText(out, sentNs, seq, pair, size);
        out += "\r\n";
        return;
    }
}

// The generator's CPU share at or over which its run is marked as bound by the generator: the
// server could have gone faster than the generator drove it.
constexpr double GeneratorBound = 85;

struct TRelayResult {
    double PerSecond = 0, P50 = 0, P99 = 0;
    std::vector<double> Latencies;  // us, of the messages sent and received within the time
    TCpuUse Cpu;
    long Delivered = 0;  // all of them, those of the final drain included: the CPU figures' count
    long Errors = 0;
};

// `pairs` senders, each keeping `window` texts of `size` bytes in flight to a receiver of its
// own for `seconds`. In flight = not yet acknowledged by the server (ours, Redis); MQTT at QoS 0
// and NATS acknowledge nothing, so there it is: not yet received.
TRelayResult Relay(const TTarget& t, int pairs, int window, size_t size, double seconds)
{
    std::vector<TConn> conns(2 * static_cast<size_t>(pairs));
    std::vector<std::string> topics;
    for (int i = 0; i < pairs; ++i) {
        TConn& r = conns[2 * i];
        TConn& s = conns[2 * i + 1];
        topics.push_back("ch" + std::to_string(i));
        r.Fd = Client(t, 20000 + i, topics.back());
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
    const bool acknowledged = t.Kind == TKind::Ours || t.Kind == TKind::Redis;
    std::vector<uint32_t> nextSeq(pairs, 0), acked(pairs, 0);
    std::vector<TSequenceCheck> checks;
    for (int i = 0; i < pairs; ++i)
        checks.emplace_back(uint32_t(i), size);
    std::vector<int> inflight(pairs, 0);
    std::vector<double> latencies;
    latencies.reserve(4000000);
    long errors = 0, delivered = 0, deliveredAll = 0;
    auto send = [&](int i) {
        AppendPublish(t.Kind, conns[2 * i + 1].Out, topics[i], uint32_t(20000 + i), nextSeq[i], NowNs(),
                      uint32_t(i), size);
        ++nextSeq[i];
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
                done &= inflight[i] == 0 && checks[i].Expected() == nextSeq[i];
            if (done || now > drainUntil)
                break;
        }
        int n = epoll_wait(ep, events, 512, 1);
        int64_t arrived = NowNs();  // one clock read per wake-up: what it read came together
        for (int e = 0; e < n; ++e) {
            TConn& c = conns[events[e].data.u64];
            if (!Pull(c))
                Fail("server closed a connection");
            size_t at = 0;
            TIncoming m;
            int i = c.Index;
            while (NextIncoming(t.Kind, c.In, at, m)) {
                if (m.Type == 'P' && t.Kind == TKind::Nats) {
                    c.Out += "PONG\r\n";
                    continue;
                }
                if (c.Sender) {
                    bool ack = t.Kind == TKind::Ours ? m.Type == 5 : m.Type == 'I';
                    if (!acknowledged || !ack)
                        continue;  // ours: nothing else is expected; counted below if wrong
                    if (t.Kind == TKind::Ours &&
                        (m.Payload.size() < 12 || Get32(m.Payload, 0) != 2 ||
                         Get32(m.Payload, 4) != uint32_t(10000 + i) || Get32(m.Payload, 8) != acked[i]))
                        ++errors;
                    if (t.Kind == TKind::Redis && m.Integer != 1)
                        ++errors;
                    ++acked[i];
                    --inflight[i];
                    if (sending)
                        send(i);
                    continue;
                }
                std::string_view text;
                if (t.Kind == TKind::Ours) {
                    if (m.Type != 10 || m.Payload.size() < 17 || Get32(m.Payload, 0) != uint32_t(10000 + i)) {
                        ++errors;
                        continue;
                    }
                    text = m.Payload.substr(16, m.Payload.size() - 17);
                } else {
                    if (m.Type != 'M')
                        continue;
                    if (m.Topic != topics[i])
                        ++errors;  // misrouted
                    text = m.Payload;
                }
                if (!acknowledged) {
                    --inflight[i];
                    if (sending)
                        send(i);
                }
                TText got;
                if (checks[i].Accept(text, got) != TSequenceCheck::TVerdict::Ok) {
                    ++errors;  // lost, duplicated, reordered, misrouted or damaged
                    continue;
                }
                ++deliveredAll;
                if (arrived <= stopAt) {
                    ++delivered;
                    latencies.push_back(double(arrived - got.SentNs) / 1000.0);
                }
            }
            c.In.erase(0, at);
            if (!c.Out.empty() && !c.Sender)
                Flush(c);
        }
        for (int i = 0; i < pairs; ++i)
            if (!conns[2 * i + 1].Out.empty())
                Flush(conns[2 * i + 1]);
    }
    TRelayResult res;
    res.Cpu = cpu.Used();
    res.PerSecond = double(delivered) / seconds;
    res.Delivered = deliveredAll;
    res.P50 = Percentile(latencies, 0.50);
    res.P99 = Percentile(latencies, 0.99);
    res.Latencies = std::move(latencies);
    for (int i = 0; i < pairs; ++i)
        errors += checks[i].Missing(nextSeq[i]);
    res.Errors = errors;
    for (auto& c : conns)
        ::close(c.Fd);
    ::close(ep);
    return res;
}

struct TFanResult {
    double Median = 0, P99 = 0;
    std::vector<double> Times;  // us, one per round
    TCpuUse Cpu;
    long Delivered = 0;
    long Errors = 0;
};

// `receivers` subscribers of one topic (ours: logged-in users); one client publishes `rounds`
// short texts one after the other (ours: status changes), each once all have the one before.
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
    long errors = 0, delivered = 0;
    TCpu cpu(t.Pid);
    epoll_event events[1024];
    for (int r = 0; r < rounds; ++r) {
        char desc[16];
        snprintf(desc, sizeof desc, "r%04d", r);
        int64_t t0 = NowNs();
        switch (t.Kind) {
        case TKind::Ours: sender.Out = Frame(2, U32(2) + desc); break;
        case TKind::Redis: sender.Out = Resp({"PUBLISH", "fan", desc}); break;
        case TKind::Mqtt: MqttAppendPublish(sender.Out, "fan", desc); break;
        case TKind::Nats: NatsAppendPub(sender.Out, "fan", desc); break;
        }
        Flush(sender);
        int got = 0;
        int64_t deadline = t0 + 5000000000LL;
        while (got < receivers && NowNs() < deadline) {
            int n = epoll_wait(ep, events, 1024, 5);
            for (int e = 0; e < n; ++e) {
                TConn& c = conns[events[e].data.u64];
                if (!Pull(c))
                    Fail("server closed a connection");
                size_t at = 0;
                TIncoming m;
                while (NextIncoming(t.Kind, c.In, at, m)) {
                    std::string_view d = "?";
                    if (t.Kind == TKind::Ours) {
                        if (m.Type == 15 && m.Payload.size() >= 14 && Get32(m.Payload, 0) == 1)
                            d = m.Payload.substr(14);
                    } else if (m.Type == 'P') {
                        c.Out += "PONG\r\n";
                        continue;
                    } else if (m.Type == 'M' && m.Topic == "fan") {
                        d = m.Payload;
                    } else if (m.Type != 'M') {
                        continue;
                    }
                    if (d == desc)
                        ++got;
                    else
                        ++errors;  // another round's, duplicated, or misrouted
                }
                c.In.erase(0, at);
                Flush(c);
            }
        }
        times.push_back(double(NowNs() - t0) / 1000.0);
        delivered += got;
        errors += receivers - got;
        // What the publisher gets: Redis's count of receivers, NATS's PINGs; nothing from ours.
        if (!Pull(sender))
            Fail("server closed the publisher");
        size_t at = 0;
        TIncoming m;
        while (NextIncoming(t.Kind, sender.In, at, m))
            if (t.Kind == TKind::Nats && m.Type == 'P')
                sender.Out += "PONG\r\n";
        sender.In.erase(0, at);
    }
    TFanResult res;
    res.Cpu = cpu.Used();
    res.Median = Percentile(times, 0.5);
    res.P99 = Percentile(times, 0.99);
    res.Times = std::move(times);
    res.Delivered = delivered;
    res.Errors = errors;
    for (auto& c : conns)
        ::close(c.Fd);
    ::close(sender.Fd);
    ::close(ep);
    return res;
}

struct TConnResult {
    double BytesPerConn = 0, NewClientUs = 0, ServerCpuUsPerConn = 0;
    long Errors = 0;
};

// `count` idle clients, each logged in (ours) or subscribed to a topic of its own (the others).
TConnResult Connections(const TTarget& t, int count)
{
    usleep(200000);
    int64_t before = RssKb(t.Pid);
    TCpu cpu(t.Pid);
    std::vector<int> fds;
    fds.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        fds.push_back(Client(t, 40000 + static_cast<uint32_t>(i), "conn" + std::to_string(i)));
    usleep(500000);
    TConnResult res;
    res.ServerCpuUsPerConn = cpu.Used().ServerUs / count;
    int64_t after = RssKb(t.Pid);
    res.BytesPerConn = double(after - before) * 1024.0 / count;
    // A new client's first answer while they are held: our greeting, Redis's PONG, the MQTT
    // broker's CONNACK, the NATS server's INFO.
    int64_t t0 = NowNs();
    int fd = Connect(t.Port);
    try {
        switch (t.Kind) {
        case TKind::Ours:
            if (Get32(ReadExactly(fd, 12), 0) != 1)
                ++res.Errors;
            break;
        case TKind::Redis:
            SendAll(fd, Resp({"PING"}));
            if (ReadResp(fd).first != '+')
                ++res.Errors;
            break;
        case TKind::Mqtt:
            SendAll(fd, MqttConnectPacket("lg-new-" + std::to_string(getpid())));
            ReadMqtt(fd, MqttConnAck, "CONNACK");
            break;
        case TKind::Nats: ReadNats(fd, TNatsOp::TKind::Info, "INFO"); break;
        }
    } catch (const std::exception&) {
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
    TCpu cpu(t.Pid);
    int64_t start = NowNs(), end = start + static_cast<int64_t>(seconds * 1e9);
    long done = 0;
    while (NowNs() < end) {
        int fd = Client(t, 900000);
        ::close(fd);
        ++done;
    }
    double wall = double(NowNs() - start) / 1e9;
    double cpuUs = cpu.Used().ServerUs;
    CloseAll(idle);
    TChurnResult res;
    res.PerSecond = double(done) / wall;
    res.ServerCpuUsPerConn = done ? cpuUs / double(done) : 0;
    return res;
}

// --- the table -----------------------------------------------------------------------------

struct TRow {
    std::string Workload, Metric;
    std::array<std::vector<double>, KindCount> Values;
    std::array<bool, KindCount> GeneratorBound{};  // a run of this cell had the generator at its limit
};

enum TRowId {
    RelayRate, RelayP50, RelayP99, RelayCpu,
    OnlineRate, OnlineP50, OnlineP99, OnlineCpu,
    Relay1P50, Relay1Cpu,
    FanMedian, FanP99, FanCpu,
    ConnBytes, ConnNewClient, ConnCpu,
    RowCount
};

double Mean(const std::vector<double>& v)
{
    double s = 0;
    for (double x : v)
        s += x;
    return v.empty() ? 0.0 : s / double(v.size());
}

void PrintTable(const std::vector<TRow>& rows, const std::vector<TKind>& present)
{
    printf("%-12s %-20s", "workload", "metric");
    for (TKind k : present)
        printf(" %12s", KindNames[int(k)]);
    for (TKind k : present)
        if (k != TKind::Ours)
            printf(" %14s", ("ours/" + std::string(KindNames[int(k)])).c_str());
    printf("\n");
    bool anyBound = false;
    for (const TRow& row : rows) {
        if (row.Values[0].empty())
            continue;
        printf("%-12s %-20s", row.Workload.c_str(), row.Metric.c_str());
        for (TKind k : present) {
            const auto& v = row.Values[int(k)];
            char cell[32];
            if (v.empty())
                snprintf(cell, sizeof cell, "-");
            else
                snprintf(cell, sizeof cell, Mean(v) < 10 ? "%.2f%s" : "%.1f%s", Mean(v),
                         row.GeneratorBound[int(k)] ? "*" : "");
            anyBound |= row.GeneratorBound[int(k)];
            printf(" %12s", cell);
        }
        double o = Mean(row.Values[0]);
        for (TKind k : present) {
            if (k == TKind::Ours)
                continue;
            double x = Mean(row.Values[int(k)]);
            char cell[32];
            if (row.Values[int(k)].empty() || x == 0)
                snprintf(cell, sizeof cell, "-");
            else
                snprintf(cell, sizeof cell, "%.2fx", o / x);
            printf(" %14s", cell);
        }
        printf("\n");
    }
    if (anyBound)
        printf("* the generator used %.0f%% or more of its core in a run of this cell: the server may "
               "do better than this figure; compare the CPU rows\n", GeneratorBound);
}

// A run's CPU shares and per-message costs, as printed under the table.
std::string CpuNote(const TTarget& t, const TCpuUse& u, long messages, long errs)
{
    char line[200];
    snprintf(line, sizeof line,
             "%-9s server %3.0f%%, generator %3.0f%%; per message: server %.2f us, generator %.2f us; errors %ld",
             t.Name(), u.ServerShare, u.GenShare, messages ? u.ServerUs / double(messages) : 0.0,
             messages ? u.GenUs / double(messages) : 0.0, errs);
    return line;
}

// One slice of a workload run against one server: its times (us) and what it cost.
struct TTurn {
    std::vector<double> Times;
    TCpuUse Cpu;
    long Delivered = 0, Errors = 0;
};

// Which rows a workload taken in turns fills: the median of all its times, the server's CPU per
// delivered message, and optionally the 99th percentile.
struct TTurnRows {
    TRowId Median, Cpu;
    std::optional<TRowId> P99;
};

// Runs `run` against every server in turn, `slices` times round; each server's figures pool all
// its slices (times of all its slices together, CPU over all its messages).
template <class TRun>
void TakeTurns(const std::vector<TTarget>& targets, int slices, std::vector<TRow>& rows,
               std::map<std::string, std::vector<std::string>>& cpuNotes, long& errors, const char* workload,
               TTurnRows into, TRun run)
{
    std::vector<TTurn> pools(targets.size());
    for (int slice = 0; slice < slices; ++slice)
        for (size_t i = 0; i < targets.size(); ++i) {
            TTurn one = run(targets[i]);
            TTurn& p = pools[i];
            p.Times.insert(p.Times.end(), one.Times.begin(), one.Times.end());
            p.Cpu.ServerUs += one.Cpu.ServerUs;
            p.Cpu.GenUs += one.Cpu.GenUs;
            p.Cpu.ServerShare += one.Cpu.ServerShare / slices;  // a share of each slice's time: their mean
            p.Cpu.GenShare += one.Cpu.GenShare / slices;
            p.Delivered += one.Delivered;
            p.Errors += one.Errors;
        }
    for (size_t i = 0; i < targets.size(); ++i) {
        TTurn& p = pools[i];
        int k = int(targets[i].Kind);
        bool bound = p.Cpu.GenShare >= GeneratorBound;
        rows[into.Median].Values[k].push_back(Percentile(p.Times, 0.50));
        rows[into.Median].GeneratorBound[k] = bound;
        if (into.P99) {
            rows[*into.P99].Values[k].push_back(Percentile(p.Times, 0.99));
            rows[*into.P99].GeneratorBound[k] = bound;
        }
        rows[into.Cpu].Values[k].push_back(p.Delivered ? p.Cpu.ServerUs / double(p.Delivered) : 0);
        cpuNotes[workload].push_back(CpuNote(targets[i], p.Cpu, p.Delivered, p.Errors) + " (" +
                                     std::to_string(slices) + " turns)");
        errors += p.Errors;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<TTarget> targets;  // ours first
    std::string only;
    double seconds = 5;
    int connections = 10000;
    int online = 10000;
    auto usage = [] {
        fprintf(stderr, "usage: loadgen --ours PORT PID [--redis PORT PID] [--mosquitto PORT PID] [--nats PORT PID]\n"
                        "               [--only relay|relay-online|relay1|fan-out|connections|churn] [--seconds S]\n"
                        "               [--connections N] [--online N]\n");
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        int kind = -1;
        for (int k = 0; k < KindCount; ++k)
            if (a == std::string("--") + KindNames[k])
                kind = k;
        if (kind >= 0 && i + 2 < argc) {
            TTarget t{TKind(kind), atoi(argv[i + 1]), atoi(argv[i + 2])};
            i += 2;
            // Kept in the table's order, ours first, whatever the order of the options.
            auto before = std::find_if(targets.begin(), targets.end(),
                                       [&](const TTarget& o) { return o.Kind > t.Kind; });
            targets.insert(before, t);
        } else if (a == "--only" && i + 1 < argc) {
            only = argv[++i];
        } else if (a == "--seconds" && i + 1 < argc) {
            seconds = atof(argv[++i]);
        } else if (a == "--connections" && i + 1 < argc) {
            connections = atoi(argv[++i]);
        } else if (a == "--online" && i + 1 < argc) {
            online = atoi(argv[++i]);
        } else {
            return usage();
        }
    }
    if (targets.empty() || targets[0].Kind != TKind::Ours)
        return usage();
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    lim.rlim_cur = lim.rlim_max;
    setrlimit(RLIMIT_NOFILE, &lim);

    if (only == "churn") {
        try {
            TChurnResult c = Churn(targets[0], online, seconds);
            printf("churn with %d users online: %.0f connections/s, server CPU %.1f us per connection\n", online,
                   c.PerSecond, c.ServerCpuUsPerConn);
        } catch (const std::exception& e) {
            fprintf(stderr, "loadgen: %s\n", e.what());
            return 1;
        }
        return 0;
    }

    std::vector<TRow> rows(RowCount);
    auto name = [&](TRowId id, const char* workload, const char* metric) {
        rows[id].Workload = workload;
        rows[id].Metric = metric;
    };
    name(RelayRate, "relay", "messages/s");
    name(RelayP50, "relay", "latency p50 us");
    name(RelayP99, "relay", "latency p99 us");
    name(RelayCpu, "relay", "server CPU us/msg");
    name(OnlineRate, "relay-online", "messages/s");
    name(OnlineP50, "relay-online", "latency p50 us");
    name(OnlineP99, "relay-online", "latency p99 us");
    name(OnlineCpu, "relay-online", "server CPU us/msg");
    name(Relay1P50, "relay1", "latency p50 us");
    name(Relay1Cpu, "relay1", "server CPU us/msg");
    name(FanMedian, "fan-out", "median us");
    name(FanP99, "fan-out", "p99 us");
    name(FanCpu, "fan-out", "server CPU us/msg");
    name(ConnBytes, "connections", "bytes/conn");
    name(ConnNewClient, "connections", "new client us");
    name(ConnCpu, "connections", "server CPU us/conn");

    std::map<std::string, std::vector<std::string>> cpuNotes;
    long errors = 0;
    try {
        std::array<int, KindCount> runs{};
        for (int run = 0; run < 2; ++run)
            for (const TTarget& t : targets) {
                int k = int(t.Kind);
                auto put = [&](TRowId row, double v) { rows[row].Values[k].push_back(v); };
                // A workload's figures, its CPU shares and per-message costs; the rows it claims
                // are marked when the generator was at its limit.
                auto note = [&](const char* workload, const TCpuUse& u, long messages, long errs,
                                std::initializer_list<TRowId> bound) {
                    cpuNotes[workload].push_back(CpuNote(t, u, messages, errs));
                    if (u.GenShare >= GeneratorBound)
                        for (TRowId r : bound)
                            rows[r].GeneratorBound[k] = true;
                    errors += errs;
                };
                // Memory first, on a server that has not held (and freed) other clients yet: a
                // later run would reuse what earlier workloads freed and show next to nothing.
                bool first = runs[k]++ == 0;
                if ((only.empty() && first) || only == "connections") {
                    TConnResult c = Connections(t, connections);
                    put(ConnBytes, c.BytesPerConn);
                    put(ConnNewClient, c.NewClientUs);
                    put(ConnCpu, c.ServerCpuUsPerConn);
                    errors += c.Errors;
                }
                if (only.empty() || only == "relay") {
                    TRelayResult r = Relay(t, 50, 16, 64, seconds);
                    put(RelayRate, r.PerSecond);
                    put(RelayP50, r.P50);
                    put(RelayP99, r.P99);
                    put(RelayCpu, r.Delivered ? r.Cpu.ServerUs / double(r.Delivered) : 0);
                    note("relay", r.Cpu, r.Delivered, r.Errors, {RelayRate, RelayP50, RelayP99});
                }
                if (only.empty() || only == "relay-online") {
                    std::vector<int> idle = IdleUsers(t, online);
                    usleep(200000);
                    TRelayResult r = Relay(t, 50, 16, 64, seconds);
                    CloseAll(idle);
                    put(OnlineRate, r.PerSecond);
                    put(OnlineP50, r.P50);
                    put(OnlineP99, r.P99);
                    put(OnlineCpu, r.Delivered ? r.Cpu.ServerUs / double(r.Delivered) : 0);
                    note("relay-online", r.Cpu, r.Delivered, r.Errors, {OnlineRate, OnlineP50, OnlineP99});
                    usleep(300000);
                }
            }
        // A lone message and a fan-out round are mostly the kernel's loopback path and the
        // wake-ups of idle cores, which drift with whatever else the host runs: for these two
        // the servers take turns in short slices, so that each sees the same host.
        if (only.empty() || only == "relay1") {
            constexpr int Slices = 8;
            TakeTurns(targets, Slices, rows, cpuNotes, errors, "relay1", {Relay1P50, Relay1Cpu, {}},
                      [&](const TTarget& t) {
                          TRelayResult r = Relay(t, 1, 1, 64, seconds / Slices);
                          return TTurn{std::move(r.Latencies), r.Cpu, r.Delivered, r.Errors};
                      });
        }
        if (only.empty() || only == "fan-out") {
            TakeTurns(targets, 5, rows, cpuNotes, errors, "fan-out", {FanMedian, FanCpu, FanP99},
                      [](const TTarget& t) {
                          TFanResult f = FanOut(t, 1000, 10);
                          return TTurn{std::move(f.Times), f.Cpu, f.Delivered, f.Errors};
                      });
        }
    } catch (const std::exception& e) {
        fprintf(stderr, "loadgen: %s\n", e.what());
        return 1;
    }
    std::vector<TKind> present;
    for (const TTarget& t : targets)
        present.push_back(t.Kind);
    printf("the mean of two runs, servers in turn (connections: the first run; relay1 and fan-out: all the "
           "servers' slices taken in turns, pooled)\n");
    PrintTable(rows, present);
    if (!rows[RelayRate].Values[0].empty() && !rows[OnlineRate].Values[0].empty()) {
        printf("\nrelay with %d other users online, as a share of the plain relay:", online);
        for (TKind k : present)
            if (double plain = Mean(rows[RelayRate].Values[int(k)]))
                printf(" %s %.2fx", KindNames[int(k)], Mean(rows[OnlineRate].Values[int(k)]) / plain);
        printf("\n");
    }
    if (!rows[ConnBytes].Values[0].empty()) {
        printf("\nbytes/conn per run:");
        for (TKind k : present) {
            printf("  %s", KindNames[int(k)]);
            for (double v : rows[ConnBytes].Values[int(k)])
                printf(" %.1f", v);
        }
        printf("\n");
    }
    printf("\nCPU share per run (100%% = one core; server: all its threads, from /proc):\n");
    for (auto& [w, notes] : cpuNotes)
        for (auto& n : notes)
            printf("  %-12s %s\n", w.c_str(), n.c_str());
    printf("\nchecks: %ld errors (lost, duplicated, reordered, misrouted or damaged messages)\n", errors);
    return errors == 0 ? 0 : 1;
}
