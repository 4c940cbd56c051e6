#include "net/WSocketS.h"

TWSocketClient::TWSocketClient(TCustomWSocketServer* owner) : TWSocket(owner->Loop()), FOwner(owner)
{
    FCounters = &owner->Counters;
}

TWSocketClient::~TWSocketClient()
{
    BeginDestroy();
    if (FOwner)
        FOwner->RemoveClient(this);
}

void TWSocketClient::Dup(TSocket newHSocket)
{
    TWSocket::Dup(newHSocket);
    if (FState != wsConnected)
        return;
    FAdopted = true;
    ++FCounters->Accepted;
    // Sends are gathered per round already: waiting for more (Nagle) would only add latency.
    SocketSetOption(FHSocket, IPPROTO_TCP, TCP_NODELAY, 1);
    // Asked quietly: a peer that reset before being adopted must not raise out of the accept
    // and stop the listener; its address just reads "error".
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    if (getpeername(FHSocket, reinterpret_cast<sockaddr*>(&sin), &len) == 0) {
        FPeerIn = sin.sin_addr;
        FPeerPortNumber = ntohs(sin.sin_port);
        FPeerKnown = true;
    } else if (int code = SocketLastError(); code == WSAENOTCONN || code == WSAECONNRESET) {
        // Reset while it waited to be accepted: some systems (Wine) report nothing more of such
        // a connection, which would then stay for ever. Its close is reported here instead, and
        // takes the usual road: what it sent before the reset is read first. Where the system
        // reports the close too, the second report finds the session ended and does nothing.
        PostMessageToSelf(WM_ASYNCSELECT, static_cast<uintptr_t>(FHSocket), MakeSelectLParam(FD_CLOSE, WSAECONNRESET));
    }
}

std::string TWSocketClient::PeerAddr()
{
    if (!FPeerKnown)
        return "error";
    char text[INET_ADDRSTRLEN];
    return inet_ntop(AF_INET, &FPeerIn, text, sizeof text);
}

std::string TWSocketClient::PeerPort()
{
    return FPeerKnown ? std::to_string(FPeerPortNumber) : "error";
}

void TWSocketClient::SendBanner()
{
    if (!Banner.empty())
        SendString(Banner + "\r\n");
}

void TWSocketClient::NotifyServerClosed()
{
    if (FClosedNotified)
        return;
    FClosedNotified = true;
    // Every connection accepted is counted once as ended, so that accepted less ended is open.
    if (FAdopted)
        ++FCounters->Closed[FCloseCause == ccNone ? ccServer : FCloseCause];
    if (Server)
        Server->PostClientClosed(this);
}

void TWSocketClient::TriggerSessionClosed(uint16_t error)
{
    MarkCloseCause(error != 0 ? ccError : ccClientClosed);  // unless the server ended it
    NotifyServerClosed();
    TWSocket::TriggerSessionClosed(error);
}

void TWSocketClient::SessionDropped()
{
    // No session-closed event follows a dropped handle; the client must still leave the list.
    MarkCloseCause(ccError);
    NotifyServerClosed();
}

// ---------------------------------------------------------------------------------------------

TCustomWSocketServer::TCustomWSocketServer(TEventLoop& loop) : TWSocket(loop)
{
    ClientClass = [](TCustomWSocketServer* owner) { return new TWSocketClient(owner); };
}

TCustomWSocketServer::~TCustomWSocketServer()
{
    BeginDestroy();
    // Last to first; each destructor leaves a gap where its client stood.
    while (!FClientList.empty()) {
        TWSocketClient* last = FClientList.back();
        if (!last) {
            FClientList.pop_back();
            --FHoles;
            continue;
        }
        try {
            delete last;
        } catch (...) {
        }
    }
}

TWSocketClient* TCustomWSocketServer::Client(int index) const
{
    if (index < 0 || index >= ClientCount())
        return nullptr;
    if (FHoles > 0)
        Compact();
    return FClientList[static_cast<size_t>(index)];
}

void TCustomWSocketServer::Compact() const
{
    size_t kept = 0;
    for (TWSocketClient* c : FClientList) {
        if (!c)
            continue;
        c->FListIndex = kept;
        FClientList[kept++] = c;
    }
    FClientList.resize(kept);
    FHoles = 0;
}

void TCustomWSocketServer::AddClient(TWSocketClient* client)
{
    client->FListIndex = FClientList.size();
    client->FListSerial = FNextListSerial++;
    FClientList.push_back(client);
    FListed.insert(client);
}

void TCustomWSocketServer::RemoveClient(TWSocketClient* client)
{
    if (FListed.erase(client) == 0)
        return;
    FClientList[client->FListIndex] = nullptr;
    ++FHoles;
    while (!FClientList.empty() && !FClientList.back()) {
        FClientList.pop_back();
        --FHoles;
    }
    // Closed here rather than at the next look only when they are many: a server whose list
    // is never walked must not keep a gap for every client it ever had.
    if (FHoles * 2 > FClientList.size())
        Compact();
}

void TCustomWSocketServer::PostClientClosed(TWSocketClient* client)
{
    PostMessageToSelf(WM_CLIENT_CLOSED, static_cast<uintptr_t>(client->FListSerial), reinterpret_cast<intptr_t>(client));
}

void TCustomWSocketServer::ClientClosed(TWSocketClient* client, uintptr_t serial)
{
    // The reference is used only while the client is still one of ours, and the same listing:
    // a client freed by another path may have left its address to a newer one.
    if (!IsClient(client) || static_cast<uintptr_t>(client->FListSerial) != serial)
        return;
    try {
        // A client whose accept or adoption failed never connected: it is freed unannounced.
        if (OnClientDisconnect && client->Adopted())
            OnClientDisconnect(this, client, 0);
    } catch (...) {
        delete client;
        throw;
    }
    delete client;
}

void TCustomWSocketServer::Dispatch(TMessage& msg)
{
    if (msg.Msg == WM_CLIENT_CLOSED) {
        ClientClosed(reinterpret_cast<TWSocketClient*>(msg.LParam), msg.WParam);
        return;
    }
    TWSocket::Dispatch(msg);
}

void TCustomWSocketServer::DoFdAccept(uint16_t error)
{
    TWSocket::DoFdAccept(error);
    if (error != 0)
        return;
    ++FClientNum;
    TWSocketClient* client = ClientClass(this);
    AddClient(client);
    if (OnClientCreate)
        OnClientCreate(this, client);
    client->Name = Name + "Client" + std::to_string(FClientNum);
    client->Banner = Banner;
    client->Server = this;

    TSocket handle = INVALID_SOCKET;
    try {
        handle = Accept();
    } catch (...) {
        client->NotifyServerClosed();  // never connected: it must not stay in the list
        throw;
    }
    if (handle == INVALID_SOCKET) {
        client->NotifyServerClosed();
        return;
    }
    try {
        client->Dup(handle);
    } catch (...) {
        if (client->Handle() != handle)
            SocketClose(handle);
        client->NotifyServerClosed();
        throw;
    }
    if (client->State() != wsConnected) {
        client->NotifyServerClosed();
        return;
    }

    if (OnClientConnect)
        OnClientConnect(this, client, 0);
    if (!IsClient(client) || client->State() != wsConnected)
        return;
    if (MaxClients > 0 && ClientCount() > MaxClients) {
        client->Banner = BannerToBusy;
        client->SendBanner();
        client->Close();
    } else {
        client->SendBanner();
    }
}
