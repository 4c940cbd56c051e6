#pragma once
// The bootstrap service: every GET gets the messenger server's address, POSTs register an
// account, HEAD is served from the document directory. These are the main window's handlers of
// HttpPomocniczy.
#include <functional>

#include "core/ActivityLog.h"
#include "core/Random.h"
#include "http/HttpSrv.h"

class TBootstrapHandlers {
public:
    // The announced address (code page 1250), read afresh for every request.
    using TAddressSource = std::function<ByteString()>;

    TBootstrapHandlers(THttpServer& server, TActivityLog& log, TAddressSource address,
                       TRandomDraw& random = ProcessRandom());
    void Bind();

    void HttpPomocniczyClientConnect(THttpServer* Sender, THttpConnection* Client, uint16_t Error);
    void HttpPomocniczyClientDisconnect(THttpServer* Sender, THttpConnection* Client, uint16_t Error);
    void HttpPomocniczyGetDocument(THttpServer* Sender, THttpConnection* Client, THttpGetFlag& Flags);
    void HttpPomocniczyHeadDocument(THttpServer* Sender, THttpConnection* Client, THttpGetFlag& Flags);
    void HttpPomocniczyPostDocument(THttpServer* Sender, THttpConnection* Client, THttpGetFlag& Flags);

private:
    THttpServer& Server;
    TActivityLog& Log;
    TAddressSource Address;
    TRandomDraw& Random;
};
