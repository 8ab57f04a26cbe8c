// https:// streams: the certificate chain and the host name are checked
// against the CA store (here a test CA named by SSL_CERT_FILE).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "audio/engine/audio_engine.h"
#include "stream/cancel_signal.h"
#include "stream/unique_fd.h"
#include "tests/support/audio_test_tones.h"
#include "tests/support/http_test_server.h"
#include "tests/support/process_runner.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tls_test_server.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::TlsTestServer;
using test::makeCertificates;

class AudioEngineTlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::opensslAvailable()) {
            GTEST_SKIP() << "the openssl tool is not installed";
        }
        ASSERT_TRUE(makeCertificates(folder_));
        ASSERT_TRUE(test::makeToneFile(folder_.file("tone.mp3"), "libmp3lame", 500, 1.0));
        server_ = std::make_unique<TlsTestServer>(
            folder_.file("server.pem"), folder_.file("server.key"),
            "HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n" + test::readFile(folder_.file("tone.mp3")));
        ASSERT_TRUE(server_->ready());
    }

    AudioError open(const std::string& url) {
        AudioEngine engine;
        engine.init(audio::kNoSoundDevice, audio::kOutputFrequency);
        return failureKind(engine.openUrl(url, 0, audio::kStreamDecode, nullptr));
    }

    std::string localhost() const { return "https://localhost:" + std::to_string(server_->port()) + "/tone.mp3"; }

    test::TempFolder folder_;
    std::unique_ptr<TlsTestServer> server_;
};

TEST_F(AudioEngineTlsTest, TrustedCertificateForTheHostOpens) {
    test::ScopedEnv trust("SSL_CERT_FILE", folder_.file("ca.pem"));
    EXPECT_EQ(open(localhost()), AudioError::Ok);

    // A plain address may send the player on to an https:// one.
    test::HttpTestServer redirect(test::HttpTestServer::reply("HTTP/1.0 302 Found\r\nLocation: " + localhost() + "\r\n\r\n"));
    EXPECT_EQ(open(redirect.url("/listen")), AudioError::Ok);
}

TEST_F(AudioEngineTlsTest, UntrustedCertificateOrOtherHostNameIsRefused) {
    test::ScopedEnv trust("SSL_CERT_FILE", folder_.file("ca.pem"));
    // The certificate names localhost, not the address.
    EXPECT_EQ(open("https://127.0.0.1:" + std::to_string(server_->port()) + "/tone.mp3"), AudioError::FileOpen);

    test::ScopedEnv systemStore("SSL_CERT_FILE", folder_.file("no-such-store.pem"));
    EXPECT_EQ(open(localhost()), AudioError::FileOpen);
}

}  // namespace
}  // namespace korvanel
