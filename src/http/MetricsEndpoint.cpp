#include "http/MetricsEndpoint.h"

TMetricsEndpoint::TMetricsEndpoint(THttpServer& server, TTextSource text) : Server(server), Text(std::move(text)) {}

void TMetricsEndpoint::Bind()
{
    // No document folder: nothing of the disk is ever served here.
    Server.DocDir.clear();
    Server.OnGetDocument = [this](THttpServer*, THttpConnection* c, THttpGetFlag& f) { Answer(c, f, true); };
    auto other = [this](THttpServer*, THttpConnection* c, THttpGetFlag& f) { Answer(c, f, false); };
    Server.OnHeadDocument = other;
    Server.OnPostDocument = other;
    Server.OnOtherDocument = other;
}

void TMetricsEndpoint::Answer(THttpConnection* client, THttpGetFlag& flags, bool get)
{
    if (client->Path != MetricsPath) {
        flags = gfNotFound;  // the connection sends the 404 reply
        return;
    }
    flags = gfHandled;
    if (get) {
        ++Server.Counters.Replies[hrMetrics];
        Reply(client, std::string("200 OK\r\nContent-Type: ") + ContentType, Text ? Text() : std::string());
    } else {
        ++Server.Counters.Replies[hrMethodNotAllowed];
        Reply(client, "405 Method Not Allowed\r\nAllow: GET\r\nContent-Type: text/plain; charset=utf-8",
              client->RequestMethod == "HEAD" ? std::string() : "only GET\n");
    }
}

void TMetricsEndpoint::Reply(THttpConnection* client, const std::string& head, const std::string& body)
{
    // HTTP/1.1 whatever the request said: a 1.0 client reads it too, and the version a peer
    // sent is not echoed. The connection ends once the reply has gone out (a reader that
    // stops taking it is closed by the request timeout).
    client->OnDataSent = [](TCustomWSocket* sender, uint16_t) { sender->CloseLater(); };
    client->SendString("HTTP/1.1 " + head + "\r\nContent-Length: " + std::to_string(body.size()) +
                       "\r\nConnection: close\r\n\r\n" + body);
}
