#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "audio/metadata_parser.h"

namespace korvanel {

// Metadata that arrived ahead of its sound, each reading with the position
// in the decoded samples where that sound begins, kept in order until the
// sound card has been handed the samples there.
//
// Bounded: readings within one sound card period of the one waiting last
// are one change to the listener, shown at that one's place with the later
// reading's values; beyond kMaxWaiting the oldest is dropped.
//
// Threads: add() on the library's threads, takeDue() on a sound card's,
// clear() on the player's worker; one lock, never held while calling out.
class HeardMetadataQueue {
public:
    using Reading = MetadataParser::Reading;
    static constexpr std::size_t kMaxWaiting = 256;

    // A position before the last one waiting counts as that one, so the
    // order of arrival is the order of delivery.
    void add(std::uint64_t position, Reading reading, std::uint64_t mergeBytes);
    // Removes and returns, oldest first, what is at or before `reached`.
    std::vector<Reading> takeDue(std::uint64_t reached);
    void clear();
    // Without the lock, for the sound card's every period.
    bool empty() const { return size_.load(std::memory_order_acquire) == 0; }
    std::size_t size() const { return size_.load(std::memory_order_acquire); }

private:
    struct Waiting {
        std::uint64_t position = 0;
        Reading reading;
    };

    mutable std::mutex lock_;
    std::deque<Waiting> waiting_;
    std::atomic<std::size_t> size_{0};
};

}  // namespace korvanel
