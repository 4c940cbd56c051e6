#pragma once
// The listening side of the messenger server: one port (8074), one TZzClient per connection,
// filed for lookup by number and swept when it does not log in in time, and the component's
// events. Turning a client's bytes into packets is TZzSerwer's (ZzSerwer.h).
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/ByteString.h"
#include "messenger/ZzClient.h"
#include "messenger/ZzCounters.h"
#include "messenger/ZzUserIndex.h"
#include "net/WSocketS.h"

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
