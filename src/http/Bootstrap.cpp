#include "http/Bootstrap.h"

#include "core/Znaki.h"

TBootstrapHandlers::TBootstrapHandlers(THttpServer& server, TActivityLog& log, TAddressSource address,
                                       TRandomDraw& random)
    : Server(server), Log(log), Address(std::move(address)), Random(random)
{
}

void TBootstrapHandlers::Bind()
{
    Server.OnClientConnect = [this](THttpServer* s, THttpConnection* c, uint16_t e) { HttpPomocniczyClientConnect(s, c, e); };
    Server.OnClientDisconnect = [this](THttpServer* s, THttpConnection* c, uint16_t e) {
        HttpPomocniczyClientDisconnect(s, c, e);
    };
    Server.OnGetDocument = [this](THttpServer* s, THttpConnection* c, THttpGetFlag& f) { HttpPomocniczyGetDocument(s, c, f); };
    Server.OnHeadDocument = [this](THttpServer* s, THttpConnection* c, THttpGetFlag& f) {
        HttpPomocniczyHeadDocument(s, c, f);
    };
    Server.OnPostDocument = [this](THttpServer* s, THttpConnection* c, THttpGetFlag& f) {
        HttpPomocniczyPostDocument(s, c, f);
    };
}

void TBootstrapHandlers::HttpPomocniczyClientConnect(THttpServer*, THttpConnection*, uint16_t)
{
    static const ByteString line = Znaki::ToCp1250("nowe połączenie");
    Log.Append(line);
}

void TBootstrapHandlers::HttpPomocniczyClientDisconnect(THttpServer*, THttpConnection*, uint16_t)
{
    static const ByteString line = Znaki::ToCp1250("rozłączenie");
    Log.Append(line);
}

void TBootstrapHandlers::HttpPomocniczyGetDocument(THttpServer*, THttpConnection* Client, THttpGetFlag& Flags)
{
    Log.Append("get " + Client->Path);
    Flags = gfHandled;
    ++Server.Counters.Replies[hrAddress];
    ByteString address = Address();
    Client->SendString("Content-Type: text/data\r\n\r\n0 0 " + address + ":8074 " + address);
}

void TBootstrapHandlers::HttpPomocniczyHeadDocument(THttpServer*, THttpConnection*, THttpGetFlag&)
{
    // Left at gfServeFile: the header block of the file under the document directory, or 404.
}

void TBootstrapHandlers::HttpPomocniczyPostDocument(THttpServer*, THttpConnection* Client, THttpGetFlag& Flags)
{
    Log.Append("post " + Client->Path);
    Flags = gfHandled;
    if (Client->Path == "/appsvc/regtoken.asp") {
        ++Server.Counters.Replies[hrRegistrationToken];
        Random.Random(MaxDraw);  // drawn and not used, as every registration draws once
        Client->SendString("60 24 6\r\n3E71B09D\r\nhttp://" + Address() + "/appsvc/tokenpic.asp");
    } else {
        ++Server.Counters.Replies[hrRegistration];
        Client->SendString("Content-Type: text/data\r\n\r\nreg_success:" + std::to_string(Random.Random(MaxDraw)));
    }
}
