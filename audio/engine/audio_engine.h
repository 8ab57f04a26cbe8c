#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_library.h"
#include "audio/engine/ffmpeg_loader.h"
#include "stream/tls_client_context.h"
#include "audio/engine/sync_dispatcher.h"

namespace korvanel {

class DecodingStream;
class FileSoundOutput;
class OutputStream;
class SoundOutput;
class StreamCallbacks;

// The real AudioLibrary: our ICY reader and FFmpeg for decoding streams, and
// a sound output for the cards: the desktop's sound server where one
// answers, else SDL2 (see sound_output_choice.h; the environment is read at
// the first device call). Device 0 is the no-sound device, 1 the system's
// default output, 2, 3, ... the output's devices, and kFileDevice the file
// sink when the engine was given a file.
//
// Threads: see AudioLibrary. The engine's lock guards only its tables; no
// call into a stream, SDL or the network happens under it. Streams are
// destroyed outside it, on the dispatcher thread when freed from inside one
// of the engine's own threads.
class AudioEngine final : public AudioLibrary {
public:
    // The libraries it loads at run time; tests name missing ones.
    struct Libraries {
        FfmpegLibraryNames ffmpeg = FfmpegLibraryNames::installed();
        std::string sdl = "libSDL2-2.0.so.0";
        std::string pulse = "libpulse.so.0";
    };

    AudioEngine();
    explicit AudioEngine(Libraries libraries);
    // With a file sink as audio::kFileDevice writing to `pcmFile` (not owned).
    AudioEngine(Libraries libraries, std::FILE* pcmFile);
    ~AudioEngine() override;
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // Waits until every notification raised so far has been delivered.
    void waitForNotifications();

    bool setConfig(std::uint32_t option, std::uint32_t value) override;
    std::uint32_t version() const override;
    AudioResult<std::string> deviceDescription(int device) override;
    std::string outputName() override;
    AudioResult<void> init(int device, int frequency) override;
    AudioResult<void> setDevice(int device) override;
    AudioResult<void> freeDevice() override;
    AudioResult<void> startDevice() override;
    AudioResult<void> stopDevice() override;
    AudioResult<void> pauseDevice() override;
    AudioResult<void> setDeviceVolume(int volume) override;
    int deviceVolume() override;
    bool windowsMediaAvailable() const override;
    void cancelOpens() override;
    void allowOpens() override;

private:
    // What AudioStream and AudioSync reach through AudioLibrary.
    AudioResult<StreamId> streamCreate(int frequency, int channels, std::uint32_t flags,
                                       SampleCallback samples) override;
    AudioResult<StreamId> streamCreateUrl(const std::string& url, std::uint32_t offset, std::uint32_t flags,
                                          DownloadCallback download) override;
    AudioResult<StreamId> wmaStreamCreateFile(const std::string& address, std::uint32_t flags) override;
    AudioResult<void> streamFree(StreamId stream) override;
    std::optional<std::vector<std::string>> streamGetTags(StreamId stream, std::uint32_t type) override;
    std::int64_t streamGetLength(StreamId stream) override;
    AudioResult<void> channelPlay(StreamId stream, bool restart) override;
    AudioResult<void> channelStop(StreamId stream) override;
    AudioResult<SyncId> channelSetSync(StreamId stream, std::uint32_t type, std::uint64_t param,
                                       SyncCallback callback) override;
    AudioResult<void> channelRemoveSync(StreamId stream, SyncId sync) override;
    std::uint32_t channelGetLevel(StreamId stream) override;
    ActiveState channelIsActive(StreamId stream) override;
    AudioResult<ChannelInfo> channelGetInfo(StreamId stream) override;
    AudioResult<void> channelSetAttributes(StreamId stream, int frequency, int volume, int pan) override;
    std::optional<ChannelAttributes> channelGetAttributes(StreamId stream) override;
    AudioResult<std::uint32_t> channelGetData(StreamId stream, std::span<std::uint8_t> buffer) override;
    std::int64_t channelGetPosition(StreamId stream) override;
    std::uint64_t channelGetQueued(StreamId stream) override;
    bool channelSetMediaName(StreamId stream, const std::string& name) override;

private:
    static constexpr int kMaxFrequency = 384000;  // of devices and pushed streams
    enum class Halt { Stop, Pause };
    // Stops the selected device's output streams; a pause remembers them.
    AudioResult<void> haltSelectedDevice(Halt halt);
    struct Entry {
        std::shared_ptr<DecodingStream> decoding;
        std::shared_ptr<OutputStream> output;
        StreamCallbacks& callbacks() const;
        bool autoFree() const;
        bool runsOn(std::thread::id thread) const;
    };
    struct Device {
        int volume = 100;
        bool stopped = false;
        std::vector<std::uint32_t> paused;  // outputs to resume on start
    };

    std::optional<Entry> find(StreamId stream) const;
    AudioResult<StreamId> createDecoding(std::uint32_t flags, const std::string& address,
                                         bool windowsMedia, DownloadCallback download);
    // Removes the stream from the tables and destroys it (see the class note).
    bool remove(StreamId stream);
    void deliver(StreamId stream, std::uint32_t syncType, std::uint32_t data);
    bool onEngineThread() const;
    // The output and its own number for one of our devices; nothing for
    // the no-sound device or one no output has.
    struct Route {
        std::shared_ptr<SoundOutput> output;
        int device = 0;
    };
    std::optional<Route> routeLocked(int device);
    const std::shared_ptr<SoundOutput>& soundOutputLocked();

    // First member: its libraries load while the rest starts, and it
    // outlives every stream that decodes with them.
    FfmpegLoader ffmpeg_;
    TlsClientContext tls_;  // every https stream's settings and CA store
    const Libraries libraries_;
    mutable std::mutex lock_;
    // Chosen at the first device call, and again once its server went
    // away; each output stream holds the output it plays on.
    std::shared_ptr<SoundOutput> output_;
    const std::shared_ptr<FileSoundOutput> pcmFile_;
    std::map<int, Device> devices_;  // initialised devices
    int selected_ = audio::kNoSoundDevice;
    std::map<std::uint32_t, Entry> streams_;
    // Decoding streams whose open is under way, for cancelOpens().
    std::map<std::uint32_t, std::shared_ptr<DecodingStream>> opening_;
    bool opensCancelled_ = false;
    // Sound cards whose release runs on the dispatcher; a new card waits
    // for them, since some drivers open one card at a time.
    int releasingCards_ = 0;
    std::condition_variable cardsReleased_;
    std::uint32_t nextId_ = 1;
    // What setConfig() set, for the streams created from then on.
    struct StreamConfig {
        std::uint32_t bufferMs = 5000;
        std::uint32_t hlsBandwidth = 0;  // bits per second
        std::uint32_t serverBufferMs = 250;
    };
    StreamConfig streamConfig_;
    // Last member: destroyed first, while the tables still exist.
    SyncDispatcher dispatcher_;
};

}  // namespace korvanel
