#pragma once
// The listening server: a socket that listens on one port and makes one client object per
// accepted connection, keeps it in a list (in accept order) until its connection has closed,
// then tells its owner and frees it, from a posted notification, so that whatever handler was
// running when the connection closed can still use the client.
#include <cstdint>
#include <functional>
#include <unordered_set>
#include <vector>

#include "net/WSocket.h"

class TCustomWSocketServer;

class TWSocketClient : public TWSocket {
public:
    explicit TWSocketClient(TCustomWSocketServer* owner);
    ~TWSocketClient() override;

    std::string Banner;
    TCustomWSocketServer* Server = nullptr;

    void Dup(TSocket newHSocket) override;
    // The peer's address and port as text; "error" when the system could not tell them.
    std::string PeerAddr() override;
    std::string PeerPort() override;
    void SendBanner();
    // Whether a connection was ever adopted (Dup succeeded).
    bool Adopted() const { return FAdopted; }
    // Tells the server, once, that this client is done; the server frees it from the loop.
    void NotifyServerClosed();

protected:
    void TriggerSessionClosed(uint16_t error) override;
    void SessionDropped() override;

private:
    friend class TCustomWSocketServer;
    TCustomWSocketServer* FOwner;
    // Where the server lists it, and which listing this is (see TCustomWSocketServer).
    size_t FListIndex = 0;
    uint64_t FListSerial = 0;
    // Kept as the system gave them and written out when asked: the text of every idle user's
    // address would cost two strings per connection.
    in_addr FPeerIn{};
    uint16_t FPeerPortNumber = 0;
    bool FPeerKnown = false;
    bool FClosedNotified = false;
    bool FAdopted = false;
};

using TWSocketClientClass = std::function<TWSocketClient*(TCustomWSocketServer* owner)>;
using TWSocketClientCreateEvent = std::function<void(TCustomWSocketServer* Sender, TWSocketClient* Client)>;
using TWSocketClientConnectEvent =
    std::function<void(TCustomWSocketServer* Sender, TWSocketClient* Client, uint16_t Error)>;

class TCustomWSocketServer : public TWSocket {
public:
    explicit TCustomWSocketServer(TEventLoop& loop = TEventLoop::Default());
    ~TCustomWSocketServer() override;

    std::string Banner = "Welcome to TcpSrv";
    std::string BannerToBusy = "Sorry, too many clients";
    TWSocketClientClass ClientClass;
    int MaxClients = 0;
    // What the clients of this server have done (accepted, bytes, why each one ended).
    TConnectionCounters Counters;
    TWSocketClientCreateEvent OnClientCreate;
    TWSocketClientConnectEvent OnClientConnect;
    TWSocketClientConnectEvent OnClientDisconnect;

    int ClientCount() const { return static_cast<int>(FClientList.size() - FHoles); }
    TWSocketClient* Client(int index) const;
    // Whether the client is one of ours; the reference may be to a client freed meanwhile.
    bool IsClient(const TWSocketClient* client) const { return FListed.contains(client); }

protected:
    void Dispatch(TMessage& msg) override;
    void DoFdAccept(uint16_t error) override;

private:
    friend class TWSocketClient;
    void AddClient(TWSocketClient* client);
    void RemoveClient(TWSocketClient* client);
    void PostClientClosed(TWSocketClient* client);
    void ClientClosed(TWSocketClient* client, uintptr_t serial);
    // Closes the gaps that freed clients left, keeping the order.
    void Compact() const;

    // Accepting and freeing cost the same with ten thousand clients as with one: a freed
    // client leaves a gap (nullptr) where it stood, found through its own FListIndex, and the
    // gaps are closed, in order, before the next look at a position, or once they are half the
    // list. So positions are always those of a list without gaps, as the callers expect.
    mutable std::vector<TWSocketClient*> FClientList;  // owned, in accept order
    mutable size_t FHoles = 0;
    std::unordered_set<const TWSocketClient*> FListed;
    uint64_t FNextListSerial = 1;
    int FClientNum = 0;
};

class TWSocketServer : public TCustomWSocketServer {
public:
    using TCustomWSocketServer::TCustomWSocketServer;
};
