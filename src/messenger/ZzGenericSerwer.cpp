#include "messenger/ZzGenericSerwer.h"

#include <algorithm>
#include <stdexcept>

#include "core/ActivityLog.h"

TZzGenericSerwer::TZzGenericSerwer(TEventLoop& loop)
    : FLoginSweep(loop, *this), FSocketServer(std::make_unique<TWSocketServer>(loop))
{
    TWSocketServer& s = *FSocketServer;
    s.SetAddr("0.0.0.0");
    s.SetLocalAddr("0.0.0.0");
    s.SetLocalPort("0");
    s.SetProto("tcp");
    s.Banner.clear();
    s.ClientClass = [](TCustomWSocketServer* owner) { return new TZzClient(owner); };
    s.MaxClients = 0;
    s.SetLineMode(false);
    s.LineEcho = false;
    s.LineEdit = false;
    s.LingerOnOff = wsLingerOn;
    s.LingerTimeout = 0;
    s.MultiThreaded = false;
    s.SetSendFlags(wsSendNormal);
    s.OnBgException = [this](TCustomWSocket* sender, const std::exception& e, bool& canClose) {
        ServerBgException(sender, e, canClose);
    };
    // Filed as soon as it joins the client list, so that the lookup holds exactly the listed
    // clients, in list order, also those whose accept then fails.
    s.OnClientCreate = [this](TCustomWSocketServer*, TWSocketClient* c) { AdmitClient(c); };
    s.OnClientConnect = [this](TCustomWSocketServer* sender, TWSocketClient* c, uint16_t error) {
        ServerClientConnect(sender, c, error);
    };
    s.OnClientDisconnect = [this](TCustomWSocketServer* sender, TWSocketClient* c, uint16_t error) {
        ServerClientDisconnect(sender, c, error);
    };
    s.OnSessionClosed = [this](TCustomWSocket* sender, uint16_t error) { ServerSessionClosed(sender, error); };
}

TZzGenericSerwer::~TZzGenericSerwer()
{
    FDestroying = true;
    DoDebugLog("TZzGenericSerwer.Destroy");
    try {
        CloseSocketServer();
    } catch (...) {
    }
    FSocketServer.reset();  // frees every client still listed, without disconnect events
}

void TZzGenericSerwer::AdmitClient(TWSocketClient* client)
{
    auto* zz = static_cast<TZzClient*>(client);
    zz->FSerwer = this;
    FIndex.Add(zz);
    zz->FAcceptedMs = MonotonicMs();
    zz->FAwaitingLogin = true;
    zz->FAwaitingPrev = FAwaitingLast;
    (FAwaitingLast ? FAwaitingLast->FAwaitingNext : FAwaitingFirst) = zz;
    FAwaitingLast = zz;
    ScheduleLoginSweep();
}

void TZzGenericSerwer::ClientLoggedIn(TZzClient* client, uint32_t number)
{
    FIndex.Renumber(client, number);
    StopAwaitingLogin(client);
    ++Counters.Logins;
    if (!client->FLoggedIn)
        ++Counters.LoggedIn;
}

void TZzGenericSerwer::ClientFreed(TZzClient* client)
{
    FIndex.Remove(client);
    StopAwaitingLogin(client);
    UserListResized(client->UserListData.capacity(), 0);
    if (client->FLoggedIn)
        --Counters.LoggedIn;
}

void TZzGenericSerwer::StopAwaitingLogin(TZzClient* client)
{
    if (!client->FAwaitingLogin)
        return;
    client->FAwaitingLogin = false;
    (client->FAwaitingPrev ? client->FAwaitingPrev->FAwaitingNext : FAwaitingFirst) = client->FAwaitingNext;
    (client->FAwaitingNext ? client->FAwaitingNext->FAwaitingPrev : FAwaitingLast) = client->FAwaitingPrev;
    client->FAwaitingPrev = client->FAwaitingNext = nullptr;
}

void TZzGenericSerwer::SetLoginTimeoutMs(int32_t value)
{
    FLoginTimeoutMs = value < 0 ? 0 : value;
    ScheduleLoginSweep();
}

void TZzGenericSerwer::ScheduleLoginSweep()
{
    if (FLoginTimeoutMs <= 0 || !FAwaitingFirst)
        return;
    int64_t due = FAwaitingFirst->FAcceptedMs + FLoginTimeoutMs;
    if (FSweepDueMs >= 0 && FSweepDueMs <= due)
        return;  // the posted one comes in time
    FSweepDueMs = due;
    FLoginSweep.Post(static_cast<int>(std::max<int64_t>(due - MonotonicMs(), 0)));
}

void TZzGenericSerwer::SweepLogins()
{
    FSweepDueMs = -1;
    if (FLoginTimeoutMs <= 0)
        return;
    // Oldest first: the sweep ends at the first client whose time has not come, so it costs
    // what it closes, not what is connected.
    int64_t now = MonotonicMs();
    while (FAwaitingFirst && FAwaitingFirst->FAcceptedMs + FLoginTimeoutMs <= now) {
        TZzClient* late = FAwaitingFirst;
        StopAwaitingLogin(late);
        if (late->State() == wsConnected) {
            DoDebugLog("No login in time from " + late->PeerAddr() + ":" + late->PeerPort() + ", closing");
            late->MarkCloseCause(ccLoginTimeout);
            late->Close();
        }
    }
    ScheduleLoginSweep();
}

