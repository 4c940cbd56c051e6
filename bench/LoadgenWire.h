#pragma once
// What the load generator writes to and reads from the servers it compares (MQTT 3.1.1 at QoS 0,
// the NATS text protocol) and the check of every relayed text. Plain functions over byte strings,
// no sockets: tests/bench runs them on their own, split at every byte and with faults put in.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace loadgen {

using Bytes = std::string;

enum class TTake { NeedMore, Got, Bad };

// --- relayed texts -------------------------------------------------------------------------

// A text of `size` bytes (at least TextHead), no NUL: send time (16 hex digits), sequence
// number (8) and pair (4), then padding.
constexpr size_t TextHead = 28;

inline void AppendHex(Bytes& out, uint64_t v, int digits)
{
    static constexpr char hex[] = "0123456789abcdef";
    char buf[16];
    for (int i = digits - 1; i >= 0; --i, v >>= 4)
        buf[i] = hex[v & 0xF];
    out.append(buf, static_cast<size_t>(digits));
}

// The padding's byte at offset i of a text is 'a' + i % 26: a shifted or cut text shows.
inline char PaddingAt(size_t i)
{
    return static_cast<char>('a' + i % 26);
}

// The padding of texts up to this size is copied from one string made once.
constexpr size_t PaddingKept = 1024;

inline const Bytes& Padding()
{
    static const Bytes padding = [] {
        Bytes p(PaddingKept, '\0');
        for (size_t i = 0; i < p.size(); ++i)
            p[i] = PaddingAt(i);
        return p;
    }();
    return padding;
}

inline void AppendText(Bytes& out, int64_t sentNs, uint32_t seq, uint32_t pair, size_t size)
{
    AppendHex(out, static_cast<uint64_t>(sentNs), 16);
    AppendHex(out, seq, 8);
    AppendHex(out, pair, 4);
    size_t i = TextHead;
    if (size > i && size <= PaddingKept) {
        out.append(Padding(), i, size - i);
        return;
    }
    for (; i < size; ++i)
        out.push_back(PaddingAt(i));
}

struct TText {
    int64_t SentNs = 0;
    uint32_t Seq = 0, Pair = 0;
};

// False for a text of another length, with a head that is not hex, or with damaged padding.
inline bool ParseText(std::string_view text, size_t size, TText& t)
{
    if (text.size() != size || size < TextHead)
        return false;
    // A digit's value by byte, 16 for a byte that is no lower-case hex digit.
    static const auto digitValue = [] {
        struct { uint8_t Of[256]; } t{};
        for (int c = 0; c < 256; ++c)
            t.Of[c] = c >= '0' && c <= '9' ? uint8_t(c - '0') : c >= 'a' && c <= 'f' ? uint8_t(c - 'a' + 10) : 16;
        return t;
    }();
    uint64_t fields[3] = {0, 0, 0};
    const int digits[3] = {16, 8, 4};
    size_t at = 0;
    unsigned bad = 0;
    for (int f = 0; f < 3; ++f)
        for (int d = 0; d < digits[f]; ++d, ++at) {
            uint8_t v = digitValue.Of[static_cast<uint8_t>(text[at])];
            bad |= v;
            fields[f] = fields[f] << 4 | (v & 0xF);
        }
    if (bad & 16)
        return false;
    if (size <= PaddingKept) {
        if (text.substr(TextHead) != std::string_view(Padding()).substr(TextHead, size - TextHead))
            return false;
    } else {
        for (size_t i = TextHead; i < size; ++i)
            if (text[i] != PaddingAt(i))
                return false;
    }
    t.SentNs = static_cast<int64_t>(fields[0]);
    t.Seq = static_cast<uint32_t>(fields[1]);
    t.Pair = static_cast<uint32_t>(fields[2]);
    return true;
}

// What one receiver has had of its sender's numbered texts. Every fault is counted once where it
// shows: a gap (lost, or overtaken by a later one), one already passed (duplicated or late), a
// text of another pair (misrouted), a damaged one; and at the end what never came.
class TSequenceCheck {
public:
    enum class TVerdict { Ok, Damaged, Misrouted, Gap, Repeated };

    TSequenceCheck(uint32_t pair, size_t size) : Pair_(pair), Size_(size) {}

