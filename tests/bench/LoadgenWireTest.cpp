// The load generator's framing of the servers it compares and its check of relayed texts: a
// benchmark whose check lets a lost or reordered message through, or whose reader loses its
// place in a stream split across reads, reports figures for work that was not done.
#include "LoadgenWire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace loadgen;
using TVerdict = TSequenceCheck::TVerdict;

Bytes Text(uint32_t seq, uint32_t pair, size_t size = 64)
{
    Bytes t;
    AppendText(t, 0x123456789abcLL + seq, seq, pair, size);
    return t;
}

TEST(LoadgenText, ReadsBackWhatWasWrittenAndRefusesAnyDamage)
{
    for (size_t size : {TextHead, size_t(64), PaddingKept, PaddingKept + 7}) {
        Bytes t;
        AppendText(t, 0x0123456789abcdefLL, 0xdeadbeef, 0xbeef, size);
        ASSERT_EQ(t.size(), size);
        TText got;
        ASSERT_TRUE(ParseText(t, size, got)) << size;
        EXPECT_EQ(got.SentNs, 0x0123456789abcdefLL);
        EXPECT_EQ(got.Seq, 0xdeadbeefu);
        EXPECT_EQ(got.Pair, 0xbeefu);
        for (size_t at = 0; at < size; ++at) {
            Bytes bad = t;
            bad[at] = 'X';
            EXPECT_FALSE(ParseText(bad, size, got)) << "size " << size << ", byte " << at;
        }
        EXPECT_FALSE(ParseText(t.substr(1), size, got));
        EXPECT_FALSE(ParseText(t + "a", size, got));
    }
}

struct TStream {
    const char* Name;
    std::vector<Bytes> Received;
    uint32_t Sent;
    long Faults;  // verdicts other than Ok, plus what never came
};

TEST(LoadgenSequenceCheck, CountsEveryLostDuplicatedReorderedMisroutedOrDamagedText)
{
    const std::vector<TStream> streams = {
        {"in order", {Text(0, 3), Text(1, 3), Text(2, 3), Text(3, 3)}, 4, 0},
        {"one lost in the middle", {Text(0, 3), Text(1, 3), Text(3, 3)}, 4, 1},
        {"the last lost", {Text(0, 3), Text(1, 3), Text(2, 3)}, 4, 1},
        {"nothing came", {}, 2, 2},
        {"one duplicated", {Text(0, 3), Text(1, 3), Text(1, 3), Text(2, 3)}, 3, 1},
        {"two swapped", {Text(0, 3), Text(2, 3), Text(1, 3), Text(3, 3)}, 4, 2},
        {"another pair's text", {Text(0, 3), Text(1, 7), Text(1, 3)}, 2, 1},
        {"a cut text", {Text(0, 3), Text(1, 3).substr(0, 63), Text(2, 3)}, 3, 2},
    };
    for (const TStream& s : streams) {
        TSequenceCheck check(3, 64);
        long faults = 0;
        for (const Bytes& text : s.Received) {
            TText got;
            if (check.Accept(text, got) != TVerdict::Ok)
                ++faults;
        }
        faults += check.Missing(s.Sent);
        EXPECT_EQ(faults, s.Faults) << s.Name;
    }
}

TEST(LoadgenSequenceCheck, NamesWhatWentWrong)
{
    TSequenceCheck check(3, 64);
    TText got;
    EXPECT_EQ(check.Accept(Text(0, 3), got), TVerdict::Ok);
    EXPECT_EQ(check.Accept(Text(2, 3), got), TVerdict::Gap);
    EXPECT_EQ(check.Accept(Text(1, 3), got), TVerdict::Repeated);
    EXPECT_EQ(check.Accept(Text(3, 4), got), TVerdict::Misrouted);
    EXPECT_EQ(check.Accept(Text(3, 3, 65), got), TVerdict::Damaged);
    EXPECT_EQ(check.Accept(Text(3, 3), got), TVerdict::Ok);
    EXPECT_EQ(check.Expected(), 4u);
    EXPECT_EQ(check.Missing(4), 0);
}

// --- MQTT ------------------------------------------------------------------------------------

Bytes Hex(std::initializer_list<int> bytes)
{
    Bytes b;
    for (int v : bytes)
        b.push_back(static_cast<char>(v));
    return b;
}

TEST(LoadgenMqtt, RemainingLengthAtEveryBoundaryOfItsBytes)
{
    const std::vector<std::pair<size_t, Bytes>> cases = {
        {0, Hex({0x00})},
        {127, Hex({0x7F})},
        {128, Hex({0x80, 0x01})},
        {16383, Hex({0xFF, 0x7F})},
        {16384, Hex({0x80, 0x80, 0x01})},
        {2097151, Hex({0xFF, 0xFF, 0x7F})},
        {2097152, Hex({0x80, 0x80, 0x80, 0x01})},
        {268435455, Hex({0xFF, 0xFF, 0xFF, 0x7F})},
    };
    for (const auto& [n, wire] : cases) {
        Bytes out;
        MqttAppendLength(out, n);
        EXPECT_EQ(out, wire) << n;
    }
}

