#include "http/HttpFixture.h"

#include <chrono>
#include <limits>

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
    EXPECT_EQ(Head("/empty.html"), Block("text/html", 0, "empty.html"));
    EXPECT_EQ(Head("/notes.txt"), Block("text/plain", 12, "notes.txt"));
    EXPECT_EQ(Head("/logo.JPG"), Block("image/jpeg", 4, "logo.JPG"));
    EXPECT_EQ(Head("/data.bin"), Block("application/binary", 1, "data.bin"));
    EXPECT_EQ(Head("/README"), Block("application/binary", 6, "README"));
    EXPECT_EQ(Head("/sub/"), Block("text/html", 3, "sub/index.html"));
    EXPECT_EQ(Head("/nosub/"), NotFound("HTTP/1.0", "/nosub/"));
    EXPECT_EQ(Head("/sub"), NotFound("HTTP/1.0", "/sub"));
    EXPECT_EQ(Head("/sub/../notes.txt"), NotFound("HTTP/1.0", "/sub/../notes.txt"));
    EXPECT_EQ(Head("/../" + Dir.filename().string() + "/notes.txt"),
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
                         HttpDateText(*FileDateOf((Dir / "big.gif").string())) + " GMT\r\n\r\n";
    EXPECT_EQ(reply, header + content);
    EXPECT_EQ(sends, (std::vector<int>{static_cast<int>(header.size()), 1514, 1514, 1}));
}

TEST_F(HttpTest, KeepAliveOnlyForTheWholeValueIgnoringCase)
{
    File("k.txt", "k");
    TPeer kept(Port());
    kept.Send("HEAD /k.txt HTTP/1.0\r\nConnection: keep-alive\r\n\r\n");
    EXPECT_NE(kept.ReadFor(300).find("Content-Length: 1"), std::string::npos);
    ASSERT_NE(Last, nullptr);
    EXPECT_EQ(Last->RequestState, StateRequestLine);
    EXPECT_EQ(Last->State(), wsConnected);
    // Its sending side stays open for the next reply, which may need the chunk buffer that
    // the HEAD before it never made.
    kept.Send("GET /k.txt HTTP/1.0\r\n\r\n");
    EXPECT_EQ(Exchange(kept, ""), Block("text/plain", 1, "k.txt") + "k");

    TPeer closed(Port());
    closed.Send("HEAD /k.txt HTTP/1.0\r\nConnection: keep-alive \r\n\r\n");
    EXPECT_TRUE(closed.WaitClosed());
}

TEST_F(HttpTest, KeptAliveRequestSentTheMomentTheReplyArrivesIsAnswered)
{
    File("k.txt", "k");
    std::string request = "HEAD /k.txt HTTP/1.0\r\nConnection: keep-alive\r\n\r\n";
    std::string reply = Block("text/plain", 1, "k.txt");
    TPeer kept(Port());
    for (int i = 0; i < 5; ++i) {
        // Each request leaves as soon as the reply before it is in, as a client sends it.
        kept.Send(request);
        ASSERT_EQ(kept.ReadExactly(reply.size(), 2000), reply) << "request " << i;
    }
    // The last one asks for no more: answered, then closed.
    kept.Send("HEAD /k.txt HTTP/1.0\r\n\r\n");
    EXPECT_EQ(Exchange(kept, ""), reply);
}

TEST_F(HttpTest, WhatAKeptAliveClientSendsDuringAReplyIsBounded)
{
    File("big.bin", std::string(8 << 20, 'b'));
    TPeer kept(Port());
    kept.Send("GET /big.bin HTTP/1.0\r\nConnection: keep-alive\r\n\r\n");
    ASSERT_TRUE(RunUntil([&] { return Last && Last->RequestState == StateBody; }));
    THttpConnection* c = Last;
    // The transfer stalls (nothing is read) while lines keep coming: they are kept for after
    // the reply only up to what a request head may hold, then the connection ends.
    std::string line(1000, 'x');
    line += "\r\n";
    for (int i = 0; i < 400 && Last == c && c->State() == wsConnected; ++i) {
        kept.Send(line);
        RunFor(0);
    }
    EXPECT_TRUE(RunUntil([&] { return Last != c || c->State() == wsClosed; }));
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
    // Past what one request head may take, lines are dropped unread; the request is still
    // answered when its head ends.
    peer.Send("Host: past the head\r\n\r\n");
    EXPECT_EQ(Exchange(peer, ""), NotFound("HTTP/1.0", "/long"));
}

TEST_F(HttpTest, ARequestHeadIsTakenUpToItsBoundAsAWhole)
{
    TPeer peer(Port());
    // Every line within the line limit, and every header one the connection keeps a value of:
    // together far more than one head may hold.
    const std::string value(60000, 'v');
    std::string head = "GET /big?" + std::string(3000, 'p') + " HTTP/1.0\r\n";
    for (const char* name : {"Host: ", "User-Agent: ", "Accept: ", "Referer: ", "Accept-Language: ",
                             "Accept-Encoding: ", "Content-Type: ", "Connection: "})
        head += name + value + "\r\n";
    peer.Send(head);
    ASSERT_TRUE(RunUntil([&] { return Last && Last->ReadCount() >= static_cast<int64_t>(head.size()); }));
    RunFor(20);
    EXPECT_EQ(Last->HdrHost, value);
    EXPECT_EQ(Last->HdrUserAgent, "");
    EXPECT_EQ(Last->HdrConnection, "");
    size_t held = Last->RequestMethod.size() + Last->Path.size() + Last->Params.size() + Last->RequestVersion.size();
    for (const std::string* v : {&Last->HdrContentType, &Last->HdrAccept, &Last->HdrReferer, &Last->HdrAcceptLanguage,
                                 &Last->HdrAcceptEncoding, &Last->HdrUserAgent, &Last->HdrHost, &Last->HdrConnection})
        held += v->size();
    for (auto& l : Last->HeaderLines)
        held += l.size();
    EXPECT_LE(held, 2 * THttpConnection::MaxRequestHeadBytes);  // values, and the lines they came in
    peer.Send("\r\n");
    EXPECT_EQ(Exchange(peer, ""), NotFound("HTTP/1.0", "/big"));
}

