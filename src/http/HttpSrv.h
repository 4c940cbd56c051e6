#pragma once
// A small HTTP/1.0 server: listens on one port and sets up one THttpConnection per accepted
// connection, whose requests reach the server's document events.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "http/HttpConnection.h"
#include "http/HttpDocument.h"
#include "http/RequestClock.h"
#include "net/WSocketS.h"

class THttpServer;

using THttpConnectEvent = std::function<void(THttpServer* Sender, THttpConnection* Client, uint16_t Error)>;
using THttpGetEvent = std::function<void(THttpServer* Sender, THttpConnection* Client, THttpGetFlag& Flags)>;
using THttpPostedDataEvent = std::function<void(THttpServer* Sender, THttpConnection* Client, uint16_t Error)>;
using THttpNotifyEvent = std::function<void(THttpServer* Sender)>;

class THttpServer {
public:
    explicit THttpServer(TEventLoop& loop = TEventLoop::Default());
    virtual ~THttpServer();
    THttpServer(const THttpServer&) = delete;
    THttpServer& operator=(const THttpServer&) = delete;

    const std::string& GetPort() const { return FPort; }
    void SetPort(const std::string& value);
    const std::string& GetAddr() const { return FAddr; }
    void SetAddr(const std::string& value);
    // The folder whose files are served; the program sets it. Empty: no file is served.
    std::string DocDir;
    std::string DefaultDoc = "index.html";
    TSocketLingerOnOff LingerOnOff = wsLingerNoSet;
    int LingerTimeout = 0;

    THttpNotifyEvent OnServerStarted;
    THttpNotifyEvent OnServerStopped;
    THttpConnectEvent OnClientConnect;
    THttpConnectEvent OnClientDisconnect;
    THttpGetEvent OnGetDocument;
    THttpGetEvent OnHeadDocument;
    THttpGetEvent OnPostDocument;
    // Any method but GET, HEAD and POST; left at gfNotFound, the 404 reply answers it.
    THttpGetEvent OnOtherDocument;
    THttpPostedDataEvent OnPostedData;
    // The replies sent, by kind (the handlers count their own).
    THttpCounters Counters;

    // Listens on Addr:Port; a failure raises the socket layer's exception.
    virtual void Start();
    virtual void Stop();

    // A connection is closed when this long passes after it connected, or after its last reply,
    // without a complete request (request line and headers) having been read: silent peers,
    // peers that dribble a header byte by byte and finished connections left open all end.
    // While a document is being sent, each chunk handed over counts as a reply. 0: no limit.
    static constexpr int64_t DefaultRequestTimeoutMs = 30 * 1000;
    void SetRequestTimeoutMs(int64_t ms) { FRequestClock.SetLimitMs(ms); }
    int64_t RequestTimeoutMs() const { return FRequestClock.LimitMs(); }

    TWSocketServer* WSocketServer() { return FWSocketServer.get(); }
    int ClientCount() const { return FWSocketServer ? FWSocketServer->ClientCount() : 0; }
    // What the connections have done; zero before the first Start.
    TConnectionCounters ConnectionCounters() const
    {
        return FWSocketServer ? FWSocketServer->Counters : TConnectionCounters{};
    }
    THttpConnection* Client(int index) const;

private:
    void SetUpConnection(THttpConnection* c, uint16_t error);
    void ListenAgain();  // after Port or Addr changed while listening

    TEventLoop& FLoop;
    THttpRequestClock FRequestClock;  // before the connections, which hold slots in it
    std::unique_ptr<TWSocketServer> FWSocketServer;
    std::string FPort = "80";
    std::string FAddr = "0.0.0.0";
};