TEST(LoadgenMqtt, ConnectAndSubscribeAreTheBytesOfTheStandard)
{
    EXPECT_EQ(MqttConnectPacket("c1"),
              Hex({0x10, 14, 0, 4, 'M', 'Q', 'T', 'T', 4, 0x02, 0, 0, 0, 2, 'c', '1'}));
    EXPECT_EQ(MqttConnectPacket("c1", 300), Hex({0x10, 14, 0, 4, 'M', 'Q', 'T', 'T', 4, 0x02, 1, 44, 0, 2, 'c', '1'}));
    EXPECT_EQ(MqttSubscribePacket(258, "ab"), Hex({0x82, 7, 1, 2, 0, 2, 'a', 'b', 0}));
    Bytes pub;
    MqttAppendPublish(pub, "t", "xy");
    EXPECT_EQ(pub, Hex({0x30, 5, 0, 1, 't', 'x', 'y'}));
}

TEST(LoadgenMqtt, PacketsSplitAtAnyByteComeOutWholeAndInOrder)
{
    const std::vector<std::pair<Bytes, Bytes>> sent = {
        {"ch1", Text(0, 1)}, {"ch2", Bytes(200, 'p')}, {"fan", "r0001"}, {"ch1", ""}};
    Bytes wire = Hex({0x20, 2, 0, 0});  // a CONNACK between them
    for (const auto& [topic, payload] : sent)
        MqttAppendPublish(wire, topic, payload);
    wire += Hex({0xD0, 0});  // PINGRESP
    for (size_t cut = 0; cut <= wire.size(); ++cut) {
        Bytes in = wire.substr(0, cut);
        size_t at = 0;
        std::vector<TMqttPacket> got;
        std::vector<std::pair<Bytes, Bytes>> published;
        auto drain = [&] {
            TMqttPacket p;
            TTake took;
            while ((took = MqttNext(in, at, p)) == TTake::Got) {
                got.push_back(p);
                if (p.Type == MqttPublish)
                    published.emplace_back(Bytes(p.Topic), Bytes(p.Payload));
            }
            ASSERT_EQ(took, TTake::NeedMore) << cut;
        };
        drain();
        in += wire.substr(cut);
        drain();
        ASSERT_EQ(at, wire.size()) << cut;
        ASSERT_EQ(got.size(), sent.size() + 2) << cut;
        EXPECT_EQ(got.front().Type, MqttConnAck);
        EXPECT_EQ(got.back().Type, MqttPingResp);
        EXPECT_EQ(published, sent) << cut;
    }
}

TEST(LoadgenMqtt, PublishAtHigherQosLeavesItsPacketIdentifierOutOfThePayload)
{
    Bytes wire = Hex({0x32, 8, 0, 1, 't', 0x12, 0x34, 'a', 'b', 'c'});
    size_t at = 0;
    TMqttPacket p;
    ASSERT_EQ(MqttNext(wire, at, p), TTake::Got);
    EXPECT_EQ(p.Topic, "t");
    EXPECT_EQ(p.Payload, "abc");
}

TEST(LoadgenMqtt, RefusesWhatNoBrokerSends)
{
    const std::vector<std::pair<const char*, Bytes>> bad = {
        {"a length of five bytes", Hex({0x30, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F})},
        {"a length over the bound", Hex({0x30, 0x81, 0x80, 0x40})},
        {"a topic longer than the packet", Hex({0x30, 4, 0, 9, 'a', 'b'})},
        {"a publish too short for its topic length", Hex({0x30, 1, 0})},
    };
    for (const auto& [name, wire] : bad) {
        size_t at = 0;
        TMqttPacket p;
        EXPECT_EQ(MqttNext(wire, at, p), TTake::Bad) << name;
        EXPECT_EQ(at, 0u) << name;
    }
}

// --- NATS ------------------------------------------------------------------------------------

TEST(LoadgenNats, WritesTheProtocolsLines)
{
    Bytes pub;
    NatsAppendPub(pub, "ch1", "hello");
    EXPECT_EQ(pub, "PUB ch1 5\r\nhello\r\n");
    EXPECT_EQ(NatsSubLine("fan", 7), "SUB fan 7\r\n");
    EXPECT_EQ(NatsConnectLine().substr(0, 9), "CONNECT {");
    EXPECT_EQ(NatsConnectLine().substr(NatsConnectLine().size() - 3), "}\r\n");
}

