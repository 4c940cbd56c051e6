#pragma once
// The messenger server: listens on one port (8074), keeps one TZzClient per connection, and
// turns each client's byte stream into packets (OnClientCommand). It knows nothing of what the
// packets mean; the command handler does.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/ByteString.h"
#include "messenger/ZzCounters.h"
#include "messenger/ZzUserIndex.h"
#include "net/WSocketS.h"

class TZzGenericSerwer;

// One messenger connection and everything the server knows of its user.
class TZzClient : public TWSocketClient {
public:
    explicit TZzClient(TCustomWSocketServer* owner);
    ~TZzClient() override;

    ByteString ReceiveBuffer;  // received, not yet consumed as whole packets
    // Room the receive buffer may keep when it holds little (see ClientDataAvailable).
    static constexpr size_t KeptReceiveRoom = 64 * 1024;
    uint32_t Status = 0;
    ByteString ContactsReply;
    ByteString UserListData;
    // The upload in progress did not fit in the server's room for user lists: its remaining
    // pieces are not kept (see TZzGenericSerwer::UserListLimit).
    bool UserListRefused = false;
    // Not read now: held at the end of its turn, or (HeldAtBound) because its packets fed
    // queues that are behind while all queues are at their bound (TZzSerwer::ClientReceived).
    bool ReadPaused = false;
    bool HeldAtBound = false;
    // Its peer closed while it was not read: what is left to read is all it will send.
    bool PeerClosed = false;

    // The number named at login; 0 before it.
    uint32_t UserNumber() const { return FUserNumber; }
    // The number a login packet named. Written only through here, so that the server's lookup
    // by number always agrees; from then on the client counts as logged in.
    void SetUserNumber(uint32_t number);
    bool LoggedIn() const { return FLoggedIn; }
    // Order of acceptance among the server's clients (0 while not filed with a server).
    uint64_t AcceptSequence() const { return FAcceptSequence; }

protected:
    void ClosedWhileReadHeld() override;

private:
    friend class TZzGenericSerwer;
    friend class TZzSerwer;
    friend class TZzUserIndex;
    TZzGenericSerwer* FSerwer = nullptr;  // the server it is filed with; it outlives the client
    // Whether its reader keeps up: watched while its queue is behind, with what the reader owes
    // at the minimum rate since (see TZzSerwer::DropStalledReaders).
    bool FStallWatched = false;
    int64_t FStallCheckedMs = 0;
    uint64_t FStallAcked = 0;
    uint64_t FStallDebt = 0;
    uint64_t FAcceptSequence = 0;
    uint32_t FUserNumber = 0;
    bool FLoggedIn = false;
    bool FAwaitingLogin = false;  // listed among the clients still to log in, oldest first
    int64_t FAcceptedMs = 0;
    TZzClient* FAwaitingPrev = nullptr;
    TZzClient* FAwaitingNext = nullptr;
};

using TZzClientEvent = std::function<void(TZzGenericSerwer* Sender, TZzClient* Client)>;
using TZzReceiveEvent = std::function<void(TZzGenericSerwer* Sender, TZzClient* Client, ByteView Data)>;
using TZzDebugLogEvent = std::function<void(TZzGenericSerwer* Sender, const std::string& LogMessage)>;
using TZzServerClosedEvent = std::function<void(TZzGenericSerwer* Sender, uint16_t Error)>;
using TZzNotifyEvent = std::function<void(TZzGenericSerwer* Sender)>;
using TZzCommandEvent = std::function<void(TZzClient* ASender, int32_t ACommand, ByteView AZawartosc)>;

class TZzGenericSerwer {
public:
    explicit TZzGenericSerwer(TEventLoop& loop = TEventLoop::Default());
    virtual ~TZzGenericSerwer();
    TZzGenericSerwer(const TZzGenericSerwer&) = delete;
    TZzGenericSerwer& operator=(const TZzGenericSerwer&) = delete;

    bool Active = false;
    TZzClientEvent OnClientConnect;
    TZzReceiveEvent OnClientDataAvailable;
    TZzClientEvent OnClientDisconnect;
    TZzDebugLogEvent OnDebugLog;
    TZzServerClosedEvent OnServerClosed;
    TZzNotifyEvent OnServerListening;
    TZzCommandEvent OnClientCommand;
    // What the service has done; the handlers count what only they see.
    TZzCounters Counters;

    // Milliseconds a connection may take to send its login packet before it is closed; 0: no
    // limit. Logged-in connections are never closed for being quiet.
    int32_t GetLoginTimeoutMs() const { return FLoginTimeoutMs; }
    void SetLoginTimeoutMs(int32_t value);

    int32_t GetPort() const { return FPort; }
    virtual void SetPort(int32_t value);
    TWSocketClientClass GetClientClass() const;
    virtual void SetClientClass(TWSocketClientClass value);
    TWSocketServer& SocketServer() { return *FSocketServer; }

    // The error text comes back empty on success, with the socket layer's message otherwise.
    virtual void Open(std::string& errorText);
    virtual void Close();
    virtual void CloseSocketServer();

