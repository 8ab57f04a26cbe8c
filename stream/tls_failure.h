#pragma once

#include <string_view>

namespace korvanel {

// Why a secure connection was refused, as far as the user can act on it.
enum class TlsFailure {
    None,
    Untrusted,     // the chain ends at no authority the store trusts
    Expired,       // a certificate is past its end date, or not valid yet
    HostMismatch,  // the certificate names another host
    Handshake,     // no certificate verdict: the handshake itself failed
};

// The language text that names the reason ("Player/Error/CertUntrusted"
// ...); nullptr for None.
const char* tlsFailureTextKey(TlsFailure failure);

}  // namespace korvanel
