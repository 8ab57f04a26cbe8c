#include "audio/title_timeline.h"

#include <optional>
#include <utility>

namespace korvanel {

void TitleTimeline::start(MetadataParser* parser) { parser_ = parser; }

void TitleTimeline::claim(int slot, AudioStream& stream) {
    if (titleSlot_.load() == kNoSlotYet) {
        titleStream_.store(&stream);
        titleSlot_.store(slot);
    }
}

void TitleTimeline::clear() {
    heard_.clear();
    titleSlot_.store(kNoSlotYet);
    titleStream_.store(nullptr);
    std::lock_guard<std::mutex> guard(unplacedLock_);
    unplaced_.clear();
}

void TitleTimeline::arrived(const SyncEvent& event) {
    if (parser_ == nullptr) {
        return;
    }
    MetadataParser::Reading reading = parser_->metadataArrived(event.texts);
    if (event.position) {
        heard_.add(*event.position, std::move(reading), periodBytes_.load(std::memory_order_relaxed));
    } else if (event.data != 0) {
        std::lock_guard<std::mutex> guard(unplacedLock_);
        if (unplaced_.size() >= kMaxUnplaced) {
            unplaced_.erase(unplaced_.begin());
        }
        unplaced_[event.data] = std::move(reading);
    } else {
        parser_->metadataHeard(reading);
    }
}

void TitleTimeline::placed(const SyncEvent& event) {
    std::optional<MetadataParser::Reading> reading;
    {
        std::lock_guard<std::mutex> guard(unplacedLock_);
        if (const auto found = unplaced_.find(event.data); found != unplaced_.end()) {
            reading = std::move(found->second);
            unplaced_.erase(found);
        }
    }
    if (reading && event.position) {
        heard_.add(*event.position, std::move(*reading), periodBytes_.load(std::memory_order_relaxed));
    }
}

bool TitleTimeline::pulled(int slot, std::size_t periodBytes) {
    if (slot != titleSlot_.load(std::memory_order_relaxed)) {
        return false;
    }
    periodBytes_.store(periodBytes, std::memory_order_relaxed);
    return !heard_.empty();
}

void TitleTimeline::heardUpTo(std::uint64_t position) {
    for (const MetadataParser::Reading& reading : heard_.takeDue(position)) {
        parser_->metadataHeard(reading);
    }
}

}  // namespace korvanel
