#include "stream/tls_client_context.h"

#include <openssl/ssl.h>

#include <cstdlib>

namespace korvanel {

namespace {

std::string storeNamedNow() {
    const char* file = std::getenv("SSL_CERT_FILE");
    const char* folder = std::getenv("SSL_CERT_DIR");
    return std::string(file != nullptr ? file : "") + '\n' + (folder != nullptr ? folder : "");
}

std::shared_ptr<ssl_ctx_st> makeContext() {
    std::shared_ptr<ssl_ctx_st> context(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    if (!context) {
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    // Streams are often cut without a TLS close; that is an end, not an error.
    SSL_CTX_set_options(context.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    if (SSL_CTX_set_default_verify_paths(context.get()) != 1) {
        return nullptr;
    }
    return context;
}

}  // namespace

std::shared_ptr<ssl_ctx_st> TlsClientContext::get() {
    const std::string store = storeNamedNow();
    std::lock_guard<std::mutex> guard(lock_);
    if (!context_ || store != store_) {
        context_ = makeContext();
        store_ = store;
    }
    return context_;
}

}  // namespace korvanel
