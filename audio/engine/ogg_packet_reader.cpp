#include "audio/engine/ogg_packet_reader.h"

#include <algorithm>
#include <string_view>

#include "stream/ogg_page.h"

namespace korvanel {

void OggPacketReader::push(std::span<const std::uint8_t> data) {
    // Pages already read go first, so the buffer holds at most one page and
    // what has come after it.
    buffer_.erase(0, offset_);
    offset_ = 0;
    buffer_.append(reinterpret_cast<const char*>(data.data()), data.size());
}

std::optional<OggPacketReader::Packet> OggPacketReader::next() {
    while (ready_.empty()) {
        const std::string_view data(buffer_);
        OggPage page;
        const OggPageStatus status = parseOggPage(data, offset_, page);
        if (status == OggPageStatus::NeedMore) {
            return std::nullopt;
        }
        if (status == OggPageStatus::NotAPage) {
            // Lost: the packet under way cannot go on.
            partial_.clear();
            dropping_ = true;
            const std::size_t found = findOggCapturePattern(data, offset_ + 1);
            if (found == std::string_view::npos) {
                // Keep a tail that may be the start of a capture pattern,
                // never going back over what was read already.
                offset_ = std::max(offset_ + 1, data.size() > 3 ? data.size() - 3 : 0);
                return std::nullopt;
            }
            offset_ = found;
            continue;
        }
        takePage(page.headerBytes, page.serial, page.continued(), page.firstOfStream());
        offset_ += page.pageBytes;
    }
    Packet packet = std::move(ready_.front());
    ready_.pop_front();
    return packet;
}

void OggPacketReader::takePage(std::size_t headerBytes, std::uint32_t serial, bool continued, bool firstOfStream) {
    if (!continued || serial != partialSerial_) {
        // A packet that should have gone on did not; one that goes on from
        // a page we did not see is not whole.
        partial_.clear();
        dropping_ = continued;
    }
    partialSerial_ = serial;
    const std::size_t segments = headerBytes - OggPage::kFixedHeaderBytes;
    std::size_t at = offset_ + headerBytes;
    for (std::size_t i = 0; i < segments; ++i) {
        const std::size_t lacing = static_cast<unsigned char>(buffer_[offset_ + OggPage::kFixedHeaderBytes + i]);
        if (!dropping_) {
            if (partial_.size() + lacing > kMaxPacketBytes) {
                partial_.clear();
                dropping_ = true;
            } else {
                partial_.append(buffer_, at, lacing);
            }
        }
        at += lacing;
        if (lacing < 255) {
            if (!dropping_) {
                ready_.push_back(Packet{std::move(partial_), serial, firstOfStream});
            }
            partial_.clear();
            dropping_ = false;
        }
    }
}

}  // namespace korvanel
