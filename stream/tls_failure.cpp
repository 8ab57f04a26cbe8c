#include "stream/tls_failure.h"

namespace korvanel {

const char* tlsFailureTextKey(TlsFailure failure) {
    switch (failure) {
        case TlsFailure::Untrusted: return "Player/Error/CertUntrusted";
        case TlsFailure::Expired: return "Player/Error/CertExpired";
        case TlsFailure::HostMismatch: return "Player/Error/CertHostMismatch";
        case TlsFailure::Handshake: return "Player/Error/TlsHandshake";
        case TlsFailure::None: break;
    }
    return nullptr;
}

}  // namespace korvanel
