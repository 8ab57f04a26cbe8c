#include "audio/output_device_set.h"

#include <algorithm>
#include <charconv>

namespace korvanel {
namespace {

bool isListTrimmed(char c) { return c == ' ' || c == ','; }

// atoi: leading white space, an optional sign, digits; 0 for anything else,
// including a number that does not fit.
int readNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    if (i < text.size() && text[i] == '+') {
        ++i;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(text.data() + i, text.data() + text.size(), value);
    (void)end;
    return error == std::errc{} ? value : 0;
}

// init() failures after which a card is not used at all.
bool unusableCard(AudioError error) {
    switch (error) {
        case AudioError::Memory:
        case AudioError::Driver:
        case AudioError::Device:
        case AudioError::Unknown: return true;
        default: return false;
    }
}

}  // namespace

void OutputDeviceSet::setList(std::string_view text) {
    while (!text.empty() && isListTrimmed(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isListTrimmed(text.back())) {
        text.remove_suffix(1);
    }
    std::lock_guard<std::mutex> guard(lock_);
    list_ = text;
}

std::string OutputDeviceSet::list() const {
    std::lock_guard<std::mutex> guard(lock_);
    return list_;
}

std::vector<int> OutputDeviceSet::parseList(std::string_view text) {
    std::vector<int> numbers;
    while (true) {
        const std::size_t comma = text.find(',');
        numbers.push_back(readNumber(text.substr(0, comma)));
        if (comma == std::string_view::npos) {
            break;
        }
        text.remove_prefix(comma + 1);
    }
    return numbers;
}

bool OutputDeviceSet::prepare(AudioLibrary& library) {
    // The cards known, without slots; no output stream plays meanwhile.
    std::vector<Card> cards;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (const Card& card : cards_) {
            cards.push_back(Card{card.device, -1, false, nullptr});
        }
    }
    int nextSlot = 0;
    for (const int device : parseList(list())) {
        if (device == audio::kNoSoundDevice || !library.deviceDescription(device)) {
            continue;
        }
        if (const AudioResult<void> started = library.init(device, audio::kOutputFrequency); !started) {
            const AudioError error = started.error().kind;
            if (unusableCard(error)) {
                continue;
            }
            if (error == AudioError::Already) {
                auto known = std::find_if(cards.begin(), cards.end(),
                                          [&](const Card& card) { return card.device == device; });
                if (known != cards.end()) {
                    known->enabled = true;
                    if (known->slot < 0) {
                        known->slot = nextSlot++;
                    }
                    continue;
                }
            }
        }
        cards.push_back(Card{device, nextSlot++, true, nullptr});
    }
    const bool any = std::any_of(cards.begin(), cards.end(), [](const Card& card) { return card.enabled; });
    std::lock_guard<std::mutex> guard(lock_);
    cards_ = std::move(cards);
    return any;
}

int OutputDeviceSet::slotCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    int count = 0;
    for (const Card& card : cards_) {
        count = std::max(count, card.slot + 1);
    }
    return count;
}

AudioResult<std::vector<AudioStream*>> OutputDeviceSet::openOutputs(
    AudioLibrary& library, int frequency, int channels, const std::function<SampleCallback(int slot)>& feed,
    const std::function<void(int slot, AudioStream& stream)>& created) {
    struct Target {
        int device;
        int slot;
    };
    std::vector<Target> targets;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (const Card& card : cards_) {
            if (card.enabled && card.slot >= 0) {
                targets.push_back(Target{card.device, card.slot});
            }
        }
    }
    std::vector<AudioStream*> made;
    AudioError failure = AudioError::Ok;
    std::string failureDetail;
    for (const Target& card : targets) {
        if (const AudioResult<void> selected = library.setDevice(card.device); !selected) {
            failure = selected.error().kind;
            continue;  // never create it on whichever device is selected
        }
        AudioResult<AudioStream> opened =
            library.openOutput(frequency, channels, audio::kStreamAutoFree, feed(card.slot));
        if (!opened) {
            failure = opened.error().kind;
            failureDetail = opened.error().detail;
            continue;  // the other cards play on
        }
        auto stream = std::make_unique<AudioStream>(std::move(opened).value());
        created(card.slot, *stream);
        made.push_back(stream.get());
        std::lock_guard<std::mutex> guard(lock_);
        for (Card& known : cards_) {
            if (known.device == card.device && !known.stream) {
                known.stream = std::move(stream);
                break;
            }
        }
    }
    if (made.empty()) {
        return audioFailure(failure, std::move(failureDetail));
    }
    return made;
}

void OutputDeviceSet::setVolume(int volume) {
    std::lock_guard<std::mutex> guard(lock_);
    for (const Card& card : cards_) {
        if (card.stream) {
            card.stream->setVolume(volume);
        }
    }
}

std::vector<OutputDeviceSet::Card> OutputDeviceSet::stopOutputs() {
    std::vector<Card> cards;
    {
        std::lock_guard<std::mutex> guard(lock_);
        cards.swap(cards_);
    }
    for (Card& card : cards) {
        if (card.stream) {
            card.stream->stop();
            card.stream.reset();
        }
    }
    return cards;
}

void OutputDeviceSet::freeCards(AudioLibrary& library, const std::vector<Card>& cards) {
    for (auto card = cards.rbegin(); card != cards.rend(); ++card) {
        if (library.setDevice(card->device)) {
            library.freeDevice();
        }
    }
}

bool OutputDeviceSet::empty() const {
    std::lock_guard<std::mutex> guard(lock_);
    return cards_.empty();
}

}  // namespace korvanel
