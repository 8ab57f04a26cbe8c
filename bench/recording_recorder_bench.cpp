// What recording adds to playing a stream: the recorder's cost per network
// chunk of a 128 kbit/s MP3 stream written to a file, and its peak memory
// over ten minutes of buffering with the default "Recording/MaxBuffer".
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include <benchmark/benchmark.h>

#include "bench/mp3_frames.h"
#include <malloc.h>

#include "base/program_path.h"
#include "audio/stream_info.h"
#include "recording/recorder.h"
#include "settings/default_settings.h"
#include "settings/settings_store.h"

namespace {

constexpr std::size_t kChunkBytes = 4096;
constexpr std::size_t kStreamBytesPerSecond = 16000;

using korvanel::bench::mp3Frames;

std::size_t mallocInUse() {
    const struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
}

struct Setup {
    std::filesystem::path folder = std::filesystem::temp_directory_path() / "korvanel-recorder-bench";
    korvanel::SettingsStore store;
    korvanel::StreamInfo info;

    explicit Setup(bool recording) {
        std::filesystem::remove_all(folder);
        korvanel::registerDefaultSettings(store);
        store.setString("Recording/Path", folder.string());
        store.setBool("Recording/Enabled", recording);
        info.setStationName("Bench Radio");
        info.setTitle("Bench Title");
        info.setKind(korvanel::StreamKind::Mp3);
    }
    ~Setup() { std::filesystem::remove_all(folder); }
};

void feed(korvanel::Recorder& recorder, std::string_view data) {
    for (std::size_t offset = 0; offset < data.size(); offset += kChunkBytes) {
        const std::size_t length = std::min(kChunkBytes, data.size() - offset);
        recorder.onStreamData({reinterpret_cast<const std::uint8_t*>(data.data() + offset), length});
    }
}

// CPU time (both threads) per 4 KB chunk recorded to a file; one stream
// second is 16000 bytes, so CPU per second of stream = 3.9 x this.
void BM_RecorderMp3ChunkToFile(benchmark::State& state) {
    Setup setup(true);
    const std::string data = mp3Frames(kChunkBytes * 1024);
    korvanel::Recorder recorder(setup.info, nullptr);
    recorder.applySettings(setup.store);
    recorder.onOpen();
    recorder.onFormat(44100, 2);
    for (auto _ : state) {
        feed(recorder, data);
        recorder.waitUntilIdle();
    }
    recorder.onClose();
    recorder.waitUntilIdle();
    state.SetItemsProcessed(state.iterations() * 1024);
    state.counters["stream_seconds_per_iteration"] =
        static_cast<double>(data.size()) / static_cast<double>(kStreamBytesPerSecond);
}
BENCHMARK(BM_RecorderMp3ChunkToFile)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// Ten minutes of a 128 kbit/s stream with the switch off: everything stays
// in memory, bounded by the limit.
void BM_RecorderTenMinutesBufferedMemory(benchmark::State& state) {
    const std::string data = mp3Frames(600 * kStreamBytesPerSecond);
    for (auto _ : state) {
        Setup setup(false);
        const std::size_t baseline = mallocInUse();
        std::size_t peak = 0;
        korvanel::Recorder recorder(setup.info, nullptr);
        recorder.applySettings(setup.store);
        recorder.onOpen();
        recorder.onFormat(44100, 2);
        for (std::size_t offset = 0; offset < data.size(); offset += 64 * kChunkBytes) {
            feed(recorder, std::string_view(data).substr(offset, 64 * kChunkBytes));
            recorder.waitUntilIdle();
            peak = std::max(peak, mallocInUse());
        }
        state.counters["peak_heap_MB"] = static_cast<double>(peak - baseline) / (1024.0 * 1024.0);
        state.counters["limit_MB"] = 5.0;
    }
}
BENCHMARK(BM_RecorderTenMinutesBufferedMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
