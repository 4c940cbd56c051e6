#pragma once
// What a listening server's connections have done, for the operator: how many were accepted,
// the bytes they carried and why each one ended. Kept by plain increments where the event
// happens (one thread, no lock); read whenever someone asks (the metrics endpoint, the status
// line).
#include <cstddef>
#include <cstdint>

// Why a connection ended. The socket layer tells the peer's close from an error; a server that
// ends a connection itself says why (TCustomWSocket::MarkCloseCause) before closing it, and an
// end it gives no reason for counts as ccServer. The first reason given for a session is kept.
enum TCloseCause : uint8_t {
    ccNone,                // still open (or no reason given yet)
    ccClientClosed,        // the peer closed its end
    ccLogout,              // a messenger client said it is leaving
    ccPacketTooLong,       // a messenger packet declared longer than the server takes
    ccListTooLong,         // a contact or user list past what one connection may keep
    ccSendQueueOverLimit,  // more unsent for one client than any reader lets pile up
    ccStalledReader,       // a long send queue that stopped draining
    ccSlowPacket,          // a long packet that kept receive room others waited for
    ccLoginTimeout,        // no login packet in time
    ccHttpTimeout,         // no complete HTTP request in time
    ccError,               // the network reported an error (a reset, a failed send)
    ccServer,              // closed by the server after its reply, or as it shut down
    CloseCauseCount
};

struct TConnectionCounters {
    uint64_t Accepted = 0;
    uint64_t BytesReceived = 0;
    uint64_t BytesSent = 0;
    uint64_t Closed[CloseCauseCount] = {};

    uint64_t ClosedTotal() const
    {
        uint64_t sum = 0;
        for (uint64_t n : Closed)
            sum += n;
        return sum;
    }
    // Accepted and not yet ended.
    uint64_t Open() const { return Accepted - ClosedTotal(); }
};