TZzGenericSerwer::TLoginSweep::TLoginSweep(TEventLoop& loop, TZzGenericSerwer& owner)
    : FLoop(loop), FOwner(owner), FEndpoint(loop.AllocateEndpoint(this))
{
}

TZzGenericSerwer::TLoginSweep::~TLoginSweep()
{
    FLoop.ReleaseEndpoint(FEndpoint);  // a sweep still due is dropped with it
}

void TZzGenericSerwer::TLoginSweep::Post(int delayMs)
{
    FLoop.PostDelayed(FEndpoint, TMessage{}, delayMs);
}

void TZzGenericSerwer::TLoginSweep::WndProc(TMessage&)
{
    FOwner.SweepLogins();
}

void TZzGenericSerwer::SetPort(int32_t value)
{
    if (Active)
        throw std::runtime_error("Port property can only be modified when proxy is not active");
    FPort = value;
}

TWSocketClientClass TZzGenericSerwer::GetClientClass() const
{
    return FSocketServer->ClientClass;
}

void TZzGenericSerwer::SetClientClass(TWSocketClientClass value)
{
    if (Active)
        throw std::runtime_error("ClientClass property can only be modified when proxy is not active");
    FSocketServer->ClientClass = std::move(value);
}

void TZzGenericSerwer::Open(std::string& errorText)
{
    errorText.clear();
    if (Active)
        return;
    try {
        FSocketServer->SetPort(std::to_string(FPort));
        FSocketServer->SetAddr("0.0.0.0");
        FSocketServer->SetProto("tcp");
        FSocketServer->Listen();
        AfterListen(errorText);
        if (!errorText.empty()) {
            DoDebugLog(FormatLog("Listen failed (%s), will close", {errorText}));
            Close();
        } else {
            Active = true;
            DoServerListening();
        }
    } catch (const ESocketException& e) {
        errorText = e.what();
    }
}

void TZzGenericSerwer::Close()
{
    DoDebugLog("TZzGenericSerwer.Close");
    CloseSocketServer();
    Active = false;
}

void TZzGenericSerwer::CloseSocketServer()
{
    DoDebugLog("TZzGenericSerwer.CloseSocketServer");
    int count = FSocketServer->ClientCount();
    for (int i = 0; i < count; ++i)
        if (TWSocketClient* c = FSocketServer->Client(i))
            c->Close();
    if (!FDestroying)
        FSocketServer->Close();
}

void TZzGenericSerwer::ServerBgException(TCustomWSocket*, const std::exception& e, bool& canClose)
{
    canClose = false;
    DoDebugLog(FormatLog("Background exception in server: %s", {e.what()}));
}

void TZzGenericSerwer::DoClientConnect(TZzClient* client)
{
    if (OnClientConnect)
        OnClientConnect(this, client);
}

void TZzGenericSerwer::DoClientDataAvailable(TZzClient* client, ByteView data)
{
    if (OnClientDataAvailable)
        OnClientDataAvailable(this, client, data);
}

void TZzGenericSerwer::DoClientDisconnect(TZzClient* client)
{
    if (OnClientDisconnect)
        OnClientDisconnect(this, client);
}

void TZzGenericSerwer::DoDebugLog(const std::string& text)
{
    if (OnDebugLog)
        OnDebugLog(this, text);
}

void TZzGenericSerwer::DoServerClosed(uint16_t error)
{
    if (OnServerClosed)
        OnServerClosed(this, error);
}

void TZzGenericSerwer::DoServerListening()
{
    if (OnServerListening)
        OnServerListening(this);
}

void TZzGenericSerwer::AfterListen(std::string& errorText)
{
    errorText.clear();
}

void TZzGenericSerwer::ServerClientConnect(TCustomWSocketServer*, TWSocketClient* client, uint16_t error)
{
    if (error != 0)
        return;
    auto* zz = static_cast<TZzClient*>(client);
    zz->ReceiveBuffer.clear();
    zz->OnDataAvailable = [this](TCustomWSocket* sender, uint16_t e) { ClientDataAvailable(sender, e); };
    zz->OnBgException = [this](TCustomWSocket* sender, const std::exception& e, bool& canClose) {
        ServerBgException(sender, e, canClose);
    };
    zz->SetLineMode(false);
    SocketBoundSendBuffer(zz->Handle());
    DoClientConnect(zz);
}

void TZzGenericSerwer::ServerClientDisconnect(TCustomWSocketServer*, TWSocketClient* client, uint16_t)
{
    DoClientDisconnect(static_cast<TZzClient*>(client));
}

void TZzGenericSerwer::ServerSessionClosed(TCustomWSocket*, uint16_t error)
{
    DoServerClosed(error);
}
