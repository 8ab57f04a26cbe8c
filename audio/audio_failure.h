#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "audio/result.h"

namespace korvanel {

// What can go wrong in the audio engine. The numbers are fixed: the output
// channel classifies them, and the texts the listener reads follow them.
enum class AudioError : std::int32_t {
    Ok = 0,
    Memory = 1,
    FileOpen = 2,
    Driver = 3,
    Handle = 5,
    Init = 8,
    Start = 9,
    Already = 14,
    IllegalType = 19,
    IllegalParameter = 20,
    Device = 23,
    NotPlaying = 24,
    Frequency = 25,
    NotAvailable = 37,
    Decode = 38,
    Timeout = 40,
    FileFormat = 41,
    Playlist = 42,  // the address gave a playlist to resolve, not audio
    Unknown = -1,
};

// The English text of an error kind; kinds without one give "No error".
const char* audioErrorText(AudioError code);

// A failed engine call: its kind, and what the kind cannot say, such as an
// HLS stream's encryption we cannot undo (empty when nothing).
struct AudioFailure {
    AudioError kind = AudioError::Unknown;
    std::string detail;
};

template <typename T>
using AudioResult = Result<T, AudioFailure>;

// For `return audioFailure(AudioError::Init);`.
inline Failed<AudioFailure> audioFailure(AudioError kind, std::string detail = {}) {
    return Failed<AudioFailure>{AudioFailure{kind, std::move(detail)}};
}

// Ok for a success, else the failure's kind.
template <typename T>
AudioError failureKind(const AudioResult<T>& result) {
    return result ? AudioError::Ok : result.error().kind;
}

// Success, or a failure of this kind.
inline AudioResult<void> succeededOr(bool ok, AudioError kind) {
    if (ok) {
        return {};
    }
    return audioFailure(kind);
}

}  // namespace korvanel