TEST_F(HttpTest, ShortHeaderLinesAreBoundedByTheirNumberToo)
{
    TPeer peer(Port());
    peer.Send("GET /many HTTP/1.0\r\n");
    std::string lines;
    for (int i = 0; i < 1000; ++i)
        lines += "a\r\n";
    peer.Send(lines);
    peer.Send("Host: last\r\n");
    ASSERT_TRUE(RunUntil([&] { return Last && Last->HdrHost == "last"; }));
    EXPECT_EQ(Last->HeaderLines.size(), THttpConnection::MaxHeaderLines);
    EXPECT_EQ(Last->HeaderLines.back(), "a");
    peer.Send("\r\n");
    EXPECT_EQ(Exchange(peer, ""), NotFound("HTTP/1.0", "/many"));
}

TEST_F(HttpTest, HeadHoldsNoFileOnceItsHeaderIsQueued)
{
    File("h.txt", "head");
    TPeer peer(Port());
    ASSERT_TRUE(RunUntil([&] { return Last != nullptr; }));
    std::vector<bool> openWhileSending;
    Last->OnSendData = [&](TCustomWSocket*, int) { openWhileSending.push_back(FileIsOpen((Dir / "h.txt").string())); };
    EXPECT_EQ(Exchange(peer, "HEAD /h.txt HTTP/1.0\r\n\r\n"), Block("text/plain", 4, "h.txt"));
    EXPECT_EQ(openWhileSending, std::vector<bool>{false});
    EXPECT_FALSE(FileIsOpen((Dir / "h.txt").string()));
}

TEST_F(HttpTest, NamesThatAFileSystemReadsOtherwiseGetTheNotFoundReply)
{
    // Backslashes, streams, devices and names that a system cuts short: on none of them may a
    // request reach a file outside the folder, a device or a file under another name.
    File("www/a.html", "<p>a</p>");
    File("www/sub/b.txt", "b");
    File("secret.txt", "secret");
    Server.DocDir = (Dir / "www").string();
    for (const std::string path : {"/sub\\..\\..\\secret.txt", "/..\\secret.txt", "\\..\\secret.txt",
                                   "/a.html::$DATA", "/a.html:x", "/a.html.", "/a.html...", "/NUL", "/con.txt",
                                   "/sub/AUX", "/COM1", "//./NUL", "/C:/secret.txt"})
        EXPECT_EQ(Head(path), NotFound("HTTP/1.0", path)) << path;
    EXPECT_EQ(Head("/a.html"), Block("text/html", 8, "www/a.html"));
}

TEST_F(HttpTest, AZeroByteInThePathNamesNoFile)
{
    File("page.html", "<p>");
    std::string path("/page.html\0.txt", 15);
    EXPECT_EQ(Head(path), NotFound("HTTP/1.0", path));
    EXPECT_EQ(Head(std::string("/\0", 2)), NotFound("HTTP/1.0", std::string("/\0", 2)));
    EXPECT_EQ(Head("/page.html"), Block("text/html", 3, "page.html"));
}

TEST_F(HttpTest, AnEmptyDocumentFolderServesNothing)
{
    File("notes.txt", "notes");
    std::string absolute = (Dir / "notes.txt").string();
    Server.DocDir = "";
    EXPECT_EQ(Head(absolute), NotFound("HTTP/1.0", absolute));
}

TEST_F(HttpTest, AFileOfTheFirstSecondOf1970KeepsItsDate)
{
    File("epoch.txt", "e");
    std::error_code error;
    std::filesystem::last_write_time(Dir / "epoch.txt", std::chrono::file_clock::from_sys(std::chrono::sys_seconds{}), error);
    ASSERT_FALSE(error) << error.message();
    EXPECT_EQ(FileDateOf((Dir / "epoch.txt").string()), std::optional<time_t>(0));
    EXPECT_EQ(Head("/epoch.txt"), "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 1\r\n"
                                  "Last-Modified: Thu, 01 Jan 1970 00:00:00 GMT\r\n\r\n");
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
    EXPECT_EQ(HttpDateText(-1), "Wed, 31 Dec 1969 23:59:59");
    EXPECT_EQ(HttpDateText(951782400), "Tue, 29 Feb 2000 00:00:00");
    EXPECT_EQ(HttpDateText(-11644473600), "Mon, 01 Jan 1601 00:00:00");  // the oldest date of some file systems
    EXPECT_EQ(HttpDateText(std::numeric_limits<time_t>::max()), "Fri, 31 Dec 9999 23:59:59");
    EXPECT_EQ(HttpDateText(std::numeric_limits<time_t>::min()), "Mon, 01 Jan 0001 00:00:00");
    EXPECT_EQ(ContentTypeOf("/d/x.HTM"), "text/html");
    EXPECT_EQ(ContentTypeOf("/d.txt/x"), "application/binary");
    EXPECT_EQ(ContentTypeOf("/d/x."), "application/binary");
    EXPECT_EQ(ContentTypeOf("/d/a.b.jpeg"), "image/jpeg");
    EXPECT_EQ(DocumentOf("/srv", "/", "index.html"), "/srv/index.html");
    EXPECT_EQ(DocumentOf("/srv", "a/b.gif", "index.html"), "/srv/a/b.gif");
    EXPECT_EQ(FileDateOf("/nonexistent/file"), std::nullopt);
}
