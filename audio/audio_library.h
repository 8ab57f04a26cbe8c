#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "audio/audio_failure.h"
#include "audio/audio_stream.h"
#include "stream/source_classification.h"

namespace korvanel {

namespace audio {

inline constexpr std::uint32_t kVersion = 0x00010002;  // what version() reports
inline constexpr int kNoSoundDevice = 0;        // decoding streams live here
inline constexpr int kDefaultDevice = 1;        // the system's default output
// The file sink of korvanel-cli --pcm-out, beside the sound output's devices.
inline constexpr int kFileDevice = 1000;
inline constexpr int kOutputFrequency = 44100;  // what init() is called with

// setConfig options.
inline constexpr std::uint32_t kConfigNetBuffer = 12;  // milliseconds
// The highest HLS variant to choose, in bits per second; 0: the highest there is.
inline constexpr std::uint32_t kConfigHlsBandwidth = 0x10001;
// A sound server's buffer for each output stream, in milliseconds.
inline constexpr std::uint32_t kConfigServerBuffer = 0x10002;

// Stream creation flags and channel information flags.
inline constexpr std::uint32_t kStreamAutoFree = 0x40000;  // frees itself when it ends
inline constexpr std::uint32_t kStreamBlock = 0x100000;    // unknown length, played in blocks
inline constexpr std::uint32_t kStreamDecode = 0x200000;   // pulled with channelGetData
inline constexpr std::uint32_t kStreamMeta = 0x400000;     // deliver stream metadata
// Added by a sample callback to its byte count when its stream has ended.
inline constexpr std::uint32_t kSampleEnd = 0x80000000;

// Channel types (channelGetInfo); the values live with the stream kinds.
inline constexpr std::uint32_t kChannelTypeOgg = channel_type::kOggVorbisStream;
inline constexpr std::uint32_t kChannelTypeOggOpus = channel_type::kOggOpusStream;
inline constexpr std::uint32_t kChannelTypeOggFlac = channel_type::kOggFlacStream;
inline constexpr std::uint32_t kChannelTypeMp3 = channel_type::kMp3Stream;
inline constexpr std::uint32_t kChannelTypeAac = channel_type::kAacStream;
inline constexpr std::uint32_t kChannelTypeWindowsMedia = channel_type::kWindowsMediaStream;
inline constexpr std::uint32_t kChannelTypeStream = 0x10000;  // any other codec
inline constexpr std::uint32_t kChannelTypeMp1 = 0x10003;
inline constexpr std::uint32_t kChannelTypeMp2 = 0x10004;

// Sync types (channelSetSync).
inline constexpr std::uint32_t kSyncEnd = 2;             // stream ended
inline constexpr std::uint32_t kSyncStall = 6;           // data 0 stalled, 1 resumed
inline constexpr std::uint32_t kSyncMeta = 0x40000004;   // new stream metadata
inline constexpr std::uint32_t kSyncMetaPlaced = 0x40000005;  // where metadata's sound begins
inline constexpr std::uint32_t kStallData = 0;
inline constexpr std::uint32_t kResumeData = 1;

// Tag types (streamGetTags).
inline constexpr std::uint32_t kTagOgg = 2;   // Vorbis comments "KEY=value"
inline constexpr std::uint32_t kTagHttp = 3;  // status line and response headers
inline constexpr std::uint32_t kTagIcy = 4;   // status line and the icy-* headers
inline constexpr std::uint32_t kTagMeta = 5;  // ICY "StreamTitle='...';" or WMA "key = value"

// Results meaning "unknown" or "failed".
inline constexpr std::uint32_t kLevelError = 0xFFFFFFFF;
inline constexpr std::int64_t kUnknownLength = -1;

// channelSetAttributes: values that leave an attribute unchanged.
inline constexpr int kFrequencyUnchanged = -1;
inline constexpr int kVolumeUnchanged = -1;
inline constexpr int kPanUnchanged = -101;

}  // namespace audio

// Raw bytes as they came from the network, without ICY metadata, in stream
// order; an empty span with finished = true once the download has ended.
using DownloadCallback = std::function<void(std::span<const std::uint8_t> data, bool finished)>;
// Fills the buffer with interleaved signed 16-bit samples; returns the byte
// count given, plus audio::kSampleEnd when the stream has ended.
using SampleCallback = std::function<std::uint32_t(std::span<std::uint8_t> buffer)>;

// The audio library: decoding of network streams and output to sound cards.
// Device 0 is the no-sound device on which decoding streams live; devices 1,
// 2, ... are sound cards. Streams are AudioStream objects, opened with a
// result that holds the stream or why there is none.
//
// Every call that can fail returns its own result, with the reason when it
// failed; the library keeps no error of its own.
//
// Threads: every call may be made from any thread. The selected device
// (setDevice) is one per library. Callbacks run on the library's own
// threads: download callbacks and kSyncMeta on the network or decoder thread
// (in stream order with the data), sample callbacks on a sound card's
// thread, the other syncs on a notification thread, never inside a sound
// card's callback.
class AudioLibrary {
public:
    virtual ~AudioLibrary() = default;

