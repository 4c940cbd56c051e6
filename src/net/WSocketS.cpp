#include "net/WSocketS.h"

#include <algorithm>

TWSocketClient::TWSocketClient(TCustomWSocketServer* owner) : TWSocket(owner->Loop()), FOwner(owner) {}

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
    // Sends are gathered per round already: waiting for more (Nagle) would only add latency.
    SocketSetOption(FHSocket, IPPROTO_TCP, TCP_NODELAY, 1);
    // Asked quietly: a peer that reset before being adopted must not raise out of the accept
    // and stop the listener; its address just reads "error".
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    if (getpeername(FHSocket, reinterpret_cast<sockaddr*>(&sin), &len) == 0) {
        char text[INET_ADDRSTRLEN];
        FPeerAddr = inet_ntop(AF_INET, &sin.sin_addr, text, sizeof text);
        FPeerPort = std::to_string(ntohs(sin.sin_port));
    } else if (int code = SocketLastError(); code == WSAENOTCONN || code == WSAECONNRESET) {
        // Reset while it waited to be accepted: some systems (Wine) report nothing more of such
        // a connection, which would then stay for ever. Its close is reported here instead, and
        // takes the usual road: what it sent before the reset is read first. Where the system
        // reports the close too, the second report finds the session ended and does nothing.
        PostMessageToSelf(WM_ASYNCSELECT, static_cast<uintptr_t>(FHSocket), MakeSelectLParam(FD_CLOSE, WSAECONNRESET));
    }
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
    if (Server)
        Server->PostClientClosed(this);
}

void TWSocketClient::TriggerSessionClosed(uint16_t error)
{
    NotifyServerClosed();
    TWSocket::TriggerSessionClosed(error);
}

void TWSocketClient::SessionDropped()
{
    // No session-closed event follows a dropped handle; the client must still leave the list.
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
    while (!FClientList.empty()) {
        try {
            delete FClientList.back();  // its destructor takes it out of the list
        } catch (...) {
        }
    }
}

TWSocketClient* TCustomWSocketServer::Client(int index) const
{
    if (index < 0 || index >= ClientCount())
        return nullptr;
    return FClientList[static_cast<size_t>(index)];
}

bool TCustomWSocketServer::IsClient(const TWSocketClient* client) const
{
    return std::find(FClientList.begin(), FClientList.end(), client) != FClientList.end();
}

void TCustomWSocketServer::AddClient(TWSocketClient* client)
{
    FClientList.push_back(client);
}

void TCustomWSocketServer::RemoveClient(TWSocketClient* client)
{
    auto it = std::find(FClientList.begin(), FClientList.end(), client);
    if (it != FClientList.end())
        FClientList.erase(it);
}

void TCustomWSocketServer::PostClientClosed(TWSocketClient* client)
{
    PostMessageToSelf(WM_CLIENT_CLOSED, 0, reinterpret_cast<intptr_t>(client));
}

void TCustomWSocketServer::ClientClosed(TWSocketClient* client)
{
    // The reference is used only while the client is still one of ours.
    if (!IsClient(client))
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
        ClientClosed(reinterpret_cast<TWSocketClient*>(msg.LParam));
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
