#pragma once
// A messenger client for tests: frames packets and reads them back, keeping the loop running.
#include <cstdint>
#include <string>
#include <vector>

#include "core/ActivityLog.h"
#include "messenger/ZZProtocol.h"
#include "support/Loopback.h"

struct TPacket {
    uint32_t Type = 0;
    ByteString Payload;
    bool Valid = false;
};

class TZzPeer : public TPeer {
public:
    using TPeer::TPeer;
    void SendPacket(uint32_t type, ByteView payload);
    static ByteString Frame(uint32_t type, ByteView payload);
    // The next packet, or one with Valid false when none arrives in time.
    TPacket ReadPacket(int timeoutMs = 3000);
    // Reads the greeting and logs in as user; true when both answers came.
    bool Login(uint32_t user);
};

// An activity log that keeps its entries and their colours.
class TMemoryLog : public TActivityLog {
public:
    void Append(ByteView line) override
    {
        Lines.emplace_back(line);
        Colours.push_back(Colour);
    }
    void SetColour(TLogColour colour) override { Colour = colour; }
    std::vector<ByteString> Lines;
    std::vector<TLogColour> Colours;
    TLogColour Colour = clBlue;
};

// Payload helpers.
ByteString U32(uint32_t v);
