// The metrics endpoint: GET /metrics and nothing else, each reply ending its connection, with
// the HTTP server's bounds against peers that flood, dribble or say nothing.
#include "http/MetricsEndpoint.h"

#include <memory>

#include "http/HttpFixture.h"

namespace {

const std::string Text = "# HELP x_total An example.\n# TYPE x_total counter\nx_total 7\n";

std::string Ok(const std::string& body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

std::string NotAllowed(bool head)
{
    return std::string("HTTP/1.1 405 Method Not Allowed\r\nAllow: GET\r\nContent-Type: text/plain; charset=utf-8\r\n") +
           (head ? "Content-Length: 0\r\nConnection: close\r\n\r\n" : "Content-Length: 9\r\nConnection: close\r\n\r\nonly GET\n");
}

struct MetricsEndpointTest : HttpTest {
    int Asked = 0;
    std::string Body = Text;
    TMetricsEndpoint Endpoint{Server, [this] {
                                  ++Asked;
                                  return Body;
                              }};

    void SetUp() override
    {
        HttpTest::SetUp();
        Endpoint.Bind();
    }
    uint64_t Replies(THttpReply r) const { return Server.Counters.Replies[r]; }
};

}  // namespace

TEST_F(MetricsEndpointTest, GetMetricsIsAnsweredWholeAndTheConnectionEnds)
{
    EXPECT_EQ(Exchange("GET /metrics HTTP/1.1\r\nHost: localhost\r\nAccept: text/plain\r\n\r\n"), Ok(Text));
    EXPECT_EQ(Exchange("GET /metrics HTTP/1.0\r\n\r\n"), Ok(Text));
    EXPECT_EQ(Asked, 2);
    EXPECT_EQ(Replies(hrMetrics), 2u);
    EXPECT_TRUE(RunUntil([&] { return Server.ClientCount() == 0; }));
    EXPECT_EQ(Server.ConnectionCounters().Closed[ccServer], 2u);
}

TEST_F(MetricsEndpointTest, ALongTextReachesAReaderThatTakesItSlowly)
{
    Body.clear();
    for (int i = 0; Body.size() < 1024 * 1024; ++i)
        Body += "x_total{n=\"" + std::to_string(i) + "\"} " + std::to_string(i) + "\n";
    TPeer peer(Port());
    peer.SetReceiveBuffer(16 * 1024);
    peer.Send("GET /metrics HTTP/1.1\r\n\r\n");
    // More than the system takes at once: the rest follows as the reader makes room.
    std::string got;
    int64_t start = MonotonicMs();
    while (!peer.WaitClosed(0) && MonotonicMs() - start < 20000)
        got += peer.ReadFor(10);
    got += peer.ReadFor(0);
    EXPECT_EQ(got.size(), Ok(Body).size());
    EXPECT_TRUE(got == Ok(Body));
}

TEST_F(MetricsEndpointTest, OtherPathsAreNotFoundOtherMethodsNotAllowed)
{
    File("index.html", "a file of the folder the server had");
    EXPECT_EQ(Exchange("GET / HTTP/1.0\r\n\r\n"), NotFound("HTTP/1.0", "/"));
    EXPECT_EQ(Exchange("GET /metrics/ HTTP/1.1\r\n\r\n"), NotFound("HTTP/1.1", "/metrics/"));
    EXPECT_EQ(Exchange("GET /METRICS HTTP/1.0\r\n\r\n"), NotFound("HTTP/1.0", "/METRICS"));
    // Nothing of the disk is served, not even what lies in the folder the server was given.
    EXPECT_EQ(Exchange("HEAD /index.html HTTP/1.0\r\n\r\n"), NotFound("HTTP/1.0", "/index.html"));
    EXPECT_EQ(Exchange("DELETE /x HTTP/1.0\r\n\r\n"), NotFound("HTTP/1.0", "/x"));
    EXPECT_EQ(Exchange("POST /x HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc"), NotFound("HTTP/1.0", "/x"));
    EXPECT_EQ(Replies(hrNotFound), 6u);

    EXPECT_EQ(Exchange("POST /metrics HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc"), NotAllowed(false));
    EXPECT_EQ(Exchange("PUT /metrics HTTP/1.1\r\n\r\n"), NotAllowed(false));
    EXPECT_EQ(Exchange("OPTIONS /metrics HTTP/1.1\r\n\r\n"), NotAllowed(false));
    EXPECT_EQ(Exchange("HEAD /metrics HTTP/1.1\r\n\r\n"), NotAllowed(true));
    EXPECT_EQ(Replies(hrMethodNotAllowed), 4u);
    EXPECT_EQ(Asked, 0);
    EXPECT_EQ(Replies(hrMetrics), 0u);
}

TEST_F(MetricsEndpointTest, SurvivesFloodsDribblersAndSilentPeersAndStillAnswers)
{
    Server.SetRequestTimeoutMs(3000);
    // Silent connections, and peers dribbling a header a byte at a time.
    std::vector<std::unique_ptr<TPeer>> silent, dribblers;
    for (int i = 0; i < 100; ++i)
        silent.push_back(std::make_unique<TPeer>(Port()));
    for (int i = 0; i < 20; ++i) {
        dribblers.push_back(std::make_unique<TPeer>(Port()));
        dribblers.back()->Send("GET /metrics HTTP/1.1\r\nX-Slow: ");
    }
    // A flood: a header line far over the line limit, and a request with thousands of headers.
    TPeer endless(Port());
    endless.Send("GET /metrics HTTP/1.1\r\nX-Endless: ");
    ByteString chunk(64 * 1024, 'e');
    for (int i = 0; i < 32; ++i)
        endless.Send(chunk);
    TPeer many(Port());
    std::string headers = "GET /metrics HTTP/1.1\r\n";
    for (int i = 0; i < 5000; ++i)
        headers += "X-" + std::to_string(i) + ": " + std::string(40, 'h') + "\r\n";
    many.Send(headers + "\r\n");
    EXPECT_EQ(Exchange("GET /metrics HTTP/1.1\r\n\r\n"), Ok(Text));  // served meanwhile

    int64_t start = MonotonicMs();
    while (MonotonicMs() - start < 3500) {  // a byte every 50 ms each, past the limit
        for (auto& d : dribblers)
            if (!d->WaitClosed(0))
                d->Send("s");
        RunFor(50);
    }
    for (auto& p : silent)
        EXPECT_TRUE(p->WaitClosed(5000));
    for (auto& d : dribblers)
        EXPECT_TRUE(d->WaitClosed(5000));
    EXPECT_TRUE(endless.WaitClosed(5000));
    EXPECT_TRUE(many.WaitClosed(5000));
    EXPECT_EQ(many.ReadFor(0), Ok(Text));  // its headers are bounded, its request stands
    EXPECT_TRUE(RunUntil([&] { return Server.ClientCount() == 0; }));
    EXPECT_EQ(Server.ConnectionCounters().Closed[ccHttpTimeout], 121u);
    EXPECT_EQ(Exchange("GET /metrics HTTP/1.0\r\n\r\n"), Ok(Text));
}
