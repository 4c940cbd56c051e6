#include "http/HttpFixture.h"

namespace {

std::string NotFound(const std::string& version, const std::string& path)
{
    std::string body = "<HTML><HEAD><TITLE>404 Not Found</TITLE></HEAD><BODY><H1>404 Not Found</H1>The requested URL " +
                       path + " was not found on this server.<P></BODY></HTML>\r\n";
    return version + " 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

}  // namespace

TEST_F(HttpTest, RequestLineIsParsedAsReceived)
{
    EXPECT_EQ(Exchange("GET /a%20b?x=1?y HTTP/1.1\r\n\r\n"), NotFound("HTTP/1.1", "/a%20b"));
    TPeer peer(Port());
    peer.Send("get   /x\r\n");
    ASSERT_TRUE(RunUntil([&] { return Last && Last->RequestState == StateHeaders; }));
    EXPECT_EQ(Last->RequestMethod, "GET");
    EXPECT_EQ(Last->Path, "/x");
    EXPECT_EQ(Last->Params, "");
    EXPECT_EQ(Last->RequestVersion, "HTTP/1.0");
}

TEST_F(HttpTest, RunsOfSpacesLineEndsAndAStrayCr)
{
    TPeer peer(Port());
    peer.Send("HEAD    /a\rb     http/1.1    extra\n");
    ASSERT_TRUE(RunUntil([&] { return Last && Last->RequestState == StateHeaders; }));
    EXPECT_EQ(Last->RequestMethod, "HEAD");
    EXPECT_EQ(Last->Path, "/a\rb");  // a CR not right before the LF stays
    EXPECT_EQ(Last->RequestVersion, "HTTP/1.1");
    peer.Send("\n");
    EXPECT_EQ(Exchange(peer, ""), NotFound("HTTP/1.1", "/a\rb"));
}

TEST_F(HttpTest, HeadersByPrefixIgnoringCaseAndTheirValues)
{
    TPeer peer(Port());
    peer.Send("GET /h HTTP/1.0\r\nHOST: example  \r\nHost : ignored\r\ncontent-length: 12\r\n"
              "Content-Length: abc\r\nUser-Agent:   agent/1\r\nX-Other: 1\r\nno colon\r\n");
    ASSERT_TRUE(RunUntil([&] { return Last && Last->HeaderLines.size() == 7; }));
    EXPECT_EQ(Last->HdrHost, "example  ");  // trailing spaces stay
    EXPECT_EQ(Last->HdrContentLength, 12);  // letters leave the earlier value
    EXPECT_EQ(Last->HdrUserAgent, "agent/1");
    EXPECT_EQ(Last->HeaderLines[1], "Host : ignored");
    peer.Send("\r\n");
    EXPECT_EQ(Exchange(peer, ""), NotFound("HTTP/1.0", "/h"));
}

TEST_F(HttpTest, ContentLengthOfLettersStillGetsAnAnswer)
{
    TPeer peer(Port());
    peer.Send("GET /q HTTP/1.0\r\nContent-Length: letters\r\n\r\n");
    EXPECT_EQ(Exchange(peer, ""), NotFound("HTTP/1.0", "/q"));
}

TEST_F(HttpTest, HeadServesHeaderBlocksByContentType)
{
    File("empty.html", "");
    File("notes.txt", "twelve bytes");
    File("logo.JPG", "jpg!");
    File("data.bin", "b");
    File("README", "readme");
    File("sub/index.html", "<p>");
    std::filesystem::create_directories(Dir / "nosub");
    auto head = [&](const std::string& path) { return Exchange("HEAD " + path + " HTTP/1.0\r\n\r\n"); };
    auto block = [&](const std::string& type, size_t size, const std::string& file) {
        return "HTTP/1.0 200 OK\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(size) +
               "\r\nLast-Modified: " + HttpDateText(FileDateOf((Dir / file).string())) + " GMT\r\n\r\n";
    };
    EXPECT_EQ(head("/empty.html"), block("text/html", 0, "empty.html"));
    EXPECT_EQ(head("/notes.txt"), block("text/plain", 12, "notes.txt"));
    EXPECT_EQ(head("/logo.JPG"), block("image/jpeg", 4, "logo.JPG"));
    EXPECT_EQ(head("/data.bin"), block("application/binary", 1, "data.bin"));
    EXPECT_EQ(head("/README"), block("application/binary", 6, "README"));
    EXPECT_EQ(head("/sub/"), block("text/html", 3, "sub/index.html"));
    EXPECT_EQ(head("/nosub/"), NotFound("HTTP/1.0", "/nosub/"));
    EXPECT_EQ(head("/sub"), NotFound("HTTP/1.0", "/sub"));
    EXPECT_EQ(head("/sub/../notes.txt"), NotFound("HTTP/1.0", "/sub/../notes.txt"));
    EXPECT_EQ(head("/../" + Dir.filename().string() + "/notes.txt"),
              NotFound("HTTP/1.0", "/../" + Dir.filename().string() + "/notes.txt"));
}

TEST_F(HttpTest, GetWithoutHandlerIsServedInChunksThenTheSendingSideShutsDown)
{
    std::string content(1514 * 2 + 1, 'c');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>('a' + i % 23);
    File("big.gif", content);
    std::vector<int> sends;
    TPeer peer(Port());
    ASSERT_TRUE(RunUntil([&] { return Last != nullptr; }));
    Last->OnSendData = [&](TCustomWSocket*, int n) { sends.push_back(n); };
    std::string reply = Exchange(peer, "GET /big.gif HTTP/1.0\r\n\r\n");
    std::string header = "HTTP/1.0 200 OK\r\nContent-Type: image/gif\r\nContent-Length: 3029\r\nLast-Modified: " +
                         HttpDateText(FileDateOf((Dir / "big.gif").string())) + " GMT\r\n\r\n";
    EXPECT_EQ(reply, header + content);
    EXPECT_EQ(sends, (std::vector<int>{static_cast<int>(header.size()), 1514, 1514, 1}));
}

TEST_F(HttpTest, KeepAliveOnlyForTheWholeValueIgnoringCase)
{
    File("k.txt", "k");
    TPeer kept(Port());
    kept.Send("HEAD /k.txt HTTP/1.0\r\nConnection: keep-alive\r\n\r\n");
    // The server shuts its sending side after the document, but keeps the connection.
    EXPECT_NE(kept.ReadFor(300).find("Content-Length: 1"), std::string::npos);
    ASSERT_NE(Last, nullptr);
    EXPECT_EQ(Last->RequestState, StateRequestLine);
    EXPECT_EQ(Last->State(), wsConnected);

    TPeer closed(Port());
    closed.Send("HEAD /k.txt HTTP/1.0\r\nConnection: keep-alive \r\n\r\n");
    EXPECT_TRUE(closed.WaitClosed());
}

TEST_F(HttpTest, PostHandlersAndBodies)
{
    std::vector<std::string> posts;
    Server.OnPostDocument = [&](THttpServer*, THttpConnection* c, THttpGetFlag& flags) {
        posts.push_back(c->Path);
        flags = gfHandled;
        c->SendString("done");
    };
    TPeer peer(Port());
    peer.Send("POST /p HTTP/1.0\r\nContent-Length: 5\r\n\r\nbody\nGET /again HTTP/1.0\r\n\r\n");
    EXPECT_EQ(peer.ReadFor(200), "done");  // the second request is read and dropped
    EXPECT_EQ(posts, (std::vector<std::string>{"/p"}));
    EXPECT_EQ(Last->State(), wsConnected);

    Server.OnPostDocument = nullptr;
    EXPECT_EQ(Exchange("POST /none HTTP/1.0\r\n\r\n"), NotFound("HTTP/1.0", "/none"));

    std::string body;
    Server.OnPostDocument = [&](THttpServer*, THttpConnection*, THttpGetFlag& flags) { flags = gfAcceptData; };
    Server.OnPostedData = [&](THttpServer*, THttpConnection* c, uint16_t) { body += c->ReceiveString(); };
    TPeer poster(Port());
    poster.Send("POST /data HTTP/1.0\r\n\r\nline one\nline two\n");
    ASSERT_TRUE(RunUntil([&] { return body == "line one\nline two\n"; }));
}

TEST_F(HttpTest, OtherMethodsGetTheNotFoundReplyAndAClose)
{
    File("x.txt", "x");
    EXPECT_EQ(Exchange("PUT /x.txt HTTP/1.1\r\n\r\n"), NotFound("HTTP/1.1", "/x.txt"));
    EXPECT_EQ(Exchange("OPTIONS * HTTP/1.1\r\n\r\n"), NotFound("HTTP/1.1", "*"));
}

TEST_F(HttpTest, RequestWithoutPathIsNotAnswered)
{
    TPeer peer(Port());
    peer.Send("GET\r\n\r\nGET /later HTTP/1.0\r\n\r\n");
    EXPECT_EQ(peer.ReadFor(150), "");
    ASSERT_NE(Last, nullptr);
    EXPECT_EQ(Last->RequestState, StateBody);
}

TEST_F(HttpTest, EndlessHeadersKeepABoundedRecord)
{
    TPeer peer(Port());
    peer.Send("GET /long HTTP/1.0\r\n");
    std::string header = "X-Filler: " + std::string(1000, 'f') + "\r\n";
    for (int i = 0; i < 200; ++i)
        peer.Send(header);
    ASSERT_TRUE(RunUntil([&] { return Last && Last->ReadCount() >= static_cast<int>(20 + 200 * header.size()); }));
    RunFor(20);
    size_t kept = 0;
    for (auto& l : Last->HeaderLines)
        kept += l.size();
    EXPECT_LE(kept, THttpConnection::MaxHeaderLinesBytes);
    EXPECT_GE(Last->HeaderLines.size(), 60u);
    peer.Send("Host: still parsed\r\n\r\n");
    ASSERT_TRUE(RunUntil([&] { return Last->RequestState == StateBody; }));
    EXPECT_EQ(Last->HdrHost, "still parsed");
}

TEST_F(HttpTest, StopClosesTheListenerThenAbortsConnections)
{
    int stopped = 0;
    Server.OnServerStopped = [&](THttpServer*) { ++stopped; };
    TPeer a(Port()), b(Port());
    ASSERT_TRUE(RunUntil([&] { return Server.ClientCount() == 2; }));
    Server.Stop();
    EXPECT_EQ(stopped, 1);
    EXPECT_TRUE(a.WaitClosed());
    EXPECT_TRUE(b.WaitClosed());
    ASSERT_TRUE(RunUntil([&] { return Server.ClientCount() == 0; }));
}

TEST(HttpHelpers, DatesTypesAndDocuments)
{
    EXPECT_EQ(HttpDateText(1796608451), "Mon, 07 Dec 2026 01:54:11");
    EXPECT_EQ(HttpDateText(0), "Thu, 01 Jan 1970 00:00:00");
    EXPECT_EQ(ContentTypeOf("/d/x.HTM"), "text/html");
    EXPECT_EQ(ContentTypeOf("/d.txt/x"), "application/binary");
    EXPECT_EQ(ContentTypeOf("/d/x."), "application/binary");
    EXPECT_EQ(ContentTypeOf("/d/a.b.jpeg"), "image/jpeg");
    EXPECT_EQ(DocumentOf("/srv", "/", "index.html"), "/srv/index.html");
    EXPECT_EQ(DocumentOf("/srv", "a/b.gif", "index.html"), "/srv/a/b.gif");
    EXPECT_EQ(FileDateOf("/nonexistent/file"), 0);
}
