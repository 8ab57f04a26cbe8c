#include "audio/engine/icy_metadata_splitter.h"

#include <algorithm>
#include <charconv>

namespace korvanel {

std::size_t IcyMetadataSplitter::intervalFromHeader(const std::optional<std::string>& value) {
    if (!value || value->empty() || value->size() > 10) {
        return 0;
    }
    std::uint64_t interval = 0;
    const char* begin = value->data();
    const char* end = begin + value->size();
    const auto [stop, error] = std::from_chars(begin, end, interval);
    if (error != std::errc() || stop != end || interval == 0 || interval > kMaxInterval) {
        return 0;
    }
    return static_cast<std::size_t>(interval);
}

IcyMetadataSplitter::IcyMetadataSplitter(std::size_t interval)
    : interval_(interval), audioLeft_(interval) {}

void IcyMetadataSplitter::feed(std::span<const std::uint8_t> data, const AudioSink& audio,
                               const MetadataSink& metadata) {
    if (interval_ == 0) {
        if (!data.empty()) {
            audio(data);
        }
        return;
    }
    while (!data.empty()) {
        if (audioLeft_ > 0) {
            const std::size_t count = std::min(audioLeft_, data.size());
            audio(data.first(count));
            data = data.subspan(count);
            audioLeft_ -= count;
            expectLength_ = audioLeft_ == 0;
            continue;
        }
        if (expectLength_) {
            expectLength_ = false;
            metadataLeft_ = static_cast<std::size_t>(data.front()) * 16;
            data = data.subspan(1);
            block_.clear();
            if (metadataLeft_ == 0) {
                audioLeft_ = interval_;
            }
            continue;
        }
        const std::size_t count = std::min(metadataLeft_, data.size());
        for (const std::uint8_t byte : data.first(count)) {
            if (byte != 0) {
                block_.push_back(static_cast<char>(byte));
            }
        }
        data = data.subspan(count);
        metadataLeft_ -= count;
        if (metadataLeft_ == 0) {
            audioLeft_ = interval_;
            if (!block_.empty() && block_ != previous_) {
                previous_ = block_;
                metadata(block_);
            }
        }
    }
}

}  // namespace korvanel