    int ClientCount() const { return FSocketServer->ClientCount(); }
    TZzClient* Client(int index) const { return static_cast<TZzClient*>(FSocketServer->Client(index)); }

    // The first client in accept order whose user number is `number`: what a walk of the client
    // list from index 0 finds, without the walk. The second form passes by clients whose
    // connection has closed and that are not freed yet.
    TZzClient* FirstWithNumber(uint32_t number) const { return FIndex.First(number); }
    TZzClient* FirstConnectedWithNumber(uint32_t number) const { return FIndex.FirstConnected(number); }

    // What the stored user lists of all connections may hold together; an upload that does not
    // fit is refused (the command handler tells the client). Counted by the lists' capacity.
    static constexpr size_t DefaultUserListLimit = 256 * 1024 * 1024;
    size_t UserListLimit = DefaultUserListLimit;
    size_t UserListBytes() const { return FUserListBytes; }
    // A client's UserListData was given this capacity instead of that one.
    void UserListResized(size_t before, size_t after)
    {
        FUserListBytes = FUserListBytes - std::min(before, FUserListBytes) + after;
    }

protected:
    virtual void ServerBgException(TCustomWSocket* sender, const std::exception& e, bool& canClose);
    virtual void DoClientConnect(TZzClient* client);
    virtual void DoClientDataAvailable(TZzClient* client, ByteView data);
    virtual void DoClientDisconnect(TZzClient* client);
    virtual void DoDebugLog(const std::string& text);
    virtual void DoServerClosed(uint16_t error);
    virtual void DoServerListening();
    virtual void AfterListen(std::string& errorText);
    virtual void ClientDataAvailable(TCustomWSocket* sender, uint16_t error);
    virtual void ServerClientConnect(TCustomWSocketServer* sender, TWSocketClient* client, uint16_t error);
    virtual void ServerClientDisconnect(TCustomWSocketServer* sender, TWSocketClient* client, uint16_t error);
    virtual void ServerSessionClosed(TCustomWSocket* sender, uint16_t error);
    virtual void ClientReceived(TZzClient* client, ByteView data) = 0;
    // The peer of a client that is not read now has closed.
    virtual void ClientClosedWhileHeld(TZzClient*) {}

    int32_t FPort = 0;
    bool FDestroying = false;

private:
    friend class TZzClient;
    // One delayed notification at a time wakes the login sweep.
    class TLoginSweep : public TNotificationTarget {
    public:
        TLoginSweep(TEventLoop& loop, TZzGenericSerwer& owner);
        ~TLoginSweep() override;
        void Post(int delayMs);
        void WndProc(TMessage&) override;

    private:
        TEventLoop& FLoop;
        TZzGenericSerwer& FOwner;
        TEventLoop::TEndpoint FEndpoint;
    };

    void AdmitClient(TWSocketClient* client);
    void ClientLoggedIn(TZzClient* client, uint32_t number);
    void ClientFreed(TZzClient* client);
    void StopAwaitingLogin(TZzClient* client);
    void ScheduleLoginSweep();
    void SweepLogins();

    int32_t FLoginTimeoutMs = 60 * 1000;
    // Clients that have not logged in, in accept order, which is also the order of their deadlines.
    TZzClient* FAwaitingFirst = nullptr;
    TZzClient* FAwaitingLast = nullptr;
    int64_t FSweepDueMs = -1;  // when the posted sweep runs; -1: none posted
    TLoginSweep FLoginSweep;
    // Both declared before the listening server: its clients leave them when freed.
    TZzUserIndex FIndex;
    size_t FUserListBytes = 0;
    std::unique_ptr<TWSocketServer> FSocketServer;
    ByteString FReadBuffer;  // what one read brings, before the reassembly takes it
};

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
    void DispatchPackets(TZzClient* client, bool inTurns);
    bool Hold(TZzClient* client);  // stops reading it; false when it is held already
    // Whether a client whose packet fed a queue that is behind, over the bound, is held for it.
    bool HoldsAtBound(const TZzClient* client) const;
    void HoldAtBound(TZzClient* client);
    void YieldTurn(TZzClient* client);
    void ResumeReaders();
    void DropStalledReaders();
    void CheckHeldForClose();
    bool NeedsStallCheck() const;

    TEventLoop& FLoop;
    std::vector<TZzClient*> FWaiting;  // not read now: held at the bound or at their turn's end
    std::unique_ptr<TReadGate> FGate;
};

// Frames one packet and queues it on the client. A client whose connection has already closed
// (its object not yet freed) gets nothing and nothing is raised.
void SendPacket(TZzClient* client, uint32_t type, ByteView payload);
// A whole packet (header included) that several clients receive: framed and held once.
TSharedBytes SharedPacket(TEventLoop& loop, uint32_t type, ByteView payload);
// Queues a packet made by SharedPacket, as SendPacket queues its own.
void SendSharedPacket(TZzClient* client, const TSharedBytes& packet);
