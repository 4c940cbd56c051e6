#include "core/Znaki.h"
#include "http/Bootstrap.h"
#include "http/HttpFixture.h"
#include "support/ZzPeer.h"

namespace {

struct BootstrapTest : HttpTest {
    TMemoryLog Log;
    ByteString Address = "localhost";
    TRandomDraw Random{777};
    TRandomDraw Expected{777};
    TBootstrapHandlers Handlers{Server, Log, [this] { return Address; }, Random};

    void SetUp() override
    {
        HttpTest::SetUp();
        Handlers.Bind();
    }
    size_t Closed() const
    {
        return static_cast<size_t>(std::count(Log.Lines.begin(), Log.Lines.end(), Znaki::ToCp1250("rozłączenie")));
    }
    // The reply arrives while the connection stays open.
    std::string Ask(const std::string& request)
    {
        TPeer peer(Port());
        peer.Send(request);
        return peer.ReadFor(150);
    }
};

}  // namespace

TEST_F(BootstrapTest, EveryGetGetsTheAddressReply)
{
    File("index.html", "a real file");
    size_t asked = 0;
    for (const char* path : {"/", "/index.html", "/appsvc/tokenpic.asp", "/appsvc/appmsg4.asp?fmnumber=1&version=7"}) {
        EXPECT_EQ(Ask(std::string("GET ") + path + " HTTP/1.0\r\nHost: x\r\n\r\n"),
                  "Content-Type: text/data\r\n\r\n0 0 localhost:8074 localhost");
        ++asked;
        ASSERT_TRUE(RunUntil([&] { return Closed() == asked; }));
    }
    std::vector<ByteString> expected;
    for (const char* line : {"get /", "get /index.html", "get /appsvc/tokenpic.asp", "get /appsvc/appmsg4.asp"}) {
        expected.push_back(Znaki::ToCp1250("nowe połączenie"));
        expected.push_back(line);
        expected.push_back(Znaki::ToCp1250("rozłączenie"));
    }
    EXPECT_EQ(Log.Lines, expected);
}

TEST_F(BootstrapTest, AddressIsReadAfreshAndMayBeEmpty)
{
    EXPECT_EQ(Ask("GET /appsvc/appmsg4.asp HTTP/1.0\r\n\r\n"), "Content-Type: text/data\r\n\r\n0 0 localhost:8074 localhost");
    Address = Znaki::ToCp1250("serwer.łódź");
    EXPECT_EQ(Ask("GET /appsvc/appmsg4.asp HTTP/1.0\r\n\r\n"),
              "Content-Type: text/data\r\n\r\n0 0 serwer.\xB3\xF3\x64\x9F:8074 serwer.\xB3\xF3\x64\x9F");
    Address = "";
    EXPECT_EQ(Ask("GET / HTTP/1.0\r\n\r\n"), "Content-Type: text/data\r\n\r\n0 0 :8074 ");
}

TEST_F(BootstrapTest, RegistrationToken)
{
    std::string token = "60 24 6\r\n3E71B09D\r\nhttp://localhost/appsvc/tokenpic.asp";
    EXPECT_EQ(Ask("POST /appsvc/regtoken.asp HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc"), token);
    EXPECT_EQ(Ask("POST /appsvc/regtoken.asp?x=1 HTTP/1.0\r\n\r\n"), token);
    // Each token drew a number that was not used: the next registration shows it.
    Expected.Random(MaxDraw);
    Expected.Random(MaxDraw);
    EXPECT_EQ(Ask("POST /APPSVC/REGTOKEN.ASP HTTP/1.0\r\n\r\n"),
              "Content-Type: text/data\r\n\r\nreg_success:" + std::to_string(Expected.Random(MaxDraw)));
    EXPECT_EQ(Ask("POST /appsvc/regtoken.asp/ HTTP/1.0\r\n\r\n"),
              "Content-Type: text/data\r\n\r\nreg_success:" + std::to_string(Expected.Random(MaxDraw)));
    EXPECT_NE(std::find(Log.Lines.begin(), Log.Lines.end(), "post /appsvc/regtoken.asp"), Log.Lines.end());
}

TEST_F(BootstrapTest, HeadIsServedFromTheDocumentDirectoryAndOtherMethodsWriteNoLine)
{
    File("index.html", "12345");
    std::string head = Ask("HEAD / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(head.substr(0, head.find("Last-Modified")),
              "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5\r\n");
    std::string put = Ask("PUT / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(put.substr(0, 24), "HTTP/1.0 404 Not Found\r\n");
    ASSERT_TRUE(RunUntil([&] { return Closed() == 2; }));
    for (const ByteString& line : Log.Lines)
        EXPECT_TRUE(line == Znaki::ToCp1250("nowe połączenie") || line == Znaki::ToCp1250("rozłączenie")) << line;
}
