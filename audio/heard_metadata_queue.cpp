#include "audio/heard_metadata_queue.h"

#include <algorithm>
#include <utility>

namespace korvanel {
namespace {

// One reading saying what both say, the later one winning.
MetadataParser::Reading merged(MetadataParser::Reading earlier, MetadataParser::Reading later) {
    if (!later.title && earlier.title) {
        later.title = std::move(earlier.title);
        later.titleIfChanged = earlier.titleIfChanged;
    }
    if (!later.stationName) {
        later.stationName = std::move(earlier.stationName);
    }
    if (!later.bitrate) {
        later.bitrate = earlier.bitrate;
    }
    later.changed = later.changed || earlier.changed;
    return later;
}

}  // namespace

void HeardMetadataQueue::add(std::uint64_t position, Reading reading, std::uint64_t mergeBytes) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!waiting_.empty()) {
        Waiting& last = waiting_.back();
        position = std::max(position, last.position);
        // Within the last one's period: that period shows the later change.
        // Its place stays, so a steady flood cannot keep pushing it back.
        if (position - last.position < mergeBytes) {
            last.reading = merged(std::move(last.reading), std::move(reading));
            return;
        }
    }
    if (waiting_.size() >= kMaxWaiting) {
        waiting_.pop_front();
    }
    waiting_.push_back({position, std::move(reading)});
    size_.store(waiting_.size(), std::memory_order_release);
}

std::vector<HeardMetadataQueue::Reading> HeardMetadataQueue::takeDue(std::uint64_t reached) {
    std::vector<Reading> due;
    std::lock_guard<std::mutex> guard(lock_);
    while (!waiting_.empty() && waiting_.front().position <= reached) {
        due.push_back(std::move(waiting_.front().reading));
        waiting_.pop_front();
    }
    size_.store(waiting_.size(), std::memory_order_release);
    return due;
}

void HeardMetadataQueue::clear() {
    std::lock_guard<std::mutex> guard(lock_);
    waiting_.clear();
    size_.store(0, std::memory_order_release);
}

}  // namespace korvanel
