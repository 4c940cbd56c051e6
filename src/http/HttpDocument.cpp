// Serving a document: a file of the document folder in chunks, or the 404 reply; and what a
// reply says of a file (its type, its date, which file a path names).
#include "http/HttpDocument.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "core/ByteString.h"
#include "http/HttpConnection.h"

namespace {

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
    std::string ext = dot == std::string::npos ? std::string() : AsciiLower(base.substr(dot));
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
