// korvanel-cli with https:// playlists and streams from local TLS servers
// whose certificates a test CA signs (named by SSL_CERT_FILE).
#include <gtest/gtest.h>

#include "tests/support/audio_test_tones.h"
#include "tests/support/http_test_server.h"
#include "tests/support/process_runner.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tls_test_server.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;

class CliHttpsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::opensslAvailable()) {
            GTEST_SKIP() << "the openssl tool is not installed";
        }
        ASSERT_TRUE(test::makeCertificates(certificates_));
        ASSERT_TRUE(test::makeToneFile(certificates_.file("tone.mp3"), "libmp3lame", 440, 4.0));
        stream_ = server("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\nicy-name:Secure Tone\r\n\r\n" +
                         test::readFile(certificates_.file("tone.mp3")));
        playlist_ = server(test::HttpTestServer::okResponse("[playlist]\nNumberOfEntries=1\nFile1=" +
                                                            address(*stream_, "/tone.mp3") + "\n"));
    }
    std::unique_ptr<test::TlsTestServer> server(const std::string& answer) {
        auto made = std::make_unique<test::TlsTestServer>(certificates_.file("server.pem"),
                                                          certificates_.file("server.key"), answer);
        EXPECT_TRUE(made->ready());
        return made;
    }
    static std::string address(const test::TlsTestServer& server, const std::string& path) {
        return "https://localhost:" + std::to_string(server.port()) + path;
    }
    test::ProcessResult play(const std::string& store, const std::string& source) {
        return test::runProcess(test::cliPath(), {"play", "--seconds", "2", "--pcm-out", home_.file("out.raw"), source},
                                {"KORVANEL_HOME=" + home_.path(), "KORVANEL_UPDATE_SERVER=http://127.0.0.1:1",
                                 "SSL_CERT_FILE=" + store},
                                30s);
    }

    test::TempFolder certificates_;
    test::TempFolder home_;
    std::unique_ptr<test::TlsTestServer> stream_;
    std::unique_ptr<test::TlsTestServer> playlist_;
};

TEST_F(CliHttpsTest, ASecurePlaylistAndStreamPlay) {
    const auto result = play(certificates_.file("ca.pem"), address(*playlist_, "/list.pls"));
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("Retrieving playlist, " + address(*playlist_, "/list.pls")), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find(" :: Secure Tone\n"), std::string::npos) << result.err;
    EXPECT_NEAR(test::toneFrequency(test::channelSamples(test::readFile(home_.file("out.raw")), 2, 0), 44100), 440.0,
                9.0);
}

TEST_F(CliHttpsTest, AnUntrustedServerIsRefusedAndTheLogSaysWhy) {
    const auto result = play(certificates_.file("no-such-store.pem"), address(*playlist_, "/list.pls"));
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.err.find("Secure connection refused: " + address(*playlist_, "/list.pls") +
                              " (the server's certificate is not trusted)"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("Could not retrieve playlist: the server's certificate is not trusted"),
              std::string::npos)
        << result.err;
}

// A stream the engine cannot open says why when its certificate is the
// reason, never "Can't open the file".
TEST_F(CliHttpsTest, ARefusedStreamNamesWhyItsCertificateIsRefused) {
    ASSERT_TRUE(test::makeExpiredCertificate(certificates_));
    test::TlsTestServer expired(certificates_.file("expired.pem"), certificates_.file("expired.key"),
                                "HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n");
    ASSERT_TRUE(expired.ready());
    const std::string ca = certificates_.file("ca.pem");
    const struct {
        std::string store;
        std::string source;
        std::string reason;
    } cases[] = {
        {certificates_.file("no-such-store.pem"), address(*stream_, "/tone.mp3"), "is not trusted"},
        {ca, "https://127.0.0.1:" + std::to_string(stream_->port()) + "/tone.mp3", "is for another host name"},
        {ca, address(expired, "/tone.mp3"), "has expired or is not valid yet"},
    };
    for (const auto& refused : cases) {
        const auto result = play(refused.store, refused.source);
        EXPECT_NE(result.exitCode, 0);
        EXPECT_NE(result.err.find(" :: Connect error: the server's certificate " + refused.reason + "\n"),
                  std::string::npos)
            << result.err;
        EXPECT_EQ(result.err.find("Can't open the file"), std::string::npos) << result.err;
    }
}

}  // namespace
}  // namespace korvanel
