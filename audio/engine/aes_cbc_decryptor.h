#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

struct evp_cipher_ctx_st;

namespace korvanel {

// AES-128 in CBC mode with PKCS#7 padding, as HLS encrypts whole segments,
// undone as the bytes arrive.
class AesCbcDecryptor {
public:
    using Block = std::array<std::uint8_t, 16>;

    AesCbcDecryptor(const Block& key, const Block& iv);
    ~AesCbcDecryptor();
    AesCbcDecryptor(const AesCbcDecryptor&) = delete;
    AesCbcDecryptor& operator=(const AesCbcDecryptor&) = delete;

    // Clear bytes for the cipher bytes given (a block may wait for more);
    // false when the cipher refuses.
    bool update(std::span<const std::uint8_t> cipher, std::vector<std::uint8_t>& clear);
    // The last block without its padding; false for a length that is no
    // whole number of blocks or padding that does not check out.
    bool finish(std::vector<std::uint8_t>& clear);

private:
    struct Free {
        void operator()(evp_cipher_ctx_st* context) const;
    };
    std::unique_ptr<evp_cipher_ctx_st, Free> context_;
};

}  // namespace korvanel
