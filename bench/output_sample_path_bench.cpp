// What one sound card pull costs on the output channel's sample path: the
// shared buffer refill, the hand-off to the recorder and the sound effects,
// for one and for two devices, and the effects alone. A pull of 4096 bytes is
// 23 ms of 44.1 kHz stereo, so the share of real time is time / 23.2 ms.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "audio/recording_sink.h"
#include "audio/shared_sample_buffer.h"
#include "audio/sound_effects.h"
#include "settings/default_settings.h"
#include "settings/settings_store.h"

namespace korvanel {
namespace {

constexpr std::size_t kPullBytes = 4096;

// An endless decoding stream of a quiet square wave.
class EndlessPcm final : public AudioLibrary {
public:
    AudioResult<std::uint32_t> channelGetData(StreamId, std::span<std::uint8_t> buffer) override {
        for (std::size_t i = 0; i + 1 < buffer.size(); i += 2) {
            const std::int16_t sample = (phase_++ / 64) % 2 == 0 ? 3000 : -3000;
            std::memcpy(buffer.data() + i, &sample, sizeof sample);
        }
        return static_cast<std::uint32_t>(buffer.size());
    }
    ActiveState channelIsActive(StreamId) override { return ActiveState::Playing; }

    bool setConfig(std::uint32_t, std::uint32_t) override { return false; }
    std::uint32_t version() const override { return audio::kVersion; }
    AudioResult<std::string> deviceDescription(int) override { return unavailable(); }
    AudioResult<void> init(int, int) override { return unavailable(); }
    AudioResult<void> setDevice(int) override { return unavailable(); }
    AudioResult<void> freeDevice() override { return unavailable(); }
    AudioResult<void> startDevice() override { return unavailable(); }
    AudioResult<void> stopDevice() override { return unavailable(); }
    AudioResult<void> pauseDevice() override { return unavailable(); }
    AudioResult<void> setDeviceVolume(int) override { return unavailable(); }
    int deviceVolume() override { return -1; }
    AudioResult<StreamId> streamCreate(int, int, std::uint32_t, SampleCallback) override { return unavailable(); }
    AudioResult<StreamId> streamCreateUrl(const std::string&, std::uint32_t, std::uint32_t,
                                          DownloadCallback) override {
        return StreamId{1};  // the one endless stream
    }
    AudioResult<StreamId> wmaStreamCreateFile(const std::string&, std::uint32_t) override { return unavailable(); }
    bool windowsMediaAvailable() const override { return false; }
    AudioResult<void> streamFree(StreamId) override { return unavailable(); }
    std::optional<std::vector<std::string>> streamGetTags(StreamId, std::uint32_t) override {
        return std::nullopt;
    }
    std::int64_t streamGetLength(StreamId) override { return audio::kUnknownLength; }
    AudioResult<void> channelPlay(StreamId, bool) override { return unavailable(); }
    AudioResult<void> channelStop(StreamId) override { return unavailable(); }
    AudioResult<SyncId> channelSetSync(StreamId, std::uint32_t, std::uint64_t, SyncCallback) override {
        return unavailable();
    }
    AudioResult<void> channelRemoveSync(StreamId, SyncId) override { return unavailable(); }
    std::uint32_t channelGetLevel(StreamId) override { return audio::kLevelError; }
    AudioResult<ChannelInfo> channelGetInfo(StreamId) override { return unavailable(); }
    AudioResult<void> channelSetAttributes(StreamId, int, int, int) override { return unavailable(); }
    std::optional<ChannelAttributes> channelGetAttributes(StreamId) override {
        return std::nullopt;
    }
    std::int64_t channelGetPosition(StreamId) override { return audio::kUnknownLength; }

private:
    static Failed<AudioFailure> unavailable() { return audioFailure(AudioError::NotAvailable); }

    std::uint64_t phase_ = 0;
};

// A recorder that only copies, as a real one hands the samples to its thread.
class CopyingSink final : public RecordingSink {
public:
    void onOpen() override {}
    void onHeaderData(std::span<const std::uint8_t>) override {}
    void onStreamData(std::span<const std::uint8_t>) override {}
    void onPcm(std::span<const std::uint8_t> samples) override {
        copy_.assign(samples.begin(), samples.end());
        benchmark::DoNotOptimize(copy_.data());
    }
    void onFormat(int, int) override {}
    void onClose() override {}
    void onStreamInfo(const StreamInfo::Snapshot&) override {}

private:
    std::vector<std::uint8_t> copy_;
};

void allEffectsOn(SoundEffects& effects) {
    effects.setCompressor(true);
    effects.setSwapChannels(true);
    effects.setSeparation(0.5);
}

void BM_PullThroughBufferAndEffects(benchmark::State& state) {
    const int devices = static_cast<int>(state.range(0));
    SettingsStore settings;
    registerDefaultSettings(settings);
    SoundEffects effects(settings);
    allEffectsOn(effects);
    EndlessPcm library;
    CopyingSink recorder;
    SharedSampleBuffer buffer;
    buffer.setRecorder(&recorder);
    buffer.setSoundEffects(&effects);
    AudioStream stream = streamOrNone(library.openUrl("endless:", 0, audio::kStreamDecode, nullptr));
    buffer.start(stream, 2, devices);
    for (int slot = 0; slot < devices; ++slot) {
        buffer.activate(slot);
    }
    std::vector<std::uint8_t> out(kPullBytes);
    for (auto _ : state) {
        for (int slot = 0; slot < devices; ++slot) {
            benchmark::DoNotOptimize(buffer.fill(slot, out));
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kPullBytes);
    buffer.stop();
}
BENCHMARK(BM_PullThroughBufferAndEffects)->Arg(1)->Arg(2);

void BM_EffectsOnly(benchmark::State& state) {
    SettingsStore settings;
    registerDefaultSettings(settings);
    SoundEffects effects(settings);
    allEffectsOn(effects);
    std::vector<std::uint8_t> block(kPullBytes, 0x11);
    for (auto _ : state) {
        benchmark::DoNotOptimize(effects.process(block, 2));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kPullBytes);
}
BENCHMARK(BM_EffectsOnly);

}  // namespace
}  // namespace korvanel

BENCHMARK_MAIN();
