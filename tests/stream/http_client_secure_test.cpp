// The HTTP client over TLS, across redirects, with chunked bodies and IPv6
// literals, against real servers on the loopback.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "base/window_event.h"
#include "stream/chunked_decoder.h"
#include "stream/http_address.h"
#include "stream/http_client.h"
#include "stream/tls_client_context.h"
#include "tests/stream/test_application.h"
#include "tests/support/http_test_proxy.h"
#include "tests/support/http_test_server.h"
#include "tests/support/tls_test_server.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::HttpTestServer;
using test::TestApplication;

const std::string kPlaylist = "[playlist]\nNumberOfEntries=1\nFile1=http://radio.example:8000/live\n";

// The body in chunks of the given sizes, which split lines where they fall.
std::string chunked(const std::string& body, std::size_t size) {
    std::string out = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (std::size_t at = 0; at < body.size(); at += size) {
        const std::string part = body.substr(at, size);
        char line[32];
        std::snprintf(line, sizeof line, "%zx;ext=1\r\n", part.size());
        out += line + part + "\r\n";
    }
    return out + "0\r\nX-Trailer: yes\r\n\r\n";
}

// Answers "/hopN" with a redirect to "/hop(N-1)" and "/hop0" with the body.
HttpTestServer::Handler hops(const std::string& finalBody) {
    return [finalBody](HttpTestServer::Connection& connection, const std::string& request) {
        const std::size_t at = request.find("/hop");
        const int n = at == std::string::npos ? 0 : std::atoi(request.c_str() + at + 4);
        connection.send(n == 0 ? HttpTestServer::okResponse(finalBody)
                               : "HTTP/1.0 302 Found\r\nLocation: /hop" + std::to_string(n - 1) + "\r\n\r\n");
    };
}

class HttpClientSecureTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::opensslAvailable()) {
            GTEST_SKIP() << "the openssl tool is not installed";
        }
        ASSERT_TRUE(test::makeCertificates(folder_));
    }
    HttpClient& client() { return application_.app().httpClient(); }
    std::unique_ptr<test::TlsTestServer> tlsServer(const std::string& answer) {
        auto server = std::make_unique<test::TlsTestServer>(folder_.file("server.pem"), folder_.file("server.key"),
                                                            answer);
        EXPECT_TRUE(server->ready());
        return server;
    }
    std::string https(const test::TlsTestServer& server, const std::string& host = "localhost") {
        return "https://" + host + ":" + std::to_string(server.port()) + "/list.pls";
    }

    test::TempFolder folder_;
    TestApplication application_;
    ByteBuffer body_;
};

TEST_F(HttpClientSecureTest, ATrustedServerAnswersAlsoThroughAProxysTunnel) {
    test::ScopedEnv trust("SSL_CERT_FILE", folder_.file("ca.pem"));
    const auto server = tlsServer(chunked(kPlaylist, 7));
    ASSERT_TRUE(client().fetch(https(*server), body_));
    EXPECT_EQ(body_.view(), kPlaylist);

    test::HttpTestProxy proxy;
    if (!proxy.started()) {
        GTEST_SKIP() << "tinyproxy is not installed";
    }
    application_.app().settings().setString("General/Proxy", "127.0.0.1");
    application_.app().settings().setInt("General/ProxyPort", proxy.port());
    application_.app().settings().notifyChanged();
    ASSERT_TRUE(client().fetch(https(*server), body_)) << proxy.log();
    EXPECT_EQ(body_.view(), kPlaylist);
}

TEST_F(HttpClientSecureTest, AnotherHostsOrAnUnknownCertificateIsRefusedAndTheLogSaysWhy) {
    const auto server = tlsServer(HttpTestServer::okResponse(kPlaylist));
    ASSERT_TRUE(test::makeExpiredCertificate(folder_));
    test::TlsTestServer expired(folder_.file("expired.pem"), folder_.file("expired.key"),
                                HttpTestServer::okResponse(kPlaylist));
    ASSERT_TRUE(expired.ready());
    TlsFailure why = TlsFailure::None;
    {
        test::ScopedEnv trust("SSL_CERT_FILE", folder_.file("ca.pem"));
        // The certificate names localhost.
        EXPECT_FALSE(client().fetch(https(*server, "127.0.0.1"), body_, -1, nullptr, &why));
        EXPECT_EQ(why, TlsFailure::HostMismatch);
        EXPECT_EQ(client().checkCertificate(https(*server, "127.0.0.1")), TlsFailure::HostMismatch);
        EXPECT_FALSE(client().fetch(https(expired), body_, -1, nullptr, &why));
        EXPECT_EQ(why, TlsFailure::Expired);
        EXPECT_EQ(client().checkCertificate(https(*server)), TlsFailure::None);
    }
    {
        test::ScopedEnv unknown("SSL_CERT_FILE", folder_.file("no-such-store.pem"));
        EXPECT_FALSE(client().fetch(https(*server), body_, -1, nullptr, &why));
        EXPECT_EQ(why, TlsFailure::Untrusted);
    }
    EXPECT_TRUE(body_.empty());
    // Each refusal is told with its address; the reason goes as a word, for
    // the window to say in the user's language.
    const auto events = application_.window().waitForEvents(3);
    ASSERT_EQ(std::count(events.begin(), events.end(), EventKind::SecureFailed), 3);
    for (const std::string& text : application_.window().texts()) {
        EXPECT_EQ(text.rfind("https://", 0), 0u) << text;
    }
}

