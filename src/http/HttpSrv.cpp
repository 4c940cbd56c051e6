// The listening side of the HTTP service: its port and address, and the set-up of each
// accepted connection (counters, the request clock, the document events).
#include "http/HttpSrv.h"

THttpServer::THttpServer(TEventLoop& loop)
    : FLoop(loop), FRequestClock(loop, [](THttpConnection* c) {
          c->MarkCloseCause(ccHttpTimeout);
          c->CloseLater();
      })
{
    FRequestClock.SetLimitMs(DefaultRequestTimeoutMs);
}

THttpServer::~THttpServer()
{
    FWSocketServer.reset();  // frees every connection
}

THttpConnection* THttpServer::Client(int index) const
{
    return FWSocketServer ? static_cast<THttpConnection*>(FWSocketServer->Client(index)) : nullptr;
}

void THttpServer::SetPort(const std::string& value)
{
    if (value == FPort)
        return;
    FPort = value;
    ListenAgain();
}

void THttpServer::SetAddr(const std::string& value)
{
    if (value == FAddr)
        return;
    FAddr = value;
    ListenAgain();
}

void THttpServer::ListenAgain()
{
    if (FWSocketServer && FWSocketServer->State() == wsListening) {
        FWSocketServer->Close();
        Start();
    }
}

void THttpServer::Start()
{
    if (!FWSocketServer)
        FWSocketServer = std::make_unique<TWSocketServer>(FLoop);
    TWSocketServer& s = *FWSocketServer;
    if (s.State() == wsListening)
        return;
    s.ClientClass = [](TCustomWSocketServer* owner) { return new THttpConnection(owner); };
    s.OnClientCreate = [this](TCustomWSocketServer*, TWSocketClient* c) {
        c->LingerOnOff = LingerOnOff;
        c->LingerTimeout = LingerTimeout;
    };
    s.OnClientConnect = [this](TCustomWSocketServer*, TWSocketClient* c, uint16_t error) {
        SetUpConnection(static_cast<THttpConnection*>(c), error);
    };
    s.OnClientDisconnect = [this](TCustomWSocketServer*, TWSocketClient* c, uint16_t error) {
        if (OnClientDisconnect)
            OnClientDisconnect(this, static_cast<THttpConnection*>(c), error);
    };
    s.OnSessionClosed = [this](TCustomWSocket*, uint16_t) {
        if (OnServerStopped)
            OnServerStopped(this);
    };
    s.OnChangeState = [this](TCustomWSocket*, TSocketState, TSocketState newState) {
        if (newState == wsListening && OnServerStarted)
            OnServerStarted(this);
    };
    // A failed accept (no descriptor left, a peer already gone) concerns one connection: the
    // service goes on listening instead of being aborted.
    s.OnBgException = [](TCustomWSocket*, const std::exception&, bool& canClose) { canClose = false; };
    s.Banner.clear();
    s.SetProto("tcp");
    s.SetPort(FPort);
    s.SetAddr(FAddr);
    s.Listen();
}

void THttpServer::Stop()
{
    if (!FWSocketServer)
        return;
    FWSocketServer->Close();
    for (int i = FWSocketServer->ClientCount() - 1; i >= 0; --i) {
        try {
            if (TWSocketClient* c = FWSocketServer->Client(i))
                c->Abort();
        } catch (...) {
        }
    }
}

void THttpServer::SetUpConnection(THttpConnection* c, uint16_t error)
{
    c->SetLineMode(true);
    c->LineEdit = false;
    c->LineEnd = "\n";
    c->DocDir = DocDir;
    c->DefaultDoc = DefaultDoc;
    c->FHttpCounters = &Counters;
    if (!c->FRequestClock) {
        c->FRequestClockSlot = FRequestClock.Add(c);
        c->FRequestClock = &FRequestClock;
    }
    c->OnGetDocument = [this](THttpConnection* conn, THttpGetFlag& flags) {
        if (OnGetDocument)
            OnGetDocument(this, conn, flags);
    };
    c->OnHeadDocument = [this](THttpConnection* conn, THttpGetFlag& flags) {
        if (OnHeadDocument)
            OnHeadDocument(this, conn, flags);
    };
    c->OnPostDocument = [this](THttpConnection* conn, THttpGetFlag& flags) {
        if (OnPostDocument)
            OnPostDocument(this, conn, flags);
    };
    c->OnOtherDocument = [this](THttpConnection* conn, THttpGetFlag& flags) {
        if (OnOtherDocument)
            OnOtherDocument(this, conn, flags);
    };
    c->OnPostedData = [this](TCustomWSocket* conn, uint16_t e) {
        if (OnPostedData)
            OnPostedData(this, static_cast<THttpConnection*>(conn), e);
    };
    if (OnClientConnect)
        OnClientConnect(this, c, error);
}
