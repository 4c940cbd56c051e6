#pragma once
// A messenger server with the command handler bound, a log kept in memory and a random draw
// with a known seed, so that every sequence number can be predicted.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/Znaki.h"
#include "messenger/ZzSerwer.h"
#include "protocol/CommandHandler.h"
#include "support/ZzPeer.h"

struct ProtocolTest : ::testing::Test {
    static constexpr uint32_t Seed = 12345;
    TZzSerwer Serwer;
    TMemoryLog Log;
    TRandomDraw Random{Seed};
    TRandomDraw Expected{Seed};  // advanced by the test alongside the server's draws
    TZzCommandHandler Handler{Serwer, Log, Random};
    std::vector<std::unique_ptr<TZzPeer>> Peers;

    void SetUp() override
    {
        Handler.Bind();
        Serwer.SetPort(0);
        std::string error;
        Serwer.Open(error);
        ASSERT_EQ(error, "");
    }

    // Connects, reads the greeting and (unless user is nullopt) logs in.
    TZzPeer& Connect(std::optional<uint32_t> user = std::nullopt)
    {
        Peers.push_back(std::make_unique<TZzPeer>(BoundPort(Serwer.SocketServer())));
        TZzPeer& p = *Peers.back();
        TPacket welcome = p.ReadPacket();
        EXPECT_TRUE(welcome.Valid);
        EXPECT_EQ(welcome.Type, spWelcome);
        EXPECT_EQ(BytesToUInt32(welcome.Payload), Expected.Random(MaxDraw));
        if (user) {
            p.SendPacket(cpLogin, U32(*user));
            TPacket ok = p.ReadPacket();
            EXPECT_EQ(ok.Type, spLoginOk);
        }
        return p;
    }

    TZzClient* ClientOf(size_t index) { return Serwer.Client(static_cast<int>(index)); }

    // Waits until the log has n lines.
    bool LogLines(size_t n) { return RunUntil([&] { return Log.Lines.size() >= n; }); }
    // Whether nothing arrives at the peer for a short while.
    static bool Silent(TZzPeer& p) { return p.ReadFor(60).empty(); }

    static ByteString Cp(const char* utf8) { return Znaki::ToCp1250(utf8); }
    ByteString SystemMessageHeader(uint32_t sender)
    {
        return U32(sender) + U32(Expected.Random(MaxDraw)) + U32(0) + U32(4);
    }
};