    TVerdict Accept(std::string_view text, TText& t)
    {
        if (!ParseText(text, Size_, t))
            return TVerdict::Damaged;
        if (t.Pair != Pair_)
            return TVerdict::Misrouted;
        if (t.Seq < Expected_)
            return TVerdict::Repeated;
        bool gap = t.Seq != Expected_;
        Expected_ = t.Seq + 1;
        return gap ? TVerdict::Gap : TVerdict::Ok;
    }
    // The next sequence number due: the count received in order when nothing went wrong.
    uint32_t Expected() const { return Expected_; }
    // Texts sent and never received, the last of them included.
    long Missing(uint32_t sent) const { return sent > Expected_ ? long(sent - Expected_) : 0; }

private:
    uint32_t Pair_;
    size_t Size_;
    uint32_t Expected_ = 0;
};

// --- MQTT 3.1.1 ----------------------------------------------------------------------------

// Packet types (high nibble of the first byte).
enum : uint8_t { MqttConnect = 1, MqttConnAck = 2, MqttPublish = 3, MqttSubscribe = 8, MqttSubAck = 9,
                 MqttPingResp = 13 };

// The largest packet taken from a broker: ours carry 100 bytes at most.
constexpr size_t MqttMaxPacket = 1 << 20;

// "Remaining length": seven bits a byte, low group first, high bit = more follows; 1 to 4 bytes.
inline void MqttAppendLength(Bytes& out, size_t n)
{
    do {
        uint8_t b = n & 0x7F;
        n >>= 7;
        if (n)
            b |= 0x80;
        out.push_back(static_cast<char>(b));
    } while (n);
}

inline void MqttAppendString(Bytes& out, std::string_view s)
{
    out.push_back(static_cast<char>(s.size() >> 8 & 0xFF));
    out.push_back(static_cast<char>(s.size() & 0xFF));
    out.append(s);
}

// CONNECT with a clean session; keep-alive 0 turns the broker's keep-alive timer off, so an idle
// client owes no PINGREQ.
inline Bytes MqttConnectPacket(std::string_view clientId, uint16_t keepAliveS = 0)
{
    Bytes body;
    MqttAppendString(body, "MQTT");
    body.push_back(4);       // protocol level 3.1.1
    body.push_back(0x02);    // clean session, no will, no user name or password
    body.push_back(static_cast<char>(keepAliveS >> 8));
    body.push_back(static_cast<char>(keepAliveS & 0xFF));
    MqttAppendString(body, clientId);
    Bytes out(1, static_cast<char>(MqttConnect << 4));
    MqttAppendLength(out, body.size());
    return out + body;
}

inline Bytes MqttSubscribePacket(uint16_t packetId, std::string_view topic)
{
    Bytes body;
    body.push_back(static_cast<char>(packetId >> 8));
    body.push_back(static_cast<char>(packetId & 0xFF));
    MqttAppendString(body, topic);
    body.push_back(0);  // maximum QoS 0
    Bytes out(1, static_cast<char>(MqttSubscribe << 4 | 0x2));  // the flags 3.1.1 fixes for it
    MqttAppendLength(out, body.size());
    return out + body;
}

// PUBLISH at QoS 0, not retained: no packet identifier, nothing comes back.
inline void MqttAppendPublish(Bytes& out, std::string_view topic, std::string_view payload)
{
    out.push_back(static_cast<char>(MqttPublish << 4));
    MqttAppendLength(out, 2 + topic.size() + payload.size());
    MqttAppendString(out, topic);
    out.append(payload);
}

struct TMqttPacket {
    uint8_t Type = 0, Flags = 0;
    std::string_view Body;            // after the fixed header
    std::string_view Topic, Payload;  // PUBLISH only
};

// One packet from in[at...]; the views point into `in`. Bad: a length of more than four bytes,
// over MqttMaxPacket, or a PUBLISH whose topic does not fit in it.
inline TTake MqttNext(std::string_view in, size_t& at, TMqttPacket& p)
{
    if (in.size() - at < 2)
        return TTake::NeedMore;
    size_t length = 0, i = at + 1;
    for (int shift = 0;; shift += 7, ++i) {
        if (shift > 21)
            return TTake::Bad;
        if (i >= in.size())
            return TTake::NeedMore;
        uint8_t b = static_cast<uint8_t>(in[i]);
        length |= size_t(b & 0x7F) << shift;
        if (!(b & 0x80))
            break;
    }
    if (length > MqttMaxPacket)
        return TTake::Bad;
    size_t body = i + 1;
    if (in.size() - body < length)
        return TTake::NeedMore;
    p.Type = static_cast<uint8_t>(in[at]) >> 4;
    p.Flags = static_cast<uint8_t>(in[at]) & 0xF;
    p.Body = in.substr(body, length);
    p.Topic = p.Payload = {};
    if (p.Type == MqttPublish) {
        if (length < 2)
            return TTake::Bad;
        size_t topicLen = size_t(static_cast<uint8_t>(p.Body[0])) << 8 | static_cast<uint8_t>(p.Body[1]);
        size_t idLen = (p.Flags >> 1 & 3) ? 2 : 0;  // QoS 1 and 2 carry a packet identifier
        if (2 + topicLen + idLen > length)
            return TTake::Bad;
        p.Topic = p.Body.substr(2, topicLen);
        p.Payload = p.Body.substr(2 + topicLen + idLen);
    }
    at = body + length;
    return TTake::Got;
}

