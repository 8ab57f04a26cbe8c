#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace korvanel {

class StreamCallbacks;

// Where in a stream's decoded samples each piece of ICY metadata begins to
// apply. Metadata comes with the compressed bytes it sits among; once the
// decoder has taken the bytes up to there, the place is worked out from
// how many samples those bytes gave, and told with a kSyncMetaPlaced.
//
// Threads: announce() on the network thread, decoded() and decodedBytes()
// on the decoder thread, textAt() from any thread. blocksLock_ guards
// blocks_; progressLock_ guards progress_ (written only by the decoder
// thread) and marks_. Neither is held while a sync fires.
class TitlePlacement {
public:
    // How far decoding has got: compressed bytes taken and the samples
    // they gave.
    struct DecodeProgress {
        std::uint64_t rawBytes = 0;
        std::uint64_t pcmBytes = 0;
    };

    explicit TitlePlacement(StreamCallbacks& callbacks) : callbacks_(callbacks) {}

    // Metadata after audioBytes of the stream's compressed audio, while the
    // listener has read readPosition decoded bytes: fired now, placed once
    // decoding gets there.
    void announce(std::string text, std::uint64_t audioBytes, std::uint64_t readPosition);
    // The decoder has taken rawBytes compressed bytes in all, and this step
    // gave pcmBytes more decoded bytes of frameBytes each.
    void decoded(std::uint64_t rawBytes, std::size_t pcmBytes, std::size_t frameBytes);
    // Decoded bytes so far, for the decoder thread.
    std::uint64_t decodedBytes() const { return progress_.pcmBytes; }
    // The metadata that applies where the listener has read to, if any came.
    std::optional<std::string> textAt(std::uint64_t readPosition) const;

    // Where the compressed byte at rawOffset, which the step from `before`
    // to `after` decoded, comes out in the samples: in proportion within
    // the step, on a whole frame.
    static std::uint64_t placeInStep(std::uint64_t rawOffset, const DecodeProgress& before,
                                     const DecodeProgress& after, std::size_t frameBytes);

private:
    static constexpr std::size_t kMaxMarks = 256;
    static constexpr std::size_t kMaxBlocks = 256;

    StreamCallbacks& callbacks_;
    std::uint32_t tickets_ = 0;  // the network thread's

    // Metadata waiting for the decoder to reach its compressed offset.
    struct Mark {
        std::uint32_t ticket = 0;
        std::uint64_t rawOffset = 0;
    };
    std::mutex progressLock_;
    DecodeProgress progress_;
    std::deque<Mark> marks_;

    // Metadata by the decoded position it applies from.
    struct Block {
        std::uint32_t ticket = 0;
        std::optional<std::uint64_t> position;  // nothing until placed
        std::string text;
    };
    mutable std::mutex blocksLock_;
    std::deque<Block> blocks_;
};

}  // namespace korvanel
