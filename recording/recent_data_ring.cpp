#include "recording/recent_data_ring.h"

#include "recording/stream_writer.h"

namespace korvanel {

void RecentDataRing::setLimit(std::size_t maxBufferBytes) {
    limit_ = bufferLimitFor(maxBufferBytes);
    if (limit_ == 0) {
        buffer_.clear();
    } else if (buffer_.size() > limit_) {
        trim();
    }
}

bool RecentDataRing::append(std::string_view units) {
    if (limit_ == 0) {
        return true;
    }
    if (!buffer_.append(units)) {
        return false;
    }
    if (buffer_.size() > limit_) {
        trim();
    }
    return true;
}

void RecentDataRing::trim() {
    const std::size_t keep = bufferTrimTarget(limit_);
    const std::size_t from = buffer_.size() - keep;
    const std::size_t cut = finder_ != nullptr ? finder_(buffer_.view(), from) : from;
    buffer_.removeFront(cut);
}

}  // namespace korvanel
