// What station levelling costs: CPU per second of 44.1 kHz stereo through the
// leveller (R128 measurement, gain and true-peak limiter), fed in 4096-byte
// sound card pulls for minutes of samples, and the memory the measurement and
// a full per-station memory take. core_share is seconds of CPU per second of
// audio: 0.001 is 0.1 % of one core.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "audio/leveller.h"
#include "audio/loudness_memory.h"
#include "base/event_sink.h"
#include "settings/default_settings.h"
#include "settings/settings_store.h"

namespace korvanel {
namespace {

constexpr int kRate = 44100;
constexpr std::size_t kPullBytes = 4096;

class NoEvents final : public EventSink {
public:
    void post(WindowEvent) override {}
};

// Ten seconds of a chord under hits every half second; `hitLevel` 0 gives a
// signal the limiter never needs to look at closely.
std::vector<std::uint8_t> music(double hitLevel, double chordLevel) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(kRate) * 10 * 4);
    for (std::size_t f = 0; f < bytes.size() / 4; ++f) {
        const double t = static_cast<double>(f) / kRate;
        const double chord = chordLevel * (std::sin(2 * std::numbers::pi * 220 * t) +
                                           0.7 * std::sin(2 * std::numbers::pi * 277 * t));
        const double hit = hitLevel * std::sin(2 * std::numbers::pi * 2500 * t) * std::exp(-150 * std::fmod(t, 0.5));
        const auto value = static_cast<std::int16_t>(std::lround(std::clamp(chord + hit, -1.0, 1.0) * 32767));
        std::memcpy(bytes.data() + f * 4, &value, 2);
        std::memcpy(bytes.data() + f * 4 + 2, &value, 2);
    }
    return bytes;
}

// In use from the heap, and from mmap for the large blocks malloc maps on its own.
std::size_t mallocBytes() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

void levelSeconds(benchmark::State& state, const std::vector<std::uint8_t>& source) {
    SettingsStore settings;
    registerDefaultSettings(settings);
    settings.setBool(Leveller::kLevellingKey, true);
    NoEvents events;
    Leveller leveller(settings, "/nonexistent/loudness.txt", events);
    if (!leveller.available()) {
        state.SkipWithError("libebur128 is missing");
        return;
    }
    leveller.setStation("http://bench/");
    leveller.start(kRate, 2);
    std::vector<std::uint8_t> block(kPullBytes);
    std::size_t at = 0;
    constexpr std::size_t kSecondBytes = static_cast<std::size_t>(kRate) * 4;
    for (auto _ : state) {
        // One second of audio per iteration, in the pulls a sound card makes.
        for (std::size_t done = 0; done < kSecondBytes; done += kPullBytes) {
            const std::size_t size = std::min(kPullBytes, kSecondBytes - done);
            if (at + size > source.size()) {
                at = 0;
            }
            std::memcpy(block.data(), source.data() + at, size);
            at += size;
            benchmark::DoNotOptimize(leveller.process(std::span(block.data(), size), 2));
        }
    }
    state.counters["core_share"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["gain_dB"] = leveller.gainDb().value_or(0.0);
}

// A quiet station boosted, its hits limited: the limiter's costly case.
void BM_LevelOneSecondBoostedWithPeaks(benchmark::State& state) { levelSeconds(state, music(0.25, 0.01)); }
// A station near the target: measurement and gain, the limiter idle.
void BM_LevelOneSecondSmooth(benchmark::State& state) { levelSeconds(state, music(0.0, 0.08)); }
BENCHMARK(BM_LevelOneSecondBoostedWithPeaks)->Unit(benchmark::kMicrosecond)->MinTime(20.0);
BENCHMARK(BM_LevelOneSecondSmooth)->Unit(benchmark::kMicrosecond)->MinTime(20.0);

// What one stream's measurement and limiter and a memory of 2,000 stations
// with addresses of typical length hold, from the C and C++ heaps both.
void BM_MemoryOfMeasurementAndTwoThousandStations(benchmark::State& state) {
    for (auto _ : state) {
        const std::size_t before = mallocBytes();
        SettingsStore settings;
        registerDefaultSettings(settings);
        settings.setBool(Leveller::kLevellingKey, true);
        NoEvents events;
        const std::size_t withSettings = mallocBytes();
        {
            Leveller leveller(settings, "/nonexistent/loudness.txt", events);
            const std::size_t loaded = mallocBytes();
            leveller.start(kRate, 2);
            const std::size_t started = mallocBytes();
            LoudnessMemory memory("/nonexistent/loudness.txt");
            for (int i = 0; i < 2000; ++i) {
                memory.remember("https://stream" + std::to_string(i) + ".radio.example.org:8000/live/high.mp3",
                                -18.0 - i % 10);
            }
            const std::size_t remembered = mallocBytes();
            state.counters["library_KB"] = static_cast<double>(loaded - withSettings) / 1024.0;
            state.counters["stream_KB"] = static_cast<double>(started - loaded) / 1024.0;
            state.counters["stations_KB"] = static_cast<double>(remembered - started) / 1024.0;
            state.counters["held_KB"] = static_cast<double>(remembered - withSettings) / 1024.0;
            leveller.stop();
        }
        benchmark::DoNotOptimize(before);
    }
}
BENCHMARK(BM_MemoryOfMeasurementAndTwoThousandStations)->Iterations(1);

}  // namespace
}  // namespace korvanel

BENCHMARK_MAIN();