TEST_F(HttpClientSecureTest, FiveRedirectsAcrossSchemesAreFollowedASixthAndALoopAreNot) {
    test::ScopedEnv trust("SSL_CERT_FILE", folder_.file("ca.pem"));
    HttpTestServer plain(hops(kPlaylist));
    // http /hop5 -> /hop4 -> https -> http /hop2 -> /hop1 -> /hop0: five hops.
    const auto secure = tlsServer("HTTP/1.0 301 Moved\r\nLocation: " + plain.url("/hop2") + "\r\n\r\n");
    HttpTestServer start([&](HttpTestServer::Connection& connection, const std::string& request) {
        const bool first = request.find("/hop5") != std::string::npos;
        connection.send("HTTP/1.0 302 Found\r\nLocation: " +
                        (first ? std::string("/hop4") : https(*secure)) + "\r\n\r\n");
    });
    ASSERT_TRUE(client().fetch(start.url("/hop5"), body_));
    EXPECT_EQ(body_.view(), kPlaylist);

    EXPECT_TRUE(client().fetch(plain.url("/hop5"), body_));
    EXPECT_FALSE(client().fetch(plain.url("/hop6"), body_));
    EXPECT_TRUE(body_.empty());

    HttpTestServer loop(HttpTestServer::reply("HTTP/1.0 307 Again\r\nLocation: /loop\r\n\r\n"));
    EXPECT_FALSE(client().fetch(loop.url("/loop"), body_));
    EXPECT_EQ(loop.requests().size(), 6u);
    HttpTestServer nowhere(HttpTestServer::reply("HTTP/1.0 302 Found\r\n\r\n"));
    EXPECT_FALSE(client().fetch(nowhere.url("/"), body_));
}

TEST(HttpClientChunked, ChunksOfAnySizeAreUndoneAndABrokenOneFails) {
    TestApplication application;
    HttpClient& client = application.app().httpClient();
    ByteBuffer body;
    for (const std::size_t size : {1u, 5u, 64u, 4096u}) {
        HttpTestServer server(HttpTestServer::reply(chunked(kPlaylist, size)));
        ASSERT_TRUE(client.fetch(server.url("/list.pls"), body)) << size;
        EXPECT_EQ(body.view(), kPlaylist) << size;
    }
    for (const std::string& broken :
         {std::string("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nhello\r\n0\r\n\r\n"),
          std::string("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhelloXX3\r\nabc\r\n0\r\n\r\n"),
          std::string("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nshort")}) {
        HttpTestServer server(HttpTestServer::reply(broken));
        EXPECT_FALSE(client.fetch(server.url("/list.pls"), body)) << broken;
        EXPECT_TRUE(body.empty());
    }
}

TEST(TlsClientContext, TheStoreIsReadOnceAndAgainWhenItsNameChanges) {
    TlsClientContext shared;
    test::TempFolder folder;
    test::ScopedEnv first("SSL_CERT_FILE", folder.file("one.pem"));
    const auto context = shared.get();
    ASSERT_TRUE(context);
    EXPECT_EQ(shared.get(), context);
    test::ScopedEnv second("SSL_CERT_FILE", folder.file("two.pem"));
    EXPECT_NE(shared.get(), context);
}

TEST(ChunkedDecoder, BoundsWhatAServerCanSend) {
    std::string out;
    ChunkedDecoder huge;
    EXPECT_EQ(huge.feed("1000000000000000\r\n", out), ChunkedDecoder::State::Malformed);
    ChunkedDecoder longLine;
    EXPECT_EQ(longLine.feed("1;" + std::string(2000, 'x'), out), ChunkedDecoder::State::Malformed);
    ChunkedDecoder trailer;
    EXPECT_EQ(trailer.feed("0\r\n" + std::string(9000, 'x'), out), ChunkedDecoder::State::Malformed);
    ChunkedDecoder done;
    EXPECT_EQ(done.feed("3\r\nabc\r\n0\r\n\r\nnot part of it", out), ChunkedDecoder::State::Done);
    EXPECT_EQ(out, "abc");
}

TEST(HttpClientIpv6, ALiteralAddressInBracketsIsFetched) {
    const std::optional<HttpAddress> address = HttpAddress::parse("http://[::1]:8000/list.pls");
    ASSERT_TRUE(address);
    EXPECT_EQ(address->host, "::1");
    EXPECT_EQ(address->port, 8000);
    EXPECT_EQ(address->path, "/list.pls");
    EXPECT_EQ(address->hostHeader(), "[::1]");
    EXPECT_FALSE(HttpAddress::parse("http://[::1/x"));
    EXPECT_FALSE(HttpAddress::parse("http://[::1]x/"));

    UniqueFd listener(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in6 local{};
    local.sin6_family = AF_INET6;
    local.sin6_addr = in6addr_loopback;
    socklen_t length = sizeof local;
    if (!listener.valid() || ::bind(listener.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(listener.get(), 1) != 0 ||
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    std::thread server([&] {
        pollfd entry{listener.get(), POLLIN, 0};
        if (::poll(&entry, 1, 5000) != 1) {
            return;
        }
        UniqueFd client(::accept(listener.get(), nullptr, nullptr));
        char request[2048];
        const ssize_t got = ::recv(client.get(), request, sizeof request, 0);
        const std::string answer = std::string(request, got > 0 ? static_cast<std::size_t>(got) : 0u)
                                               .find("Host: [::1]\r\n") != std::string::npos
                                       ? HttpTestServer::okResponse(kPlaylist)
                                       : "HTTP/1.0 400 Bad Host\r\n\r\n";
        ::send(client.get(), answer.data(), answer.size(), MSG_NOSIGNAL);
    });
    TestApplication application;
    ByteBuffer body;
    EXPECT_TRUE(application.app().httpClient().fetch(
        "http://[::1]:" + std::to_string(ntohs(local.sin6_port)) + "/list.pls", body));
    server.join();
    EXPECT_EQ(body.view(), kPlaylist);
}

}  // namespace
}  // namespace korvanel
