#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "audio/audio_library.h"
#include "audio/channel_notice.h"
#include "audio/metadata_parser.h"
#include "audio/output_device_set.h"
#include "audio/output_devices.h"
#include "audio/shared_sample_buffer.h"
#include "audio/title_timeline.h"

namespace korvanel {

class ChannelNotices;
class Leveller;
class MetadataParser;
class RecordingSink;
class SoundEffects;
class StreamInfo;

enum class OpenResult {
    Opened = 0,
    Fatal = 1,        // no output device or a library fault: do not retry
    Timeout = 2,      // worth another attempt on the same address
    Failed = 3,       // move on to the next address
    Unsupported = 4,  // move on to the next address
    Playlist = 5,     // the address holds a playlist: resolve it, then open its entries
};

// Why the library is unusable or an open failed.
enum class AudioErrorKind {
    NotLoaded = 1,    // no library, or one of another version
    NoDevice = 2,     // "Sound/PlayOnDevices" named no usable sound card
    LibraryCall = 3,  // a library call failed; the code says how
};

// Why the channel could not start or open: what to do next, and why.
struct ChannelFailure {
    OpenResult next = OpenResult::Fatal;  // never Opened
    AudioErrorKind kind = AudioErrorKind::LibraryCall;
    AudioError code = AudioError::Unknown;  // the library's, for LibraryCall
    std::string detail;                     // what the code cannot say, such as an HLS key's fault
    // In the words of the error kinds, as the log shows it.
    std::string text() const;
};

using ChannelResult = Result<void, ChannelFailure>;

// Opened for a success, else what the failure says to do next.
inline OpenResult outcomeOf(const ChannelResult& result) { return result ? OpenResult::Opened : result.error().next; }

// Opens one source as a decoding stream on the no-sound device and plays it
// on the cards of its device set, each through an output stream of its own
// that pulls from one shared sample buffer. Hands the stream bytes and
// decoded samples to the recorder, runs the sound effects, reads the
// stream's tags into the stream information, keeps the volume, and tells
// the player of the library's notifications (end, stall, resume). Why an
// open failed is told in the words of the error kinds.
//
// Metadata reaches the recorder when it arrives and the stream information
// when the title card plays its sound (TitleTimeline), so what the listener
// sees changes with what they hear.
//
// Threads: the player's worker calls init, shutdown, the setters, open and
// close; the window thread may call setVolume, volume, level, progress,
// outputDevices and setDevices/setBufferLength (through the player's settings)
// at any time. Library callbacks never wait on the network or on a lock held
// across a library call: they copy samples, forward to the recorder, or
// hand on a notice.
class OutputChannel {
public:
    // Takes the library over; null stands for a library that could not be
    // loaded.
    explicit OutputChannel(std::unique_ptr<AudioLibrary> library);
    // shutdown().
    ~OutputChannel();

    OutputChannel(const OutputChannel&) = delete;
    OutputChannel& operator=(const OutputChannel&) = delete;

    // Checks the library version and initialises the no-sound device.
    ChannelResult init();
    // Closes the stream, frees the no-sound device and releases the library.
    void shutdown();

    // Given once after init(), before the first open(); null means none.
    void setSoundEffects(SoundEffects* effects);
    // Started with each stream's format, stopped when it closes.
    void setLeveller(Leveller* leveller);
    void setRecorder(RecordingSink* recorder);
    void setStreamInfo(StreamInfo* info);
    void setNotices(ChannelNotices* notices);

    // Network buffer length in milliseconds.
    void setBufferLength(int milliseconds);
    // The highest HLS variant to choose, in bits per second (0 or less: the highest).
    void setHlsBandwidth(int bitsPerSecond);
    // A sound server's buffer per output stream, for the streams opened next.
    void setServerBuffer(int milliseconds);
    // Which sound output plays ("Sound server: ...", "SDL: ..."); empty
    // until a sound card was opened.
    std::string outputName() const;
    // Device numbers separated by commas ("1,2"); used from the next open.
    void setDevices(std::string_view text);
    std::string devices() const;

    // Fatal without touching anything while a stream is open; Fatal too when
    // no output stream could be made on any device (the stream is closed).
    ChannelResult open(const std::string& address);
    // Frees the streams and every device initialised by open(), also after
    // a failed open.
    void close();
    // From any thread: an open() in progress returns at once (Timeout, the
    // library's unknown error), and so does every later one until
    // allowOpen(), which the player's worker calls before it connects.
    void cancelOpen();
    void allowOpen();

    // The decoding stream has no known length and is played in blocks.
    bool isLiveStream() const;
    void setVolume(double volume);
    double volume() const;
    // Left peak in the low 16 bits, right in the high 16 bits; 0 when unknown.
    std::uint32_t level() const;
    // Position as a percentage of the length, -1 when the length is unknown.
    double progress() const;
    // The devices "Sound/PlayOnDevices" can name; none without a library.
    std::vector<OutputDevice> outputDevices() const;

    // How an open failure with this library error is reported.
    static OpenResult classify(AudioError code);
    // The device numbers of a "Sound/PlayOnDevices" text, as the device set reads them.
    static std::vector<int> parseDeviceList(std::string_view text) { return OutputDeviceSet::parseList(text); }
    // v * 100 as an integer volume, clamped to 0..100.
    static int libraryVolume(double volume);

    static constexpr const char* kNotLoadedText = "Could not load the audio engine (FFmpeg and SDL2).";
    static constexpr const char* kNoDeviceText = "No soundcard configured.";
    static constexpr const char* kStreamOpenText = "A stream is open already.";

private:
    AudioResult<AudioStream> createDecodingStream(const std::string& address);
    void readStreamInformation(const AudioStream& decoding, const ChannelInfo& info);
    // Creates and starts the output streams, or why none could be made.
    ChannelResult startOutputs(AudioStream& decoding, const ChannelInfo& info);
    void onDownload(std::span<const std::uint8_t> data, bool finished);
    // A sound card's sample callback.
    std::uint32_t fillSlot(int slot, std::span<std::uint8_t> out);
    void post(ChannelNotice notice);

    std::unique_ptr<AudioLibrary> library_;
    SharedSampleBuffer buffer_;
    OutputDeviceSet cards_;
    TitleTimeline timeline_;
    std::atomic<RecordingSink*> recorder_{nullptr};
    Leveller* leveller_ = nullptr;  // the worker's
    std::atomic<ChannelNotices*> notices_{nullptr};
    std::atomic<bool> opening_{false};
    std::atomic<double> volume_{1.0};
    StreamInfo* info_ = nullptr;  // the worker's
    // Made by the worker in open() before any stream exists, and replaced
    // only there after close() ended every callback: the library's threads
    // use it (through the timeline) while the streams live, and the parser
    // locks itself.
    std::unique_ptr<MetadataParser> parser_;

    bool loaded_ = false;  // the worker's: init() found a library of our version
    // The worker writes these under the lock and reads them without it; the
    // window thread reads them under the lock, which also keeps library_
    // alive for the window thread's calls until shutdown() releases it.
    mutable std::mutex stateLock_;
    // By pointer, since the sample buffer keeps its address.
    std::unique_ptr<AudioStream> decoding_;
    // Created last, owned by the device set; carries the end and stall syncs.
    AudioStream* outputStream_ = nullptr;
    AudioSync endSync_;
    AudioSync stallSync_;
};

}  // namespace korvanel