TEST(LoadgenNats, OperationsSplitAtAnyByteComeOutWholeAndInOrder)
{
    const Bytes wire = "INFO {\"server_id\":\"x\"}\r\nPING\r\nMSG ch1 1 5\r\nhello\r\n"
                       "MSG  ch2 9 reply.to 4\r\na\r\nb\r\n+OK\r\nMSG fan 2 0\r\n\r\nPONG\r\n";
    using K = TNatsOp::TKind;
    for (size_t cut = 0; cut <= wire.size(); ++cut) {
        Bytes in = wire.substr(0, cut);
        size_t at = 0;
        std::vector<K> kinds;
        std::vector<Bytes> msgs;
        auto drain = [&] {
            TNatsOp op;
            TTake took;
            while ((took = NatsNext(in, at, op)) == TTake::Got) {
                kinds.push_back(op.Kind);
                if (op.Kind == K::Msg)
                    msgs.push_back(Bytes(op.Subject) + "|" + Bytes(op.Sid) + "|" + Bytes(op.Payload));
            }
            ASSERT_EQ(took, TTake::NeedMore) << cut;
        };
        drain();
        in += wire.substr(cut);
        drain();
        ASSERT_EQ(at, wire.size()) << cut;
        EXPECT_EQ(kinds, (std::vector<K>{K::Info, K::Ping, K::Msg, K::Msg, K::Ok, K::Msg, K::Pong})) << cut;
        EXPECT_EQ(msgs, (std::vector<Bytes>{"ch1|1|hello", "ch2|9|a\r\nb", "fan|2|"})) << cut;
    }
}

TEST(LoadgenNats, RefusesWhatNoServerSends)
{
    const std::vector<std::pair<const char*, Bytes>> bad = {
        {"a payload longer than announced", "MSG ch1 1 3\r\nhello\r\n"},
        {"too few fields", "MSG ch1 5\r\nhello\r\n"},
        {"too many fields", "MSG ch1 1 r x 5\r\nhello\r\n"},
        {"a length that is no number", "MSG ch1 1 5x\r\nhello\r\n"},
        {"a payload over the bound", "MSG ch1 1 99999999999\r\n"},
        {"an unknown operation", "HELLO\r\n"},
        {"a line without end", Bytes(NatsMaxLine + 1, 'M')},
        {"a line over the bound", "INFO " + Bytes(NatsMaxLine, '{') + "\r\n"},
    };
    for (const auto& [name, wire] : bad) {
        size_t at = 0;
        TNatsOp op;
        EXPECT_EQ(NatsNext(wire, at, op), TTake::Bad) << name;
        EXPECT_EQ(at, 0u) << name;
    }
}

// --- the two together, as the relay reads a receiver's stream ------------------------------

// What a receiver's check finds in a stream of deliveries of the given sequence numbers.
template <class TDecode>
long FaultsIn(const Bytes& wire, uint32_t sent, TDecode decode)
{
    TSequenceCheck check(5, 64);
    long faults = 0;
    size_t at = 0;
    std::string_view payload;
    while (decode(wire, at, payload)) {
        TText got;
        if (check.Accept(payload, got) != TVerdict::Ok)
            ++faults;
    }
    EXPECT_EQ(at, wire.size());
    return faults + check.Missing(sent);
}

TEST(LoadgenCheck, LossAndReorderingShowThroughEitherFraming)
{
    auto mqtt = [](const Bytes& w, size_t& at, std::string_view& payload) {
        TMqttPacket p;
        if (MqttNext(w, at, p) != TTake::Got)
            return false;
        payload = p.Payload;
        return true;
    };
    auto nats = [](const Bytes& w, size_t& at, std::string_view& payload) {
        TNatsOp op;
        if (NatsNext(w, at, op) != TTake::Got)
            return false;
        payload = op.Payload;
        return true;
    };
    // The broker sends PUBLISH as the publisher did; the NATS server delivers a MSG.
    auto stream = [](bool asMqtt, std::initializer_list<uint32_t> seqs) {
        Bytes w;
        for (uint32_t s : seqs) {
            if (asMqtt)
                MqttAppendPublish(w, "ch5", Text(s, 5));
            else
                w += "MSG ch5 1 64\r\n" + Text(s, 5) + "\r\n";
        }
        return w;
    };
    for (bool asMqtt : {true, false}) {
        const char* name = asMqtt ? "MQTT" : "NATS";
        auto faults = [&](std::initializer_list<uint32_t> seqs, uint32_t sent) {
            return asMqtt ? FaultsIn(stream(true, seqs), sent, mqtt) : FaultsIn(stream(false, seqs), sent, nats);
        };
        EXPECT_EQ(faults({0, 1, 2, 3}, 4), 0) << name;
        EXPECT_GT(faults({0, 1, 3}, 4), 0) << name << ": lost";
        EXPECT_GT(faults({0, 2, 1, 3}, 4), 0) << name << ": reordered";
        EXPECT_GT(faults({0, 1, 1, 2}, 3), 0) << name << ": duplicated";
        EXPECT_GT(faults({0, 1}, 3), 0) << name << ": the last lost";
    }
}

}  // namespace
