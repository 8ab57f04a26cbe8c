#include "stream/http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/stream/test_application.h"
#include "tests/support/http_test_proxy.h"
#include "tests/support/http_test_server.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::HttpTestServer;
using test::TestApplication;
using test::WithWindow;
using Clock = std::chrono::steady_clock;

std::string expectedRequest(const std::string& target, const std::string& host) {
    return "GET " + target + " HTTP/1.0\r\nUser-Agent: Korvanel Radio v0.3.6\r\nHost: " + host + "\r\n\r\n";
}

// Short bounds keep the failure cases fast.
HttpLimits shortLimits() {
    HttpLimits limits;
    limits.connectTimeout = 2000ms;
    limits.idleTimeout = 400ms;
    limits.maxBodyBytes = 1024 * 1024;
    return limits;
}

class HttpClientTest : public ::testing::Test {
protected:
    HttpClient& client() { return application_.app().httpClient(); }
    void useProxy(const std::string& host, int port) {
        application_.app().settings().setString("General/Proxy", host);
        application_.app().settings().setInt("General/ProxyPort", port);
        application_.app().settings().notifyChanged();
    }

    TestApplication application_;
    ByteBuffer body_;
};

TEST_F(HttpClientTest, SendsExactlyTheFourLinesAndKeepsABodyWithZeroBytes) {
    const std::string content("line one\r\n\0binary\xff tail", 22);
    HttpTestServer server(HttpTestServer::reply(HttpTestServer::okResponse(content)));

    ASSERT_TRUE(client().fetch(server.url("/list.pls"), body_));
    EXPECT_EQ(body_.view(), content);

    ASSERT_TRUE(client().fetch("http://127.0.0.1:" + std::to_string(server.port()), body_));
    ASSERT_TRUE(client().fetch("http://127.0.0.1:" + std::to_string(server.port()) + "?id=3", body_));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0], expectedRequest("/list.pls", "127.0.0.1"));
    EXPECT_EQ(requests[1], expectedRequest("/", "127.0.0.1"));  // no path, no port in Host
    EXPECT_EQ(requests[2], expectedRequest("/", "127.0.0.1"));
}

TEST_F(HttpClientTest, AcceptsOnlyTheTwo200StatusLines) {
    struct Case {
        std::string response;
        bool ok;
    };
    const Case cases[] = {
        {HttpTestServer::okResponse("a", "HTTP/1.0 200 OK"), true},
        {HttpTestServer::okResponse("", "HTTP/1.1 200 OK"), true},  // an empty body is still a body
        {"HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1/elsewhere.pls\r\n\r\n", false},
        {HttpTestServer::okResponse("not here", "HTTP/1.1 404 Not Found"), false},
        {HttpTestServer::okResponse("HTTP/1.0 200 OK", "HTTP/1.1 404 Not Found"), false},
        {HttpTestServer::okResponse("audio", "ICY 200 OK"), false},
        {HttpTestServer::okResponse("a", "HTTP/1.1 200 ok"), false},
        {"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n", false},  // no end of headers
        {"", false},
    };
    for (const Case& c : cases) {
        HttpTestServer server(HttpTestServer::reply(c.response));
        ASSERT_TRUE(body_.append("stale"));
        EXPECT_EQ(client().fetch(server.url("/x"), body_), c.ok) << c.response;
        if (!c.ok) {
            EXPECT_TRUE(body_.empty()) << c.response;
        }
    }
}

TEST_F(HttpClientTest, RefusesUnusableAddressesWithoutTouchingTheNetwork) {
    HttpTestServer server(HttpTestServer::reply(HttpTestServer::okResponse("x")));
    const std::string port = std::to_string(server.port());
    const std::string refused[] = {
        "ftp://127.0.0.1:" + port + "/x",
        "HTTP://127.0.0.1:" + port + "/x",
        " http://127.0.0.1:" + port + "/x",
        "http://",
        "http://:" + port + "/x",
        "http://127.0.0.1:0/x",
        "http://127.0.0.1:70000/x",
        "http://127.0.0.1:" + port + "/a\r\nX-Injected: 1",
        "http://127.0.0.1:" + port + "/a b",
        "http://" + std::string(256, 'h') + "/x",
        "http://127.0.0.1:" + port + "/" + std::string(255, 'p'),  // target of 256
        "",
    };
    for (const std::string& url : refused) {
        EXPECT_FALSE(client().fetch(url, body_)) << url;
    }
    EXPECT_EQ(server.connectionCount(), 0);

    // The longest target that fits is still fetched.
    EXPECT_TRUE(client().fetch("http://127.0.0.1:" + port + "/" + std::string(254, 'p'), body_));
}

