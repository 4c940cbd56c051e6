#pragma once
// One HTTP connection: reads the request line by line, parses the request line and a fixed set
// of headers, and raises the document event of the method. The handler answers itself or leaves
// it to the connection (a file under DocDir, or the 404 reply) through a THttpGetFlag.
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
