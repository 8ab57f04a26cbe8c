#include "tests/support/tls_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <vector>

#include "tests/support/process_runner.h"

namespace korvanel::test {

namespace {

using namespace std::chrono_literals;

bool openssl(const std::vector<std::string>& arguments) {
    return runProcess("/usr/bin/openssl", arguments, {}, 30s).exitCode == 0;
}

}  // namespace

bool opensslAvailable() { return ::access("/usr/bin/openssl", X_OK) == 0; }

// A test CA and a server certificate for "localhost" only, signed by it.
bool makeCertificates(const TempFolder& folder) {
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

bool makeExpiredCertificate(const TempFolder& folder) {
    return openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-subj",
                    "/CN=localhost", "-keyout", folder.file("expired.key"), "-out", folder.file("expired.csr")}) &&
           openssl({"x509", "-req", "-days", "-1", "-in", folder.file("expired.csr"), "-CA", folder.file("ca.pem"),
                    "-CAkey", folder.file("ca.key"), "-CAcreateserial", "-extfile", folder.file("ext.cnf"), "-out",
                    folder.file("expired.pem")});
}

TlsTestServer::TlsTestServer(const std::string& certificate, const std::string& key, std::string answer)
    : answer_(std::move(answer)), listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
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

TlsTestServer::~TlsTestServer() {
    stop_.raise();
    thread_.join();
    SSL_CTX_free(context_);
}

void TlsTestServer::serve() {
    // A client that gives up on our certificate closes before the handshake
    // is written: that write must fail here, not end the test program.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
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

}  // namespace korvanel::test