TEST_F(HttpClientTest, FailsCleanlyWhenNothingListens) {
    std::uint16_t port = 0;
    {
        HttpTestServer gone(HttpTestServer::reply(""));
        port = gone.port();
    }
    EXPECT_FALSE(client().fetch("http://127.0.0.1:" + std::to_string(port) + "/", body_));
}

TEST_F(HttpClientTest, TriesEveryResolvedAddress) {
    // "localhost" may resolve to ::1 first; the server listens on IPv4 only.
    HttpTestServer server(HttpTestServer::reply(HttpTestServer::okResponse("found")));
    ASSERT_TRUE(client().fetch("http://localhost:" + std::to_string(server.port()) + "/", body_));
    EXPECT_EQ(body_.view(), "found");
    EXPECT_EQ(server.requests().at(0), expectedRequest("/", "localhost"));
}

TEST_F(HttpClientTest, SilentServerFailsAtTheInactivityBound) {
    client().setLimits(shortLimits());
    HttpTestServer server([](HttpTestServer::Connection& connection, const std::string&) {
        connection.waitForPeerClose(10s);
    });
    const auto start = Clock::now();
    EXPECT_FALSE(client().fetch(server.url("/"), body_));
    EXPECT_LT(Clock::now() - start, 5s);
}

TEST_F(HttpClientTest, EndlessBodyFailsAtTheSizeBound) {
    client().setLimits(shortLimits());
    HttpTestServer server([](HttpTestServer::Connection& connection, const std::string&) {
        const std::string chunk(64 * 1024, 'A');
        if (!connection.send("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n")) {
            return;
        }
        for (int i = 0; i < 1000 && connection.send(chunk); ++i) {
        }
    });
    EXPECT_FALSE(client().fetch(server.url("/stream"), body_));
    EXPECT_TRUE(body_.empty());
}

TEST_F(HttpClientTest, BodyExactlyAtTheSizeBoundSucceeds) {
    HttpLimits limits = shortLimits();
    client().setLimits(limits);
    const std::string full(limits.maxBodyBytes, 'b');
    HttpTestServer server(HttpTestServer::reply(HttpTestServer::okResponse(full)));
    ASSERT_TRUE(client().fetch(server.url("/"), body_));
    EXPECT_EQ(body_.size(), limits.maxBodyBytes);

    HttpTestServer over(HttpTestServer::reply(HttpTestServer::okResponse(full + "b")));
    EXPECT_FALSE(client().fetch(over.url("/"), body_));
}

TEST_F(HttpClientTest, SlowDripUnderTheInactivityBoundSucceeds) {
    client().setLimits(shortLimits());  // 400 ms of silence allowed, 800 ms in all
    HttpTestServer server([](HttpTestServer::Connection& connection, const std::string&) {
        connection.send("HTTP/1.1 200 OK\r\n\r\n");
        for (int i = 0; i < 8; ++i) {
            if (!connection.pause(100ms) || !connection.send("drip" + std::to_string(i) + "\n")) {
                return;
            }
        }
    });
    ASSERT_TRUE(client().fetch(server.url("/"), body_));
    EXPECT_EQ(body_.view(), "drip0\ndrip1\ndrip2\ndrip3\ndrip4\ndrip5\ndrip6\ndrip7\n");
}

TEST_F(HttpClientTest, ThroughAProxySendsTheWholeAddressWithTheUrlsHost) {
    HttpTestServer proxy(HttpTestServer::reply(HttpTestServer::okResponse("via proxy")));
    useProxy("127.0.0.1", proxy.port());

    ASSERT_TRUE(client().fetch("http://radio.invalid:8000/list.pls", body_));
    EXPECT_EQ(body_.view(), "via proxy");
    ASSERT_TRUE(client().fetch("http://radio.invalid", body_));
    const auto requests = proxy.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], expectedRequest("http://radio.invalid:8000/list.pls", "radio.invalid"));
    EXPECT_EQ(requests[1], expectedRequest("http://radio.invalid", "radio.invalid"));

    // Without a usable proxy port nothing is sent anywhere.
    useProxy("127.0.0.1", 0);
    EXPECT_FALSE(client().fetch("http://radio.invalid/x", body_));
    EXPECT_EQ(proxy.connectionCount(), 2);
}

