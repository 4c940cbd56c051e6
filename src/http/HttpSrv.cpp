#include "http/HttpSrv.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace {

std::string Upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool StartsWithNoCase(const std::string& line, const char* name)
{
    size_t n = std::char_traits<char>::length(name);
    return line.size() >= n && Lower(line.substr(0, n)) == Lower(name);
}

// A ".." segment would name a file outside the document directory.
bool LeavesDocDir(const std::string& path)
{
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (path.compare(start, end - start, "..") == 0)
            return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

std::string ContentTypeOf(const std::string& fileName)
{
    size_t slash = fileName.rfind('/');
    std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    size_t dot = base.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : Lower(base.substr(dot));
    if (ext.size() > 1)
        ext.erase(0, 1);
    if (ext == "htm" || ext == "html")
        return "text/html";
    if (ext == "gif")
        return "image/gif";
    if (ext == "bmp")
        return "image/bmp";
    if (ext == "jpg" || ext == "jpeg")
        return "image/jpeg";
    if (ext == "txt")
        return "text/plain";
    return "application/binary";
}

std::string HttpDateText(time_t t)
{
    using namespace std::chrono;
    static const char dayNames[] = "MonTueWedThuFriSatSun";
    static const char monthNames[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    // Calendar arithmetic rather than the C library's: the same on every system, before 1970
    // too. A file may carry any date; the text has four digits for the year, so a date outside
    // the years 1 to 9999 is given as the nearest one inside.
    constexpr int64_t First = -62135596800;  // 0001-01-01 00:00:00
    constexpr int64_t Last = 253402300799;   // 9999-12-31 23:59:59
    const sys_seconds at{seconds{std::clamp<int64_t>(t, First, Last)}};
    const sys_days day = floor<days>(at);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{at - day};
    const unsigned monday0 = weekday{day}.iso_encoding() - 1;
    char text[64];
    snprintf(text, sizeof text, "%.3s, %2.2u %.3s %4.4d %2.2d:%2.2d:%2.2d", dayNames + 3 * monday0,
             static_cast<unsigned>(date.day()), monthNames + 3 * (static_cast<unsigned>(date.month()) - 1),
             static_cast<int>(date.year()), static_cast<int>(time.hours().count()),
             static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
    return text;
}

std::string DocumentOf(const std::string& docDir, const std::string& path, const std::string& defaultDoc)
{
    std::string doc = !path.empty() && path[0] == '/' ? docDir + path : docDir + "/" + path;
    if (!doc.empty() && doc.back() == '/')
        doc += defaultDoc;
    return doc;
}

// ---------------------------------------------------------------------------------------------

THttpConnection::THttpConnection(TCustomWSocketServer* owner) : TWSocketClient(owner)
{
    SetLineMode(true);
    LineEdit = false;
    LineEnd = "\n";
    OnDataAvailable = [this](TCustomWSocket*, uint16_t error) { ConnectionDataAvailable(error); };
}

THttpConnection::~THttpConnection()
{
    CloseDocumentStream();
    if (FRequestClock)
        FRequestClock->Remove(FRequestClockSlot);
}

void THttpConnection::RestartRequestClock()
{
    if (FRequestClock)
        FRequestClock->Restart(FRequestClockSlot);
}

bool THttpConnection::KeepAlive() const
{
    return Lower(HdrConnection) == "keep-alive";
}

void THttpConnection::CloseDocumentStream()
{
    FDocumentStream.Close();
}

void THttpConnection::Dispatch(TMessage& msg)
{
    if (msg.Msg == DocumentDoneMessage) {
        FReplyUnderWay = false;
        RequestState = StateRequestLine;
        RestartRequestClock();
        if (!KeepAlive()) {
            CloseLater();
            return;
        }
        // What came while the reply was under way is the next request: taken now, in order.
        std::vector<std::string> early;
        early.swap(FEarlyLines);
        FEarlyBytes = 0;
        for (std::string& line : early) {
            try {
                HandleLine(std::move(line));
            } catch (...) {
                // As in the receive loop: a failure while handling received data ends only that.
            }
        }
        return;
    }
    TWSocketClient::Dispatch(msg);
}

void THttpConnection::ConnectionDataAvailable(uint16_t error)
{
    if (RequestState == StateBody && AcceptingBody && OnPostedData) {
        RestartRequestClock();  // a body being taken in is a request still in progress
        OnPostedData(this, error);
        return;
    }
    HandleLine(ReceiveString());
}

void THttpConnection::HandleLine(std::string line)
{
    CurrentLine = std::move(line);
    if (RequestState == StateBody) {
        // A kept-alive client sends its next request as soon as it has read the reply, which
        // may be before the transfer's end has been handled here: that request is kept for
        // then, not taken for a body. Beyond what one request head may hold, the client is
        // not waiting for its reply, and the connection ends.
        if (FReplyUnderWay && KeepAlive()) {
            if (FEarlyBytes > MaxHeaderLinesBytes + static_cast<size_t>(LineLimit))
                return;  // ending already
            FEarlyBytes += CurrentLine.size();
            if (FEarlyBytes > MaxHeaderLinesBytes + static_cast<size_t>(LineLimit)) {
                FEarlyLines.clear();
                CloseLater();
                return;
            }
            FEarlyLines.push_back(std::move(CurrentLine));
            CurrentLine.clear();
        }
        return;  // otherwise a body nobody asked for goes line by line
    }
    if (!CurrentLine.empty() && CurrentLine.back() == '\n')
        CurrentLine.pop_back();
    if (!CurrentLine.empty() && CurrentLine.back() == '\r')
        CurrentLine.pop_back();

    if (RequestState == StateRequestLine) {
        HdrContentType.clear();
        HdrContentLength = 0;
        HdrAccept.clear();
        HdrReferer.clear();
        HdrAcceptLanguage.clear();
        HdrAcceptEncoding.clear();
        HdrUserAgent.clear();
        HdrHost.clear();
        HdrConnection.clear();
        FRequestHeadBytes = CurrentLine.size();
        ParseRequestLine();
        RequestState = StateHeaders;
        return;
    }
    if (CurrentLine.empty()) {
        RequestState = StateBody;
        // The reply is written while the request is dispatched (or its transfer starts there):
        // from here the clock measures the time since the last reply.
        RestartRequestClock();
        ProcessRequest();
        return;
    }
    if (FRequestHeadBytes + CurrentLine.size() > MaxRequestHeadBytes)
        return;  // past what one request head may take
    FRequestHeadBytes += CurrentLine.size();
    ParseHeaderLine();
}

void THttpConnection::ParseRequestLine()
{
    const std::string& line = CurrentLine;
    size_t sp = line.find(' ');
    RequestMethod = Upper(line.substr(0, sp));
    size_t i = sp == std::string::npos ? line.size() : sp;
    while (i < line.size() && line[i] == ' ')
        ++i;
    size_t end = std::min(line.find(' ', i), line.size());
    std::string word = line.substr(i, end - i);
    if (size_t q = word.find('?'); q != std::string::npos) {
        Params = word.substr(q + 1);
        Path = word.substr(0, q);
    } else {
        Path = word;
        Params.clear();
    }
    i = end;
    while (i < line.size() && line[i] == ' ')
        ++i;
    end = std::min(line.find(' ', i), line.size());
    RequestVersion = TrimText(Upper(line.substr(i, end - i)));
    if (RequestVersion.empty())
        RequestVersion = "HTTP/1.0";
}

void THttpConnection::ParseHeaderLine()
{
    const std::string& line = CurrentLine;
    if (size_t colon = line.find(':'); colon != std::string::npos) {
        size_t v = colon + 1;
        while (v < line.size() && line[v] == ' ')
            ++v;
        std::string value = line.substr(v);
        if (StartsWithNoCase(line, "content-type:")) {
            HdrContentType = value;
        } else if (StartsWithNoCase(line, "content-length:")) {
            // A value that is not a decimal number leaves the length as it was.
            char* end = nullptr;
            long n = std::strtol(value.c_str(), &end, 10);
            if (!value.empty() && end && *end == '\0' && n >= INT32_MIN && n <= INT32_MAX)
                HdrContentLength = static_cast<int32_t>(n);
        } else if (StartsWithNoCase(line, "Accept:")) {
            HdrAccept = value;
        } else if (StartsWithNoCase(line, "Referer:")) {
            HdrReferer = value;
        } else if (StartsWithNoCase(line, "Accept-Language:")) {
            HdrAcceptLanguage = value;
        } else if (StartsWithNoCase(line, "Accept-Encoding:")) {
            HdrAcceptEncoding = value;
        } else if (StartsWithNoCase(line, "User-Agent:")) {
            HdrUserAgent = value;
        } else if (StartsWithNoCase(line, "Host:")) {
            HdrHost = value;
        } else if (StartsWithNoCase(line, "Connection:")) {
            HdrConnection = value;
        }
    }
    if (HeaderLines.size() < MaxHeaderLines && FHeaderLinesBytes + line.size() <= MaxHeaderLinesBytes) {
        FHeaderLinesBytes += line.size();
        HeaderLines.push_back(line);
    }
}

void THttpConnection::TriggerGetDocument(THttpGetFlag& flags)
{
    if (OnGetDocument)
        OnGetDocument(this, flags);
}

void THttpConnection::TriggerHeadDocument(THttpGetFlag& flags)
{
    if (OnHeadDocument)
        OnHeadDocument(this, flags);
}

void THttpConnection::TriggerPostDocument(THttpGetFlag& flags)
{
    if (OnPostDocument)
        OnPostDocument(this, flags);
}

void THttpConnection::TriggerOtherDocument(THttpGetFlag& flags)
{
    if (OnOtherDocument)
        OnOtherDocument(this, flags);
}

void THttpConnection::ProcessRequest()
{
    // Without a path there is no document to name: the request is not dispatched and the
    // connection discards whatever follows.
    if (Path.empty())
        return;
    Document = DocumentOf(DocDir, Path, DefaultDoc);
    bool get = RequestMethod == "GET";
    if (get || RequestMethod == "HEAD") {
        THttpGetFlag flags = gfServeFile;
        if (get)
            TriggerGetDocument(flags);
        else
            TriggerHeadDocument(flags);
        switch (flags) {
        case gfServeFile:
            ServeFile(get);
            break;
        case gfServeStream:
            SendStream();
            break;
        case gfHandled:
            break;
        case gfNotFound:
            Send404();
            CloseLater();
            break;
        default:
            CloseLater();
            break;
        }
    } else if (RequestMethod == "POST") {
        THttpGetFlag flags = gfNotFound;
        TriggerPostDocument(flags);
        if (flags == gfNotFound) {
            Send404();
            CloseLater();
        } else if (flags == gfAcceptData) {
            AcceptingBody = true;
        }
    } else {
        THttpGetFlag flags = gfNotFound;
        TriggerOtherDocument(flags);
        if (flags == gfNotFound) {
            Send404();
            CloseLater();
        }
    }
}

void THttpConnection::ServeFile(bool withBody)
{
    if (!LeavesDocDir(Path) && TDocumentFile::Exists(DocDir, Document)) {
        SendDocument(withBody);
    } else {
        Send404();
        CloseLater();
    }
}

void THttpConnection::SendDocument(bool withBody)
{
    DocumentContentType = ContentTypeOf(Document);
    CloseDocumentStream();
    FHeaderOnlyPending = false;
    if (!FDocumentStream.Open(DocDir, Document))
        throw std::runtime_error("Cannot open file " + Document);
    DocumentDate = FDocumentStream.Modified();  // the date of the very file that is sent
    OnDataSent = [this](TCustomWSocket*, uint16_t) { SendNextChunk(); };
    FReplyUnderWay = true;
    if (FHttpCounters)
        ++FHttpCounters->Replies[hrFile];
    QueueString(RequestVersion + " 200 OK\r\nContent-Type: " + DocumentContentType +
                "\r\nContent-Length: " + std::to_string(FDocumentStream.Size()) + "\r\n");
    if (DocumentDate)
        QueueString("Last-Modified: " + HttpDateText(*DocumentDate) + " GMT\r\n");
    QueueString("\r\n");
    if (!withBody) {
        // Nothing of the file follows the header: it need not stay open, and the transfer
        // ends with the OnDataSent that reports the header gone.
        CloseDocumentStream();
        FHeaderOnlyPending = true;
    }
    Send(nullptr, 0);
    if (withBody)
        SendStream();
}

void THttpConnection::SendStream()
{
    if (!FDocumentStream.IsOpen()) {
        CloseLater();
        return;
    }
    if (!FChunkBuffer)
        FChunkBuffer = std::make_unique<char[]>(DefaultBufSize);
    OnDataSent = [this](TCustomWSocket*, uint16_t) { SendNextChunk(); };
    FReplyUnderWay = true;
    SendNextChunk();
}

void THttpConnection::SendNextChunk()
{
    if (FHeaderOnlyPending) {
        FinishDocument();
        return;
    }
    if (!FDocumentStream.IsOpen())
        return;
    if (!FChunkBuffer)
        FChunkBuffer = std::make_unique<char[]>(DefaultBufSize);
    // One chunk at a time, read only once the send queue is empty: a file is never held whole.
    int64_t n = FDocumentStream.Read(FChunkBuffer.get(), DefaultBufSize);
    if (n > 0) {
        RestartRequestClock();  // a reply in progress: only a reader that stalls runs out
        Send(FChunkBuffer.get(), static_cast<int>(n));
        return;
    }
    FinishDocument();
}

void THttpConnection::FinishDocument()
{
    FHeaderOnlyPending = false;
    CloseDocumentStream();
    // A kept-alive connection keeps its sending side open for the replies to come.
    if (!KeepAlive())
        Shutdown(1);
    PostMessageToSelf(DocumentDoneMessage);
}

void THttpConnection::Send404()
{
    if (FHttpCounters)
        ++FHttpCounters->Replies[hrNotFound];
    std::string body = "<HTML><HEAD><TITLE>404 Not Found</TITLE></HEAD><BODY><H1>404 Not Found</H1>The requested URL " +
                       Path + " was not found on this server.<P></BODY></HTML>\r\n";
    QueueString(RequestVersion + " 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\n\r\n");
    SendString(body);
}

// ---------------------------------------------------------------------------------------------

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