// --- NATS ----------------------------------------------------------------------------------

// verbose off: no +OK for every PUB.
inline Bytes NatsConnectLine()
{
    return "CONNECT {\"verbose\":false,\"pedantic\":false,\"name\":\"loadgen\"}\r\n";
}

inline Bytes NatsSubLine(std::string_view subject, int sid)
{
    return "SUB " + Bytes(subject) + " " + std::to_string(sid) + "\r\n";
}

inline void NatsAppendPub(Bytes& out, std::string_view subject, std::string_view payload)
{
    out.append("PUB ");
    out.append(subject);
    out.push_back(' ');
    out.append(std::to_string(payload.size()));
    out.append("\r\n");
    out.append(payload);
    out.append("\r\n");
}

// The longest line a server sends before a payload (its own limit for clients is 4 KiB).
constexpr size_t NatsMaxLine = 4096;
constexpr size_t NatsMaxPayload = 1 << 20;

struct TNatsOp {
    enum class TKind { Msg, Ping, Pong, Ok, Err, Info } Kind = TKind::Ok;
    std::string_view Line;  // the control line without its CR LF
    std::string_view Subject, Sid, Payload;  // MSG only
};

// One operation from in[at...]; the views point into `in`. Bad: a line over NatsMaxLine, an
// unknown operation, a MSG line that does not parse or whose payload is not followed by CR LF.
inline TTake NatsNext(std::string_view in, size_t& at, TNatsOp& op)
{
    size_t end = in.find("\r\n", at);
    if (end == std::string_view::npos)
        return in.size() - at > NatsMaxLine ? TTake::Bad : TTake::NeedMore;
    if (end - at > NatsMaxLine)
        return TTake::Bad;
    std::string_view line = in.substr(at, end - at);
    op.Line = line;
    op.Subject = op.Sid = op.Payload = {};
    auto starts = [&](std::string_view w) { return line.substr(0, w.size()) == w; };
    using K = TNatsOp::TKind;
    if (line == "PING") {
        op.Kind = K::Ping;
    } else if (line == "PONG") {
        op.Kind = K::Pong;
    } else if (line == "+OK") {
        op.Kind = K::Ok;
    } else if (starts("-ERR")) {
        op.Kind = K::Err;
    } else if (starts("INFO ")) {
        op.Kind = K::Info;
    } else if (starts("MSG ")) {
        // MSG <subject> <sid> [reply-to] <#bytes>
        std::string_view f[4];
        size_t n = 0, p = 4;
        while (p < line.size()) {
            size_t q = line.find(' ', p);
            if (q == std::string_view::npos)
                q = line.size();
            if (q > p) {
                if (n == 4)
                    return TTake::Bad;
                f[n++] = line.substr(p, q - p);
            }
            p = q + 1;
        }
        if (n < 3)
            return TTake::Bad;
        size_t bytes = 0;
        for (char c : f[n - 1]) {
            if (c < '0' || c > '9' || bytes > NatsMaxPayload)
                return TTake::Bad;
            bytes = bytes * 10 + size_t(c - '0');
        }
        if (bytes > NatsMaxPayload)
            return TTake::Bad;
        size_t payload = end + 2;
        if (in.size() - payload < bytes + 2)
            return TTake::NeedMore;
        if (in.substr(payload + bytes, 2) != "\r\n")
            return TTake::Bad;
        op.Kind = K::Msg;
        op.Subject = f[0];
        op.Sid = f[1];
        op.Payload = in.substr(payload, bytes);
        at = payload + bytes + 2;
        return TTake::Got;
    } else {
        return TTake::Bad;
    }
    at = end + 2;
    return TTake::Got;
}

}  // namespace loadgen
