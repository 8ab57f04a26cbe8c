// The audio engine's speed and weight: time from open to the first decoded
// sample handed to the sound card, processor time while playing next to
// ffmpeg decoding the same mount, and resident memory while playing.
//
// The sound card is SDL's disk driver writing to /dev/null. The icecast
// benchmarks start their own icecast2 with the test fixture; its sources are
// compiled in here because benchmarks do not link the test support library.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <thread>

#include "audio/engine/audio_engine.h"
#include "bench/audio_stream_server.h"
#include "tests/support/icecast_server.cpp"  // NOLINT: see the note above
#include "tests/support/temp_folder.cpp"     // NOLINT

namespace korvanel {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// SDL reads its driver when the engine first touches a device.
struct DiskSoundCard {
    test::ScopedEnv driver{"SDL_AUDIODRIVER", "disk"};
    test::ScopedEnv file{"SDL_DISKAUDIOFILE", "/dev/null"};
};

struct FirstSample {
    double fromOpenMs = -1;
    double fromFirstByteMs = -1;
};

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Opens the address as the output channel does and waits for the first
// decoded sample to reach the card's callback.
FirstSample playUntilFirstSample(AudioEngine& engine, const std::string& url) {
    std::atomic<Clock::rep> firstByte{0};
    std::atomic<Clock::rep> firstSample{0};
    const Clock::time_point start = Clock::now();
    engine.setDevice(audio::kNoSoundDevice);
    AudioResult<AudioStream> opened = engine.openUrl(
        url, 0, audio::kStreamDecode | audio::kStreamMeta,
        [&](std::span<const std::uint8_t> data, bool) {
            Clock::rep none = 0;
            if (!data.empty()) {
                firstByte.compare_exchange_strong(none, Clock::now().time_since_epoch().count());
            }
        });
    if (!opened) {
        return {};
    }
    AudioStream decoding = std::move(opened).value();
    const AudioResult<ChannelInfo> info = decoding.info();
    engine.setDevice(audio::kDefaultDevice);
    AudioStream output = streamOrNone(engine.openOutput(
        static_cast<int>(info->frequency), static_cast<int>(info->channels), audio::kStreamAutoFree,
        [&](std::span<std::uint8_t> buffer) -> std::uint32_t {
            const AudioResult<std::uint32_t> count = decoding.read(buffer);
            Clock::rep none = 0;
            if (count && *count > 0) {
                firstSample.compare_exchange_strong(none, Clock::now().time_since_epoch().count());
            }
            return count ? *count : audio::kSampleEnd;
        }));
    output.play();
    const auto deadline = Clock::now() + 5s;
    while (firstSample.load() == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(50us);
    }
    output.free();
    decoding.free();
    FirstSample result;
    if (firstSample.load() != 0) {
        const Clock::time_point sample{Clock::duration(firstSample.load())};
        result.fromOpenMs = msBetween(start, sample);
        result.fromFirstByteMs = msBetween(Clock::time_point{Clock::duration(firstByte.load())}, sample);
    }
    return result;
}

struct ToneFiles {
    test::TempFolder folder;
    std::string mp3 = bench::makeToneFile(folder.file("tone.mp3"), "libmp3lame", 128, 20);
    std::string ogg = bench::makeToneFile(folder.file("tone.ogg"), "libvorbis", 128, 20);
};

const ToneFiles& toneFiles() {
    static const ToneFiles files;
    return files;
}

void BM_FirstSampleFromFastServer(benchmark::State& state) {
    const bool ogg = state.range(0) == 1;
    const std::string& body = ogg ? toneFiles().ogg : toneFiles().mp3;
    if (body.empty()) {
        state.SkipWithError("ffmpeg could not make the tone file");
        return;
    }
    bench::StreamServer server(body, ogg ? "application/ogg" : "audio/mpeg", 128);
    DiskSoundCard card;
    AudioEngine engine;
    engine.init(audio::kNoSoundDevice, audio::kOutputFrequency);
    engine.init(audio::kDefaultDevice, audio::kOutputFrequency);
    for (auto _ : state) {
        const FirstSample first = playUntilFirstSample(engine, server.url(ogg ? "/tone.ogg" : "/tone.mp3"));
        if (first.fromOpenMs < 0) {
            state.SkipWithError("no sample reached the card");
            return;
        }
        state.SetIterationTime(first.fromOpenMs / 1000);
    }
}
BENCHMARK(BM_FirstSampleFromFastServer)
    ->ArgName("ogg")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(21)
    ->ReportAggregatesOnly(true);

// icecast2 itself waits about 300 ms before its first audio byte; what the
// engine adds is measured from that byte on.
void BM_FirstSampleAfterFirstIcecastByte(benchmark::State& state) {
    const bool ogg = state.range(0) == 1;
    if (!test::IcecastServer::available()) {
        state.SkipWithError("icecast2 or ffmpeg missing");
        return;
    }
    static test::IcecastServer icecast;
    static const bool started =
        icecast.start() &&
        icecast.startSource({"/tone.mp3", test::IcecastServer::Codec::Mp3}) &&
        icecast.startSource({"/tone.ogg", test::IcecastServer::Codec::OggVorbis});
    if (!started) {
        state.SkipWithError("icecast did not start");
        return;
    }
    DiskSoundCard card;
    AudioEngine engine;
    engine.init(audio::kNoSoundDevice, audio::kOutputFrequency);
    engine.init(audio::kDefaultDevice, audio::kOutputFrequency);
    double openMs = 0;
    for (auto _ : state) {
        const FirstSample first = playUntilFirstSample(engine, icecast.url(ogg ? "/tone.ogg" : "/tone.mp3"));
        if (first.fromFirstByteMs < 0) {
            state.SkipWithError("no sample reached the card");
            return;
        }
        openMs = first.fromOpenMs;
        state.SetIterationTime(first.fromFirstByteMs / 1000);
    }
    state.counters["open_to_sample_ms"] = openMs;
}
BENCHMARK(BM_FirstSampleAfterFirstIcecastByte)
    ->ArgName("ogg")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(11)
    ->ReportAggregatesOnly(true);

double cpuSeconds(const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    std::size_t resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// One icecast MP3 mount played for 30 s by the engine and, at the same
// time, decoded by `ffmpeg -i URL -f null -`; resident memory is read after
// 5 s of playing.
void BM_PlayingIcecastMp3For30Seconds(benchmark::State& state) {
    if (!test::IcecastServer::available()) {
        state.SkipWithError("icecast2 or ffmpeg missing");
        return;
    }
    test::IcecastServer icecast;
    if (!icecast.start() || !icecast.startSource({"/cpu.mp3", test::IcecastServer::Codec::Mp3})) {
        state.SkipWithError("icecast did not start");
        return;
    }
    const std::string url = icecast.url("/cpu.mp3");
    for (auto _ : state) {
        DiskSoundCard card;
        const std::size_t residentBefore = residentBytes();
        AudioEngine engine;
        engine.init(audio::kNoSoundDevice, audio::kOutputFrequency);
        engine.init(audio::kDefaultDevice, audio::kOutputFrequency);

        std::vector<std::string> arguments = {"/usr/bin/ffmpeg", "-hide_banner", "-nostdin", "-loglevel",
                                              "error", "-i", url, "-f", "null", "-"};
        std::vector<char*> argv;
        for (std::string& text : arguments) {
            argv.push_back(text.data());
        }
        argv.push_back(nullptr);
        pid_t ffmpeg = -1;
        ::posix_spawn(&ffmpeg, argv[0], nullptr, nullptr, argv.data(), environ);

        rusage before{};
        ::getrusage(RUSAGE_SELF, &before);
        const Clock::time_point start = Clock::now();
        engine.setDevice(audio::kNoSoundDevice);
        AudioStream decoding =
            streamOrNone(engine.openUrl(url, 0, audio::kStreamDecode | audio::kStreamMeta, nullptr));
        const AudioResult<ChannelInfo> info = decoding.info();
        if (!decoding || !info) {
            state.SkipWithError("the mount did not open");
            ::kill(ffmpeg, SIGKILL);
            ::waitpid(ffmpeg, nullptr, 0);
            return;
        }
        engine.setDevice(audio::kDefaultDevice);
        AudioStream output = streamOrNone(engine.openOutput(
            static_cast<int>(info->frequency), static_cast<int>(info->channels), 0,
            [&](std::span<std::uint8_t> buffer) -> std::uint32_t {
                const AudioResult<std::uint32_t> count = decoding.read(buffer);
                return count ? *count : audio::kSampleEnd;
            }));
        output.play();
        std::this_thread::sleep_for(5s);
        const std::size_t residentPlaying = residentBytes();
        std::this_thread::sleep_for(25s);
        rusage after{};
        ::getrusage(RUSAGE_SELF, &after);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        ::kill(ffmpeg, SIGINT);
        int status = 0;
        rusage ffmpegUsage{};
        ::wait4(ffmpeg, &status, 0, &ffmpegUsage);
        output.free();
        decoding.free();

        const double ours = cpuSeconds(after) - cpuSeconds(before);
        const double theirs = cpuSeconds(ffmpegUsage);
        state.counters["engine_cpu_percent"] = 100 * ours / seconds;
        state.counters["ffmpeg_cpu_percent"] = 100 * theirs / seconds;
        state.counters["engine_vs_ffmpeg"] = theirs > 0 ? ours / theirs : 0;
        state.counters["resident_added_MB"] =
            static_cast<double>(residentPlaying - residentBefore) / (1024.0 * 1024.0);
    }
}
BENCHMARK(BM_PlayingIcecastMp3For30Seconds)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace korvanel

BENCHMARK_MAIN();
