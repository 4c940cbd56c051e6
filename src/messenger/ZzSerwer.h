#pragma once
// The messenger server: listens on one port (8074), keeps one TZzClient per connection, and
// turns each client's byte stream into packets (OnClientCommand). It knows nothing of what the
// packets mean; the command handler does.
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
    // Not read while the send queues it added to are congested (TZzSerwer::ClientReceived).
    bool ReadPaused = false;

    // The number named at login; 0 before it.
    uint32_t UserNumber() const { return FUserNumber; }
    // The number a login packet named. Written only through here, so that the server's lookup
    // by number always agrees; from then on the client counts as logged in.
    void SetUserNumber(uint32_t number);
    bool LoggedIn() const { return FLoggedIn; }
    // Order of acceptance among the server's clients (0 while not filed with a server).
    uint64_t AcceptSequence() const { return FAcceptSequence; }

private:
    friend class TZzGenericSerwer;
    friend class TZzUserIndex;
    TZzGenericSerwer* FSerwer = nullptr;  // the server it is filed with; it outlives the client
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
    std::unique_ptr<TWSocketServer> FSocketServer;
    ByteString FReadBuffer;  // what one read brings, before the reassembly takes it
};

// Back-pressure. Once all send queues together hold the loop's TSendQueueTotal::Limit (256 MiB
// by default), a connection whose packet was queued is not read any more (no read readiness is
// asked for) and the rest of what it sent waits, until the total is back under three quarters
// of the limit: senders are slowed down, and nobody who reads loses anything.
// One reader that does not keep up holds nobody else back: its queue, from SlowReaderMark bytes
// until it has drained to half of that, is congested, and a congested queue that has not sent
// half a mark for SlowReaderTimeoutMs belongs to a client that has stopped reading (or takes a
// trickle): it is aborted.
inline constexpr size_t SlowReaderMark = 1024 * 1024;
inline constexpr int DefaultSlowReaderTimeoutMs = 10000;
// A client is aborted at once when this much waits unsent for it (shared broadcast payloads
// counted in full): back-pressure keeps well-behaved readers far below it.
inline constexpr size_t MaxUnsentPerClient = 32 * 1024 * 1024;

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

    int PausedClients() const { return static_cast<int>(FWaiting.size()); }
    int SlowReaderTimeoutMs = DefaultSlowReaderTimeoutMs;

protected:
    void ClientReceived(TZzClient* client, ByteView data) override;
    void ServerClientDisconnect(TCustomWSocketServer* sender, TWSocketClient* client, uint16_t error) override;

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

    bool Hold(TZzClient* client);  // stops reading it; false when it is held already
    void PauseReading(TZzClient* client);
    void YieldTurn(TZzClient* client);
    void ResumeReaders();
    void AbortStalledQueues();

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
