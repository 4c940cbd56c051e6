#pragma once
// A small HTTP/1.0 server: one THttpConnection per accepted connection reads the request line
// by line, parses the request line and a fixed set of headers, and raises the document event of
// the method. The handler answers itself or leaves it to the connection (a file under DocDir,
// or the 404 reply) through a THttpGetFlag.
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/DocumentFile.h"
#include "http/RequestClock.h"
#include "net/WSocketS.h"

enum THttpGetFlag : uint8_t { gfServeFile, gfServeStream, gfHandled, gfNotFound, gfAcceptData };

enum THttpRequestState : uint8_t { StateRequestLine, StateHeaders, StateBody };

inline constexpr uint32_t DocumentDoneMessage = WM_HTTP_DONE;

class THttpServer;
class THttpConnection;

// Replies of the HTTP services, counted for the operator: the bootstrap handlers' three, the
// document serving's two, and the metrics endpoint's.
enum THttpReply : uint8_t {
    hrAddress,            // where the messenger server is (every GET of the bootstrap service)
    hrRegistrationToken,  // POST /appsvc/regtoken.asp
    hrRegistration,       // any other POST
    hrFile,               // 200 with a file of the document folder (HEAD)
    hrNotFound,           // the 404 reply
    hrMetrics,            // GET /metrics
    hrMethodNotAllowed,   // the 405 reply
    HttpReplyCount
};

struct THttpCounters {
    uint64_t Replies[HttpReplyCount] = {};
};

using THttpGetConnEvent = std::function<void(THttpConnection* Sender, THttpGetFlag& Flags)>;

class THttpConnection : public TWSocketClient {
public:
    // Header lines kept per connection, bounded by their text and by their number (each entry
    // costs a string of its own however short its text): at most 64 KiB of text in 256 entries,
    // about 80 KiB in all. Lines beyond are parsed but not stored.
    static constexpr size_t MaxHeaderLinesBytes = 64 * 1024;
    static constexpr size_t MaxHeaderLines = 256;
    // One request's head, its request line and header lines together, is taken up to this
    // much: header lines past it are read and dropped (neither parsed nor kept), and the
    // request is answered when its head ends. So an unfinished request holds this much of
    // parsed head at most, besides the line being read, however its lines are cut. A request
    // line always fits: line mode drops longer lines (LineLimit is the same figure).
    static constexpr size_t MaxRequestHeadBytes = 64 * 1024;

    explicit THttpConnection(TCustomWSocketServer* owner);
    ~THttpConnection() override;

    std::string CurrentLine;
    std::string RequestMethod;
    std::string RequestVersion;
    std::string Path;
    std::string Params;
    std::vector<std::string> HeaderLines;
    THttpRequestState RequestState = StateRequestLine;
    std::string DocDir;
    std::string DefaultDoc;
    std::string Document;
    std::optional<time_t> DocumentDate;  // last write (UTC); none when it could not be read
    std::string DocumentContentType;
    int32_t HdrContentLength = 0;
    std::string HdrContentType, HdrAccept, HdrReferer, HdrAcceptLanguage, HdrAcceptEncoding, HdrUserAgent,
        HdrHost, HdrConnection;
    bool AcceptingBody = false;

    THttpGetConnEvent OnGetDocument;
    THttpGetConnEvent OnHeadDocument;
    THttpGetConnEvent OnPostDocument;
    THttpGetConnEvent OnOtherDocument;
    TSessionEvent OnPostedData;

    void SendDocument(bool withBody);
    void SendStream();
    void SendNextChunk();
    void Send404();

protected:
    void Dispatch(TMessage& msg) override;
    virtual void TriggerGetDocument(THttpGetFlag& flags);
    virtual void TriggerHeadDocument(THttpGetFlag& flags);
    virtual void TriggerPostDocument(THttpGetFlag& flags);
    virtual void TriggerOtherDocument(THttpGetFlag& flags);

private:
    void ConnectionDataAvailable(uint16_t error);
    void HandleLine(std::string line);
    void ParseRequestLine();
    void ParseHeaderLine();
    void ProcessRequest();
    void ServeFile(bool withBody);
    void CloseDocumentStream();
    void FinishDocument();
    bool KeepAlive() const;
    // The request clock restarts on connecting, when a request is complete, and while a reply
    // makes progress; see THttpServer::SetRequestTimeoutMs.
    void RestartRequestClock();

    friend class THttpServer;
    THttpRequestClock* FRequestClock = nullptr;
    THttpRequestClock::TSlot FRequestClockSlot{};
    THttpCounters* FHttpCounters = nullptr;  // the server's, once it has set the connection up

    TDocumentFile FDocumentStream;  // the document being sent
    bool FHeaderOnlyPending = false;  // a HEAD reply is queued; its end comes with OnDataSent
    std::unique_ptr<char[]> FChunkBuffer;
    size_t FHeaderLinesBytes = 0;
    size_t FRequestHeadBytes = 0;  // of the request being read
    // A document transfer has started and its end (the posted DocumentDoneMessage) has not been
    // handled yet; lines of a kept-alive connection that arrive meanwhile wait in FEarlyLines.
    bool FReplyUnderWay = false;
    std::vector<std::string> FEarlyLines;
    size_t FEarlyBytes = 0;
};

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

// Content type by the extension of a file name.
std::string ContentTypeOf(const std::string& fileName);
// "Mon, 07 Dec 2026 01:54:11" for a UTC time.
std::string HttpDateText(time_t t);
// The local file a request path names under docDir (defaultDoc for a path ending in '/').
std::string DocumentOf(const std::string& docDir, const std::string& path, const std::string& defaultDoc);
