#pragma once
// The messenger server: turns each client's byte stream into packets (OnClientCommand), in
// turns so that one connection never holds the others, and holds back whoever feeds readers
// that do not keep up. It knows nothing of what the packets mean; the command handler does.
// The receive path is ZzSerwer.cpp, the back-pressure ZzReadGate.cpp.
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "messenger/ZzGenericSerwer.h"
#include "messenger/ZzSend.h"

// Back-pressure. Once all send queues together hold the loop's TSendQueueTotal::Limit (256 MiB
// by default), a connection whose packet fed another connection's queue that is behind (the
// network refused part of it) is not read any more (no read readiness is asked for) and the
// rest of what it sent waits, until the total is back under three quarters of the limit:
// whoever feeds the stuck is slowed down, nobody else, and nobody who reads loses anything.
// What a connection queues for itself (an acknowledgement, its user list) never holds it, and
// neither does feeding others while its own queue is behind: such a client is most likely
// waiting for its write to end before it reads again, up to the hard limit (twice the bound).
//
// Readers that stop are dropped; readers that keep reading are kept. A queue is watched while
// it is congested (from SlowReaderMark bytes until it has drained to half of that) and, while
// the total is over its bound, whenever it is behind at all, whatever its size. While watched,
// its reader owes MinReaderRate bytes a second, paid by what the peer acknowledged (what it
// really took, not what waits in the system's buffer); a reader that owes SlowReaderTimeoutMs
// worth of it (it took nothing for that long, or takes a trickle) is aborted. So a reader may
// pause for up to that long and catch up, and any reader at MinReaderRate or more stays.
// A client is aborted at once when what its queue holds of its own passes the loop's
// TSendQueueTotal::QueueLimit (32 MiB by default; shared broadcasts count once, in the total).
//
// Receive room. A packet up to TZzClient::KeptReceiveRoom long is put together in the client's
// own buffer. A longer one (up to MaxPacketLength) needs room in what all connections share,
// ReceiveRoomLimit bytes: granted for the whole packet when its header has come, given back
// when it has been handled. A client whose long packet does not fit waits, not read and losing
// nothing, until room is given back, first come first served; everyone else goes on. Room once
// granted is never taken back while its packet keeps coming, so nobody waits for a packet that
// cannot be completed; but a client that keeps room while others wait and does not finish its
// packet at MinReaderRate (plus SlowReaderTimeoutMs) is aborted. A client whose peer closed
// while it waited is given room anyway: it has no more to send than the system already holds.
inline constexpr size_t SlowReaderMark = 1024 * 1024;
inline constexpr int DefaultSlowReaderTimeoutMs = 10000;
inline constexpr int DefaultMinReaderRate = 32 * 1024;

class TZzSerwer : public TZzGenericSerwer {
public:
    // A declared payload longer than this ends the connection: no client sends such packets,
    // and waiting for one would let a single connection hold any amount of memory.
    static constexpr uint32_t MaxPacketLength = 1024 * 1024;
    // One connection's turn: at most this many packets, or packets that queued this much for
    // others (a status change queues 22 bytes per user online), before the others' turn.
    static constexpr int MaxPacketsPerTurn = 64;
    static constexpr uint64_t MaxQueuedPerTurn = 64 * 1024;

    explicit TZzSerwer(TEventLoop& loop = TEventLoop::Default());
    ~TZzSerwer() override;

    // Clients not read now, and those of them held at the bound of all queues.
    int PausedClients() const { return static_cast<int>(FWaiting.size()); }
    int HeldAtBoundClients() const;
    int SlowReaderTimeoutMs = DefaultSlowReaderTimeoutMs;
    static constexpr size_t DefaultReceiveRoomLimit = 256 * 1024 * 1024;
    size_t ReceiveRoomLimit = DefaultReceiveRoomLimit;
    size_t ReceiveRoomUsed() const { return FRoomUsed; }
    int RoomWaitingClients() const { return static_cast<int>(FRoomWaiting.size()); }
    int MinReaderRate = DefaultMinReaderRate;  // bytes a second

protected:
    void ClientReceived(TZzClient* client, ByteView data) override;
    void ServerClientDisconnect(TCustomWSocketServer* sender, TWSocketClient* client, uint16_t error) override;
    void ClientClosedWhileHeld(TZzClient* client) override;

private:
    // Hears when congestion clears (Flush) and ticks the check for stalled queues (WndProc).
    class TReadGate : public TNotificationTarget {
    public:
        TReadGate(TZzSerwer& owner, TEventLoop& loop);
        ~TReadGate() override;
        void WndProc(TMessage& msg) override;
        void Flush() override;
        void RequestCheck() { FLoop.RequestFlush(FEndpoint); }
        void ScheduleStallCheck();
        // The clients whose turn ended with packets left go on in the next round.
        void PostContinue();

    private:
        static constexpr uint32_t ContinueMessage = 1;
        TZzSerwer& FOwner;
        TEventLoop& FLoop;
        TEventLoop::TEndpoint FEndpoint;
        bool FStallCheckPosted = false;
        bool FContinuePosted = false;
    };

    // The complete packets at the front of the client's buffer, in order: in turns while it is
    // read, all of them once its connection has ended.
    // The packets waiting in the client's buffer; the second form those of bytes from consumed
    // on, counting each as consumed before its handler runs.
    void DispatchPackets(TZzClient* client, bool inTurns);
    void DispatchPackets(TZzClient* client, ByteView bytes, size_t& consumed, bool inTurns);
    bool Hold(TZzClient* client);  // stops reading it; false when it is held already
    // Whether a client whose packet fed a queue that is behind, over the bound, is held for it.
    bool HoldsAtBound(const TZzClient* client) const;
    void HoldAtBound(TZzClient* client);
    void YieldTurn(TZzClient* client);
    // Room for the packet of `need` bytes at the front of the client's buffer; the client is
    // held until there is (see the rules above).
    void ReserveRoom(TZzClient* client, size_t need);
    void ReleaseRoom(TZzClient* client);
    void AdmitToRoom(TZzClient* client);
    void AdmitWaitingForRoom();
    void DropSlowPackets();
    void ResumeReaders();
    void DropStalledReaders();
    void CheckHeldForClose();
    bool NeedsStallCheck() const;

    TEventLoop& FLoop;
    std::vector<TZzClient*> FWaiting;  // not read now: held at the bound or at their turn's end
    size_t FRoomUsed = 0;
    std::deque<TZzClient*> FRoomWaiting;  // held for room, first come first
    std::vector<TZzClient*> FRoomHolders;
    std::unique_ptr<TReadGate> FGate;
};
