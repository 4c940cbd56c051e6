#pragma once
// An HTTP server on a free loopback port with a document directory of its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "http/HttpSrv.h"
#include "support/Loopback.h"
#include "support/TestPlatform.h"

// The folder is removed after the server has gone: Windows removes no file a reply still reads.
struct TTempFolder {
    std::filesystem::path Path;
    ~TTempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }
};

struct HttpTest : ::testing::Test {
    TTempFolder Folder{MakeTempDir("tzz-http-")};
    std::filesystem::path& Dir = Folder.Path;
    THttpServer Server;
    THttpConnection* Last = nullptr;  // the connection of the latest request
    int Disconnects = 0;

    void SetUp() override
    {
        Server.SetAddr("127.0.0.1");
        Server.SetPort("0");
        Server.DocDir = Dir.string();
        Server.OnClientConnect = [this](THttpServer*, THttpConnection* c, uint16_t) { Last = c; };
        Server.OnClientDisconnect = [this](THttpServer*, THttpConnection* c, uint16_t) {
            ++Disconnects;
            if (c == Last)
                Last = nullptr;
        };
        Server.Start();
    }

    int Port() { return BoundPort(*Server.WSocketServer()); }
    void File(const std::string& name, const std::string& content)
    {
        std::filesystem::create_directories((Dir / name).parent_path());
        std::ofstream(Dir / name, std::ios::binary) << content;
    }
    // Sends a request and collects the reply until the server closes (or the wait ends).
    std::string Exchange(TPeer& peer, const std::string& request, int waitMs = 2000)
    {
        peer.Send(request);
        peer.WaitClosed(waitMs);
        return peer.ReadFor(0);
    }
    std::string Exchange(const std::string& request, int waitMs = 2000)
    {
        TPeer peer(Port());
        return Exchange(peer, request, waitMs);
    }
    std::string Head(const std::string& path) { return Exchange("HEAD " + path + " HTTP/1.0\r\n\r\n"); }
    // The 200 header block of a file under Dir (HTTP/1.0).
    std::string Block(const std::string& type, size_t size, const std::string& file)
    {
        auto date = FileDateOf((Dir / file).string());
        return "HTTP/1.0 200 OK\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(size) +
               "\r\nLast-Modified: " + (date ? HttpDateText(*date) : "?") + " GMT\r\n\r\n";
    }
};

inline std::string NotFound(const std::string& version, const std::string& path)
{
    std::string body = "<HTML><HEAD><TITLE>404 Not Found</TITLE></HEAD><BODY><H1>404 Not Found</H1>The requested URL " +
                       path + " was not found on this server.<P></BODY></HTML>\r\n";
    return version + " 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}
