// Reading a request: the request line and the headers, line by line, until the document event
// of its method answers it (see HttpDocument.cpp for the replies the connection sends itself).
#include "http/HttpConnection.h"

#include <algorithm>
#include <stdexcept>

#include "core/ByteString.h"
#include "http/HttpDocument.h"

namespace {

bool StartsWithNoCase(const std::string& line, const char* name)
{
    size_t n = std::char_traits<char>::length(name);
    return line.size() >= n && AsciiLower(line.substr(0, n)) == AsciiLower(name);
}

}  // namespace

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
    return AsciiLower(HdrConnection) == "keep-alive";
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
    RequestMethod = AsciiUpper(line.substr(0, sp));
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
    RequestVersion = TrimText(AsciiUpper(line.substr(i, end - i)));
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
