#include "audio/engine/title_placement.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

#include "audio/engine/stream_callbacks.h"

namespace korvanel {

void TitlePlacement::announce(std::string text, std::uint64_t audioBytes, std::uint64_t readPosition) {
    // A server's first block names what is playing as the listener
    // connects, so it belongs to the first sound, wherever it sits.
    // Later ones are placed by the decoder thread once it gets there.
    const bool first = tickets_ == 0;
    const std::uint32_t ticket = first ? 0 : tickets_;
    tickets_ = tickets_ == UINT32_MAX ? 1 : tickets_ + 1;
    const std::optional<std::uint64_t> position = first ? std::optional<std::uint64_t>(0) : std::nullopt;
    {
        std::lock_guard<std::mutex> guard(blocksLock_);
        while (blocks_.size() >= kMaxBlocks ||
               (blocks_.size() > 1 && blocks_[1].position && *blocks_[1].position <= readPosition)) {
            blocks_.pop_front();  // read past, or too many waiting
        }
        blocks_.push_back({ticket, position, text});
    }
    callbacks_.fire(audio::kSyncMeta, ticket, {std::move(text)}, position);
    if (!first) {
        // After the sync, so the placing never comes before it.
        std::lock_guard<std::mutex> guard(progressLock_);
        if (marks_.size() >= kMaxMarks) {
            marks_.pop_front();
        }
        marks_.push_back({ticket, audioBytes});
    }
}

void TitlePlacement::decoded(std::uint64_t rawBytes, std::size_t pcmBytes, std::size_t frameBytes) {
    std::vector<std::pair<std::uint32_t, std::uint64_t>> placed;
    {
        std::lock_guard<std::mutex> guard(progressLock_);
        const DecodeProgress before = progress_;
        progress_.rawBytes = rawBytes;
        progress_.pcmBytes += pcmBytes;
        while (!marks_.empty() && marks_.front().rawOffset <= progress_.rawBytes) {
            placed.emplace_back(marks_.front().ticket,
                                placeInStep(marks_.front().rawOffset, before, progress_, frameBytes));
            marks_.pop_front();
        }
    }
    for (const auto& [ticket, position] : placed) {
        {
            std::lock_guard<std::mutex> guard(blocksLock_);
            for (Block& block : blocks_) {
                if (block.ticket == ticket) {
                    block.position = position;
                }
            }
        }
        callbacks_.fire(audio::kSyncMetaPlaced, ticket, {}, position);
    }
}

std::optional<std::string> TitlePlacement::textAt(std::uint64_t readPosition) const {
    std::lock_guard<std::mutex> guard(blocksLock_);
    if (blocks_.empty()) {
        return std::nullopt;
    }
    auto applies = blocks_.begin();
    for (auto next = std::next(applies); next != blocks_.end() && next->position && *next->position <= readPosition;
         ++next) {
        applies = next;
    }
    return applies->text;
}

std::uint64_t TitlePlacement::placeInStep(std::uint64_t rawOffset, const DecodeProgress& before,
                                          const DecodeProgress& after, std::size_t frameBytes) {
    if (rawOffset <= before.rawBytes || after.rawBytes <= before.rawBytes) {
        return before.pcmBytes;
    }
    const std::uint64_t into = std::min(rawOffset, after.rawBytes) - before.rawBytes;
    const auto share = static_cast<long double>(into) / static_cast<long double>(after.rawBytes - before.rawBytes);
    const auto samples = static_cast<std::uint64_t>(static_cast<long double>(after.pcmBytes - before.pcmBytes) * share);
    const std::size_t frame = std::max<std::size_t>(frameBytes, 1);
    return before.pcmBytes + samples - samples % frame;
}

}  // namespace korvanel
