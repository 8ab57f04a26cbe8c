#pragma once

#include <openssl/ssl.h>

#include <string>
#include <thread>

#include "stream/cancel_signal.h"
#include "stream/unique_fd.h"
#include "tests/support/temp_folder.h"

namespace korvanel::test {

// Whether the openssl tool is there to make certificates with.
bool opensslAvailable();

// A test CA ("ca.pem", "ca.key") and a server certificate for "localhost"
// only ("server.pem", "server.key"), signed by it, in the folder.
bool makeCertificates(const TempFolder& folder);
// Beside them, "expired.pem" and "expired.key": a certificate for localhost
// from the same CA that ended yesterday.
bool makeExpiredCertificate(const TempFolder& folder);

// Answers every TLS connection on 127.0.0.1 with one HTTP answer, after
// reading the request.
class TlsTestServer {
public:
    TlsTestServer(const std::string& certificate, const std::string& key, std::string answer);
    ~TlsTestServer();
    TlsTestServer(const TlsTestServer&) = delete;
    TlsTestServer& operator=(const TlsTestServer&) = delete;

    bool ready() const { return ready_; }
    int port() const { return port_; }

private:
    void serve();

    std::string answer_;
    SSL_CTX* context_ = nullptr;
    UniqueFd listener_;
    CancelSignal stop_;
    bool ready_ = false;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace korvanel::test