TEST_F(HttpClientTest, FetchesAPageThroughARealProxy) {
    if (test::HttpTestProxy::programPath().empty()) {
        GTEST_SKIP() << "tinyproxy is not installed";
    }
    HttpTestServer server(HttpTestServer::reply(HttpTestServer::okResponse("File1=http://a:8000/\r\n")));
    test::HttpTestProxy proxy;
    ASSERT_TRUE(proxy.started()) << proxy.log();
    useProxy("127.0.0.1", proxy.port());

    ASSERT_TRUE(client().fetch(server.url("/list.pls"), body_)) << proxy.log();
    EXPECT_EQ(body_.view(), "File1=http://a:8000/\r\n");
    // The proxy asked the server for the path, naming the server's host.
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].rfind("GET /list.pls HTTP/1.", 0), 0u) << requests[0];
    EXPECT_NE(requests[0].find("Host: 127.0.0.1"), std::string::npos) << requests[0];
}

TEST(HttpClientJobs, DownloadReplacesTheFileOnlyWhenAllArrived) {
    TestApplication application;
    HttpClient& client = application.app().httpClient();
    const std::string target = application.folder().file("presets.xml");
    test::writeFile(target, "old presets");

    HttpTestServer missing(HttpTestServer::reply(HttpTestServer::okResponse("gone", "HTTP/1.1 404 Not Found")));
    client.post(HttpRequest::downloadToFile(missing.url("/update.php?fetch=presets"), target));
    EXPECT_EQ(application.window().waitForEvents(1),
              std::vector<EventKind>{EventKind::PresetsUpdateFailed});
    EXPECT_EQ(test::readFile(target), "old presets");

    HttpTestServer found(HttpTestServer::reply(HttpTestServer::okResponse("<Presets/>")));
    client.post(HttpRequest::downloadToFile(found.url("/update.php?fetch=presets"), target));
    EXPECT_EQ(application.window().waitForEvents(2).at(1), EventKind::PresetsUpdated);
    EXPECT_EQ(test::readFile(target), "<Presets/>");

    // A folder that does not exist cannot be written: the fetch alone is not success.
    client.post(HttpRequest::downloadToFile(found.url("/"), application.folder().file("no/such/presets.xml")));
    EXPECT_EQ(application.window().waitForEvents(3).at(2), EventKind::PresetsUpdateFailed);
}

TEST(HttpClientJobs, FetchToMemoryHandsTheBodyToTheWindow) {
    TestApplication application;
    HttpClient& client = application.app().httpClient();
    HttpTestServer server(HttpTestServer::reply(HttpTestServer::okResponse("20240105")));
    HttpTestServer broken(HttpTestServer::reply("ICY 200 OK\r\n\r\n"));

    client.post(HttpRequest::fetchToMemory(server.url("/update.php?check=presets")));
    application.window().waitForEvents(1);
    client.post(HttpRequest::fetchToMemory(broken.url("/update.php?check=presets")));

    const auto events = application.window().waitForEvents(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], EventKind::PresetsVersion);
    EXPECT_EQ(events[1], EventKind::PresetsCheckFailed);
    EXPECT_EQ(application.window().texts().at(0), "20240105");
    EXPECT_EQ(server.requests().at(0), expectedRequest("/update.php?check=presets", "127.0.0.1"));
}

TEST(HttpClientJobs, WithoutAWindowTheDownloadStillWritesAndTheCheckDoesNothing) {
    TestApplication application(WithWindow::No);
    HttpClient& client = application.app().httpClient();
    HttpTestServer server(HttpTestServer::reply(HttpTestServer::okResponse("body")));
    const std::string target = application.folder().file("presets.xml");

    client.post(HttpRequest::fetchToMemory(server.url("/check")));
    client.post(HttpRequest::downloadToFile(server.url("/fetch"), target));
    const auto deadline = Clock::now() + 10s;
    while (test::readFile(target).empty() && Clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(test::readFile(target), "body");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], expectedRequest("/fetch", "127.0.0.1"));
}

TEST(HttpClientJobs, ShutdownCutsRunningFetchesShort) {
    HttpTestServer silent([](HttpTestServer::Connection& connection, const std::string&) {
        connection.waitForPeerClose(20s);
    });
    const auto start = Clock::now();
    {
        TestApplication application;  // default bounds: 15 s of silence allowed
        application.app().httpClient().post(HttpRequest::fetchToMemory(silent.url("/check")));
        const auto deadline = Clock::now() + 5s;
        while (silent.connectionCount() == 0 && Clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        ASSERT_EQ(silent.connectionCount(), 1);
    }
    EXPECT_LT(Clock::now() - start, 5s);
}

}  // namespace
}  // namespace korvanel
