#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "audio/audio_library.h"

namespace korvanel {

// The sound cards "Sound/PlayOnDevices" names and the output stream each
// plays through: reads the list, initialises the cards, creates, stops and
// frees their output streams, and frees the cards. Each card that plays has
// a slot of its own in the shared sample buffer.
//
// Threads: the player's worker calls prepare, openOutputs, stopOutputs and
// freeCards; the window thread may call setList, list and setVolume at any
// time. lock_ guards the list text and the cards. No library call is made
// under it but setVolume's, which never waits. The library is passed in by
// the channel, which keeps it alive across every call.
class OutputDeviceSet {
public:
    struct Card {
        int device = 0;
        int slot = -1;
        bool enabled = false;
        // Its output stream while it plays; held by pointer, since the
        // channel and the title timeline keep its address.
        std::unique_ptr<AudioStream> stream;
    };

    // Device numbers separated by commas ("1,2"), trimmed of spaces and
    // commas at either end; used from the next prepare().
    void setList(std::string_view text);
    std::string list() const;

    // Initialises the listed cards that exist. A card initialised by an
    // earlier open is used again; one whose driver failed is left out.
    // True when any card can play.
    bool prepare(AudioLibrary& library);
    // One more than the highest slot prepare() gave out.
    int slotCount() const;

    // Creates an output stream on each prepared card, fed by feed(slot);
    // created(slot, stream) runs for each before it is recorded. The
    // streams made, in card order, or why none could be made; they belong
    // to the set until stopOutputs().
    AudioResult<std::vector<AudioStream*>> openOutputs(
        AudioLibrary& library, int frequency, int channels,
        const std::function<SampleCallback(int slot)>& feed,
        const std::function<void(int slot, AudioStream& stream)>& created);
    // The volume (0..100) of every playing output stream.
    void setVolume(int volume);

    // Stops and frees the output streams and takes the cards out of the
    // set, for freeCards() once the decoding stream is gone too.
    std::vector<Card> stopOutputs();
    // Frees the cards, the last initialised first.
    static void freeCards(AudioLibrary& library, const std::vector<Card>& cards);
    // No card prepared and none left to free.
    bool empty() const;

    // The device numbers of a list text, read like atoi.
    static std::vector<int> parseList(std::string_view text);

private:
    mutable std::mutex lock_;
    std::string list_ = "1";
    std::vector<Card> cards_;
};

}  // namespace korvanel
