#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>

#include "audio/audio_library.h"
#include "audio/heard_metadata_queue.h"
#include "audio/metadata_parser.h"

namespace korvanel {

// When a title is heard: metadata arrives from the network seconds before
// its sound plays, so each reading waits at its place in the decoded
// samples until the title card (the first output stream made) has played
// up to there, and only then reaches the stream information.
//
// Threads: start, claim and clear run on the player's worker, start and
// clear while no stream exists; arrived on the library's network or decoder
// thread; placed on the library's threads; pulled and heardUpTo on the title
// card's thread. parser_ is fixed between start and clear, so the callbacks
// read it without a lock (the parser locks itself). unplacedLock_ guards
// unplaced_; the queue of heard readings locks itself.
class TitleTimeline {
public:
    // Readings go to this parser (null: none) from now on.
    void start(MetadataParser* parser);
    // The first output stream made carries the titles. It lives until
    // clear(), and its own sample callback is the one that asks for it.
    void claim(int slot, AudioStream& stream);
    // Forgets every waiting reading and the title card.
    void clear();

    // A metadata sync: heard at once, or waiting for its place in the samples.
    void arrived(const SyncEvent& event);
    // Where the sound of metadata that arrived without a place begins.
    void placed(const SyncEvent& event);

    // After each pull of a card's sample callback: notes the title card's
    // period; true when readings wait, so the caller works out heardUpTo.
    bool pulled(int slot, std::size_t periodBytes);
    // The title card's stream, for its own sample callback; null before claim.
    AudioStream* titleStream() const { return titleStream_.load(std::memory_order_relaxed); }
    // The title card has played the samples before this position.
    void heardUpTo(std::uint64_t position);

private:
    static constexpr int kNoSlotYet = -1;
    static constexpr std::size_t kMaxUnplaced = 256;

    MetadataParser* parser_ = nullptr;
    HeardMetadataQueue heard_;
    std::mutex unplacedLock_;
    std::map<std::uint32_t, MetadataParser::Reading> unplaced_;  // by the library's ticket
    std::atomic<int> titleSlot_{kNoSlotYet};
    std::atomic<AudioStream*> titleStream_{nullptr};
    std::atomic<std::size_t> periodBytes_{0};  // the title card's last pull
};

}  // namespace korvanel
