#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_library.h"

namespace korvanel::test {

// A scripted AudioLibrary for unit tests of the layers above it. Tests say
// which devices exist, how init() and stream creation turn out, and what a
// decoding stream delivers; then they drive output streams (pull), syncs
// (fireSync) and downloads by hand and inspect what the code under test did.
// Nothing runs on threads of its own. Callbacks are called without the
// fake's lock held, so they may call back into it.
class FakeAudioLibrary final : public AudioLibrary {
public:
    // What a URL or Windows Media address opens as.
    struct ScriptedStream {
        ChannelInfo info{44100, 2, audio::kStreamDecode, audio::kChannelTypeMp3};
        std::map<std::uint32_t, std::vector<std::string>> tags;
        std::vector<std::uint8_t> pcm;  // what channelGetData hands out
        bool ended = false;             // no more pcm will come
        std::int64_t length = audio::kUnknownLength;
        // Handed to the download callback during creation, in order.
        std::vector<std::vector<std::uint8_t>> downloadChunks;
    };

    struct OutputState {
        int device = 0;
        int frequency = 0;
        int channels = 0;
        std::uint32_t flags = 0;
        bool playing = false;
        int volume = 100;
    };

    FakeAudioLibrary();
    ~FakeAudioLibrary() override;

    // --- scripting ---
    // Devices 1..n with these descriptions (device 0 always exists).
    void setDevices(std::vector<std::string> descriptions);
    // Every later init(device) fails with this code (Ok: succeeds again).
    void setInitError(int device, AudioError error);
    void setVersion(std::uint32_t version);
    void setWindowsMediaAvailable(bool available);
    void scriptStream(const std::string& address, ScriptedStream stream);
    // Opening the address fails with this code. Unscripted addresses fail
    // with AudioError::FileOpen.
    void scriptFailure(const std::string& address, AudioError error);
    // Output streams fail to be created on this device.
    void failOutputsOnDevice(int device, AudioError error);
    // While held, streamCreateUrl waits (at most 10 s) before it opens, as
    // a slow server would keep it; waitForHeldOpen() tells when one waits.
    void holdOpens();
    void releaseOpens();
    bool waitForHeldOpen(std::chrono::milliseconds bound);

    // --- driving ---
    // The number of a stream this library opened, as the calls below take it.
    using AudioLibrary::idOf;
    void appendPcm(StreamId decoding, const std::vector<std::uint8_t>& bytes);
    void endStream(StreamId decoding);
    // Runs an output stream's sample callback as its sound card would.
    std::uint32_t pull(StreamId output, std::span<std::uint8_t> buffer);
    // Calls every sync of this type on the stream; returns how many ran.
    int fireSync(StreamId stream, std::uint32_t type, std::uint32_t data = 0,
                 std::vector<std::string> texts = {}, std::optional<std::uint64_t> position = std::nullopt);
    // Calls the decoding stream's download callback.
    void download(StreamId decoding, const std::vector<std::uint8_t>& bytes);
    void finishDownload(StreamId decoding);
    void setLevel(StreamId stream, std::uint32_t level);
    void setPosition(StreamId stream, std::int64_t position);

    // --- inspection ---
    // Every call made, in order, e.g. "init(2)", "streamCreate(44100,2,0x40000)@1".
    std::vector<std::string> calls() const;
    void clearCalls();
    std::vector<int> initialisedDevices() const;
    std::optional<std::uint32_t> config(std::uint32_t option) const;
    // Output streams that exist now (not freed), in creation order.
    std::vector<StreamId> outputStreams() const;
    std::optional<OutputState> output(StreamId stream) const;
    // Open decoding streams.
    std::vector<StreamId> decodingStreams() const;
    int syncCount(StreamId stream) const;
    int selectedDevice() const;

    // --- AudioLibrary ---
    bool setConfig(std::uint32_t option, std::uint32_t value) override;
    std::uint32_t version() const override;
    AudioResult<std::string> deviceDescription(int device) override;
    AudioResult<void> init(int device, int frequency) override;
    AudioResult<void> setDevice(int device) override;
    AudioResult<void> freeDevice() override;
    AudioResult<void> startDevice() override;
    AudioResult<void> stopDevice() override;
    AudioResult<void> pauseDevice() override;
    AudioResult<void> setDeviceVolume(int volume) override;
    int deviceVolume() override;
    bool windowsMediaAvailable() const override;

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

private:
    struct Sync {
        SyncId handle;
        std::uint32_t type = 0;
        std::shared_ptr<SyncCallback> callback;
    };
    struct Stream {
        bool decoding = false;
        ScriptedStream script;     // decoding streams
        std::size_t readOffset = 0;
        std::int64_t position = 0;
        DownloadCallback download;
        OutputState output;        // output streams
        std::shared_ptr<SampleCallback> samples;
        int pan = 0;
        std::uint32_t level = 0;
        std::vector<Sync> syncs;
    };

    AudioResult<StreamId> createDecoding(const std::string& address, std::uint32_t flags,
                                         DownloadCallback download);
    Stream* find(StreamId stream);
    const Stream* find(StreamId stream) const;
    void log(std::string call);

    mutable std::mutex lock_;
    std::vector<std::string> descriptions_;
    std::map<int, AudioError> initErrors_;
    std::map<int, AudioError> outputErrors_;
    std::vector<int> initialised_;
    int selected_ = 0;
    std::uint32_t version_ = audio::kVersion;
    bool windowsMedia_ = true;
    std::map<std::string, ScriptedStream> scripts_;
    std::map<std::string, AudioError> failures_;
    std::map<std::uint32_t, std::uint32_t> config_;
    std::map<std::uint32_t, Stream> streams_;  // by handle id, creation order
    std::uint32_t nextId_ = 1;
    std::vector<std::string> calls_;
    bool holdOpens_ = false;
    int heldOpens_ = 0;
    std::condition_variable holdChanged_;
};

}  // namespace korvanel::test
