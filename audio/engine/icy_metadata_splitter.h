#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace korvanel {

// Separates the ICY metadata blocks from the audio bytes of a stream that
// announced "icy-metaint". Every `interval` audio bytes the server inserts
// one length byte n and n * 16 bytes of metadata text (at most 4080).
// Pure bookkeeping: fed whatever the socket delivered, any split works.
class IcyMetadataSplitter {
public:
    static constexpr std::size_t kMaxInterval = 1 << 20;

    using AudioSink = std::function<void(std::span<const std::uint8_t>)>;
    using MetadataSink = std::function<void(std::string text)>;

    // The interval an "icy-metaint" header value asks for; anything absurd
    // (missing, not a number, 0, negative, above 1 MiB) gives 0: no metadata.
    static std::size_t intervalFromHeader(const std::optional<std::string>& value);

    // interval 0 passes every byte through as audio.
    explicit IcyMetadataSplitter(std::size_t interval);

    // Audio runs go to `audio` in order; each non-empty metadata block whose
    // text differs from the previous one goes to `metadata` (NUL padding and
    // stray NUL bytes removed).
    void feed(std::span<const std::uint8_t> data, const AudioSink& audio,
              const MetadataSink& metadata);

    std::size_t interval() const { return interval_; }

private:
    const std::size_t interval_;
    std::size_t audioLeft_;
    bool expectLength_ = false;
    std::size_t metadataLeft_ = 0;
    std::string block_;
    std::string previous_;
};

}  // namespace korvanel
