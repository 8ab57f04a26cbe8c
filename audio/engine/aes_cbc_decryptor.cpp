#include "audio/engine/aes_cbc_decryptor.h"

#include <openssl/evp.h>

namespace korvanel {

void AesCbcDecryptor::Free::operator()(evp_cipher_ctx_st* context) const { EVP_CIPHER_CTX_free(context); }

AesCbcDecryptor::AesCbcDecryptor(const Block& key, const Block& iv) : context_(EVP_CIPHER_CTX_new()) {
    if (context_ && EVP_DecryptInit_ex(context_.get(), EVP_aes_128_cbc(), nullptr, key.data(), iv.data()) != 1) {
        context_.reset();
    }
}

AesCbcDecryptor::~AesCbcDecryptor() = default;

bool AesCbcDecryptor::update(std::span<const std::uint8_t> cipher, std::vector<std::uint8_t>& clear) {
    clear.resize(cipher.size() + 16);
    int written = 0;
    if (!context_ || EVP_DecryptUpdate(context_.get(), clear.data(), &written, cipher.data(),
                                       static_cast<int>(cipher.size())) != 1) {
        clear.clear();
        return false;
    }
    clear.resize(static_cast<std::size_t>(written));
    return true;
}

bool AesCbcDecryptor::finish(std::vector<std::uint8_t>& clear) {
    clear.resize(16);
    int written = 0;
    if (!context_ || EVP_DecryptFinal_ex(context_.get(), clear.data(), &written) != 1) {
        clear.clear();
        return false;
    }
    clear.resize(static_cast<std::size_t>(written));
    return true;
}

}  // namespace korvanel
