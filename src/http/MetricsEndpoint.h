#pragma once
// The operator's metrics endpoint on an HTTP server of its own: GET /metrics is answered with
// the text the source gives (the text format monitoring systems scrape), any other path with
// the 404 reply and any other method on /metrics with 405. Each reply ends its connection once
// it has gone out. It writes nothing to the activity log. The server's own bounds apply as to
// the bootstrap service: the request timeout, the line and header limits.
#include <functional>
#include <string>

#include "http/HttpSrv.h"

class TMetricsEndpoint {
public:
    using TTextSource = std::function<std::string()>;
    static constexpr const char* MetricsPath = "/metrics";
    static constexpr const char* ContentType = "text/plain; version=0.0.4; charset=utf-8";

    TMetricsEndpoint(THttpServer& server, TTextSource text);
    void Bind();

private:
    // GET /metrics: the text; another method on it: 405; another path: left to the 404 reply.
    void Answer(THttpConnection* client, THttpGetFlag& flags, bool get);
    void Reply(THttpConnection* client, const std::string& head, const std::string& body);

    THttpServer& Server;
    TTextSource Text;
};
