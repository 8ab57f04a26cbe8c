#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "audio/audio_failure.h"

namespace korvanel {

class AudioLibrary;

// The number by which a library knows one of its streams or syncs. Only
// library implementations and the objects below use it; everyone else holds
// an AudioStream or an AudioSync.
struct StreamId {
    std::uint32_t id = 0;
    explicit operator bool() const { return id != 0; }
    bool operator==(const StreamId&) const = default;
};

struct SyncId {
    std::uint32_t id = 0;
    explicit operator bool() const { return id != 0; }
    bool operator==(const SyncId&) const = default;
};

enum class ActiveState : std::uint32_t {
    Stopped = 0,  // never started, stopped, ended, or not a stream
    Playing = 1,
    Stalled = 2,  // waiting for data
    Paused = 3,
};

struct ChannelInfo {
    std::uint32_t frequency = 0;
    std::uint32_t channels = 0;
    std::uint32_t flags = 0;  // creation flags, plus kStreamBlock for live streams
    std::uint32_t channelType = 0;
};

struct ChannelAttributes {
    int frequency = 0;
    int volume = 0;  // 0..100
    int pan = 0;     // -100..100
};

// What a sync callback receives. For kSyncStall, data is kStallData or
// kResumeData; for kSyncMeta, texts holds the new metadata in the form of the
// stream's metadata tags (one ICY metadata text, or Vorbis comments). The
// sync comes when the metadata arrives, which may be seconds before its
// sound plays. Where that sound begins, as a byte offset in the stream's
// decoded samples (as read() hands them out), is in position when known at
// once; when it is known only once decoding gets there, data holds a nonzero
// ticket and a kSyncMetaPlaced event with that ticket in data brings the
// position later. Neither means the library cannot tell.
struct SyncEvent {
    std::uint32_t data = 0;
    std::vector<std::string> texts;
    std::optional<std::uint64_t> position;
};

using SyncCallback = std::function<void(const SyncEvent& event)>;

// A notification registered on a stream, removed when this goes. After
// remove() or the destructor returns, its callback is not running and will
// not run again, unless the removal was made from inside a callback of the
// same stream.
class AudioSync {
public:
    AudioSync() = default;
    ~AudioSync() { remove(); }
    AudioSync(AudioSync&& other) noexcept;
    AudioSync& operator=(AudioSync&& other) noexcept;
    AudioSync(const AudioSync&) = delete;
    AudioSync& operator=(const AudioSync&) = delete;

    explicit operator bool() const { return library_ != nullptr; }
    // Handle when the stream went first (its syncs went with it).
    AudioResult<void> remove();

private:
    friend class AudioStream;
    AudioSync(AudioLibrary& library, StreamId stream, SyncId sync)
        : library_(&library), stream_(stream), sync_(sync) {}

    AudioLibrary* library_ = nullptr;
    StreamId stream_;
    SyncId sync_;
};

// The sync made, or none where it could not be made.
inline AudioSync syncOrNone(AudioResult<AudioSync> made) { return made ? std::move(made).value() : AudioSync{}; }

// A decoding or output stream of one library, freed when this goes. A
// stream made with audio::kStreamAutoFree may end and free itself first;
// its calls then fail with Handle, as they do on an empty AudioStream.
// Streams must go before their library. The calls may be made from any
// thread, as the library's may; moving or destroying the object is its
// owner's alone.
class AudioStream {
public:
    AudioStream() = default;
    ~AudioStream() { free(); }
    AudioStream(AudioStream&& other) noexcept;
    AudioStream& operator=(AudioStream&& other) noexcept;
    AudioStream(const AudioStream&) = delete;
    AudioStream& operator=(const AudioStream&) = delete;

    explicit operator bool() const { return library_ != nullptr; }
    // Frees it now: its callbacks are not running and will not run again
    // once this returns (unless called from inside one of them).
    AudioResult<void> free();

    // Tags of one type (audio::kTag*), or nothing when the stream has none.
    std::optional<std::vector<std::string>> tags(std::uint32_t type) const;
    // Decoded length in bytes, or audio::kUnknownLength.
    std::int64_t length() const;
    AudioResult<ChannelInfo> info() const;

    AudioResult<void> play(bool restart = false);
    AudioResult<void> stop();
    ActiveState activity() const;
    [[nodiscard]] AudioResult<AudioSync> setSync(std::uint32_t type, std::uint64_t param, SyncCallback callback);
    // A sync for the stream's whole life: it goes when the stream goes.
    AudioResult<void> setLifelongSync(std::uint32_t type, std::uint64_t param, SyncCallback callback);

    // Peak levels of the latest output: left in the low 16 bits, right in
    // the high 16 bits (0..32768), or audio::kLevelError.
    std::uint32_t level() const;
    AudioResult<void> setAttributes(int frequency, int volume, int pan);
    std::optional<ChannelAttributes> attributes() const;
    // The volume alone, 0..100.
    AudioResult<void> setVolume(int volume);

    // Decoded samples of a decoding stream, never waiting: the byte count
    // given (0 while no data is ready); NotPlaying once the stream has ended
    // and everything was read.
    AudioResult<std::uint32_t> read(std::span<std::uint8_t> buffer);
    // Decoded bytes given so far, or audio::kUnknownLength.
    std::int64_t position() const;
    // Bytes an output stream was handed that its sound card has not played
    // yet (a sound server's buffer); 0 where it plays them at once. Never
    // waits: a sample callback may ask.
    std::uint64_t queued() const;
    // The name the desktop shows for an output stream, such as the station.
    bool setMediaName(const std::string& name);

private:
    friend class AudioLibrary;
    AudioStream(AudioLibrary& library, StreamId stream) : library_(&library), id_(stream) {}
    AudioResult<SyncId> addSync(std::uint32_t type, std::uint64_t param, SyncCallback callback);

    AudioLibrary* library_ = nullptr;
    StreamId id_;
};

// The stream opened, or none where it could not be opened.
inline AudioStream streamOrNone(AudioResult<AudioStream> made) {
    return made ? std::move(made).value() : AudioStream{};
}

}  // namespace korvanel
