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

namespace korvanel {
namespace {

using namespace std::chrono_literals;

bool openssl(const std::vector<std::string>& arguments) {
    return test::runProcess("/usr/bin/openssl", arguments, {}, 30s).exitCode == 0;
}

// A test CA and a server certificate for "localhost" only, signed by it.
bool makeCertificates(const test::TempFolder& folder) {
    std::ofstream(folder.file("ext.cnf")) << "subjectAltName=DNS:localhost\n";
    const std::vector<std::string> ecKey = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                            "-nodes"};
    std::vector<std::string> ca = {"req", "-x509", "-days", "2", "-subj", "/CN=Korvanel Test CA",
                                   "-keyout", folder.file("ca.key"), "-out", folder.file("ca.pem")};
    ca.insert(ca.begin() + 2, ecKey.begin(), ecKey.end());
    std::vector<std::string> request = {"req", "-subj", "/CN=localhost", "-keyout",
                                        folder.file("server.key"), "-out", folder.file("server.csr")};
    request.insert(request.begin() + 1, ecKey.begin(), ecKey.end());
    return openssl(ca) && openssl(request) &&
           openssl({"x509", "-req", "-days", "2", "-in", folder.file("server.csr"), "-CA",
                    folder.file("ca.pem"), "-CAkey", folder.file("ca.key"), "-CAcreateserial",
                    "-extfile", folder.file("ext.cnf"), "-out", folder.file("server.pem")});
}

// Answers every TLS connection on 127.0.0.1 with one HTTP answer.
class TlsTestServer {
public:
    TlsTestServer(const std::string& certificate, const std::string& key, std::string answer)
        : answer_(std::move(answer)) {
        context_ = SSL_CTX_new(TLS_server_method());
        ready_ = context_ != nullptr &&
                 SSL_CTX_use_certificate_file(context_, certificate.c_str(), SSL_FILETYPE_PEM) == 1 &&
                 SSL_CTX_use_PrivateKey_file(context_, key.c_str(), SSL_FILETYPE_PEM) == 1;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ready_ = ready_ && ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                 ::listen(listener_.get(), 4) == 0 &&
                 ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length) == 0;
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~TlsTestServer() {
        stop_.raise();
        thread_.join();
        SSL_CTX_free(context_);
    }
    bool ready() const { return ready_; }
    int port() const { return port_; }

private:
    void serve() {
        while (!stop_.raised()) {
            pollfd entries[2] = {{listener_.get(), POLLIN, 0}, {stop_.readFd(), POLLIN, 0}};
            if (::poll(entries, 2, 200) <= 0 || entries[1].revents != 0) {
                continue;
            }
            UniqueFd client(::accept(listener_.get(), nullptr, nullptr));
            timeval timeout{2, 0};
            ::setsockopt(client.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
            ::setsockopt(client.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
            SSL* ssl = SSL_new(context_);
            SSL_set_fd(ssl, client.get());
            if (SSL_accept(ssl) == 1) {
                char request[4096];
                if (SSL_read(ssl, request, sizeof request) > 0) {
                    SSL_write(ssl, answer_.data(), static_cast<int>(answer_.size()));
                    SSL_shutdown(ssl);
                }
            }
            SSL_free(ssl);
        }
    }

    std::string answer_;
    SSL_CTX* context_ = nullptr;
    UniqueFd listener_{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    CancelSignal stop_;
    bool ready_ = false;
    int port_ = 0;
    std::thread thread_;
};

class AudioEngineTlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access("/usr/bin/openssl", X_OK) != 0) {
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
        const StreamHandle stream = engine.streamCreateUrl(url, 0, audio::kStreamDecode, nullptr);
        return stream ? AudioError::Ok : engine.errorCode();
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
