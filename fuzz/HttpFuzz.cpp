// Fuzzes the HTTP request reader with the dispatch, the bootstrap handlers and the document
// lookup behind it: each input is one connection's bytes, sent and then the connection closed.
#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "http/Bootstrap.h"
#include "http/HttpSrv.h"

namespace {

struct TWorld {
    THttpServer Server;
    TCountingLog Log;
    TRandomDraw Random{1};
    TBootstrapHandlers Handlers{Server, Log, [] { return ByteString("localhost"); }, Random};

    TWorld()
    {
        char tmpl[] = "/tmp/tzz-fuzz-www-XXXXXX";
        std::string dir = mkdtemp(tmpl);
        mkdir((dir + "/sub").c_str(), 0755);
        std::ofstream(dir + "/index.html") << "<p>index</p>";
        std::ofstream(dir + "/a.txt") << std::string(4000, 'a');
        std::ofstream(dir + "/sub/b.gif") << "GIF89a";
        Server.DocDir = dir;
        Server.SetAddr("127.0.0.1");
        Server.SetPort("0");
        Handlers.Bind();
        // GET is served from the documents too, so that file serving is reached as well.
        Server.OnGetDocument = [this](THttpServer* s, THttpConnection* c, THttpGetFlag& f) {
            if (c->Path.rfind("/f", 0) == 0)
                f = gfServeFile;
            else if (c->Params == "stream")
                f = gfServeStream;
            else
                Handlers.HttpPomocniczyGetDocument(s, c, f);
        };
        Server.Start();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static TWorld* world = new TWorld;
    int fd = ConnectTo(LocalPort(*world->Server.WSocketServer()));
    if (fd < 0)
        return 0;
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::send(fd, data + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0 && errno != EAGAIN)
            break;
        if (n > 0)
            done += static_cast<size_t>(n);
        Pump(1);
        Drain(fd);
    }
    for (int i = 0; i < 20; ++i) {
        Pump(1);
        if (!Drain(fd))
            break;
    }
    ::close(fd);
    for (int i = 0; i < 200 && world->Server.ClientCount() > 0; ++i)
        Pump(1);
    return 0;
}