    // Library settings, such as audio::kConfigNetBuffer; false for an
    // option the library does not know.
    virtual bool setConfig(std::uint32_t option, std::uint32_t value) = 0;
    virtual std::uint32_t version() const = 0;
    // The description of device n; Device past the last one.
    virtual AudioResult<std::string> deviceDescription(int device) = 0;
    // Which sound output plays ("Sound server: ...", "SDL: ...", "File: ...");
    // empty until a sound card was asked for, or where the library cannot say.
    virtual std::string outputName() { return {}; }

    // Device lifetime; Already when the device is initialised already.
    virtual AudioResult<void> init(int device, int frequency) = 0;
    virtual AudioResult<void> setDevice(int device) = 0;
    // Frees the selected device and every stream still on it (their objects
    // then fail with Handle).
    virtual AudioResult<void> freeDevice() = 0;
    virtual AudioResult<void> startDevice() = 0;
    // Stops every output stream on the selected device.
    virtual AudioResult<void> stopDevice() = 0;
    virtual AudioResult<void> pauseDevice() = 0;
    // Master volume of the selected device, 0..100, or -1 on an error.
    virtual AudioResult<void> setDeviceVolume(int volume) = 0;
    virtual int deviceVolume() = 0;

    // An output stream on the selected device, fed by the sample callback.
    AudioResult<AudioStream> openOutput(int frequency, int channels, std::uint32_t flags,
                                        SampleCallback samples);
    // A decoding stream (flags must hold kStreamDecode) from an http:// or
    // https:// address. Blocks until the stream's format is known or it
    // failed: a connection that does not open within 5 s gives Timeout.
    AudioResult<AudioStream> openUrl(const std::string& url, std::uint32_t offset, std::uint32_t flags,
                                     DownloadCallback download);
    // The Windows Media route: mms://, rtsp:// and http:// addresses of
    // ASF/WMA streams; kStreamDecode required.
    AudioResult<AudioStream> openWindowsMedia(const std::string& address, std::uint32_t flags);
    // Whether openWindowsMedia can be used at all.
    virtual bool windowsMediaAvailable() const = 0;
    // Ends the opens (openUrl, openWindowsMedia) in progress on any thread,
    // which fail with Unknown, and makes later ones fail at once until
    // allowOpens(): a stop never waits on the network. A library that
    // cannot cut an open short does nothing.
    virtual void cancelOpens() {}
    virtual void allowOpens() {}

protected:
    // What the objects above call, by the number the library gave them.
    // See AudioStream and AudioSync for what each does.
    friend class AudioStream;
    friend class AudioSync;
    virtual AudioResult<StreamId> streamCreate(int frequency, int channels, std::uint32_t flags,
                                               SampleCallback samples) = 0;
    virtual AudioResult<StreamId> streamCreateUrl(const std::string& url, std::uint32_t offset,
                                                  std::uint32_t flags, DownloadCallback download) = 0;
    virtual AudioResult<StreamId> wmaStreamCreateFile(const std::string& address, std::uint32_t flags) = 0;
    virtual AudioResult<void> streamFree(StreamId stream) = 0;
    virtual std::optional<std::vector<std::string>> streamGetTags(StreamId stream, std::uint32_t type) = 0;
    virtual std::int64_t streamGetLength(StreamId stream) = 0;
    virtual AudioResult<void> channelPlay(StreamId stream, bool restart) = 0;
    virtual AudioResult<void> channelStop(StreamId stream) = 0;
    virtual AudioResult<SyncId> channelSetSync(StreamId stream, std::uint32_t type, std::uint64_t param,
                                               SyncCallback callback) = 0;
    virtual AudioResult<void> channelRemoveSync(StreamId stream, SyncId sync) = 0;
    virtual std::uint32_t channelGetLevel(StreamId stream) = 0;
    virtual ActiveState channelIsActive(StreamId stream) = 0;
    virtual AudioResult<ChannelInfo> channelGetInfo(StreamId stream) = 0;
    virtual AudioResult<void> channelSetAttributes(StreamId stream, int frequency, int volume, int pan) = 0;
    virtual std::optional<ChannelAttributes> channelGetAttributes(StreamId stream) = 0;
    virtual AudioResult<std::uint32_t> channelGetData(StreamId stream, std::span<std::uint8_t> buffer) = 0;
    virtual std::int64_t channelGetPosition(StreamId stream) = 0;
    virtual std::uint64_t channelGetQueued(StreamId /*stream*/) { return 0; }
    virtual bool channelSetMediaName(StreamId /*stream*/, const std::string& /*name*/) { return false; }

    // The number this library gave the stream; 0 for an empty one.
    static StreamId idOf(const AudioStream& stream) { return stream.library_ != nullptr ? stream.id_ : StreamId{}; }

private:
    AudioResult<AudioStream> wrap(AudioResult<StreamId> made);
};

}  // namespace korvanel
