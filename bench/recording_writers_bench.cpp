// Throughput of the raw stream writers, CPU time of the MP3 encoder per
// minute of sound, and the peak memory of ten minutes of recording with
// the default "Recording/MaxBuffer".
#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

#include "bench/mp3_frames.h"
#include <malloc.h>

#include "recording/encoder_writer.h"
#include "recording/mp3_stream_writer.h"
#include "recording/ogg_stream_writer.h"

namespace {

constexpr std::size_t kChunkBytes = 4096;   // a network read
constexpr double kStreamBytesPerSecond = 128000.0 / 8;
constexpr std::size_t kDefaultMaxBuffer = 5242880;

using korvanel::bench::mp3Frames;

void putLittleEndian32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

std::string oggPage(unsigned char type, std::uint32_t sequence, const std::string& body) {
    std::string page("OggS", 4);
    page.push_back('\0');
    page.push_back(static_cast<char>(type));
    page.append(8, '\0');
    putLittleEndian32(page, 77);
    putLittleEndian32(page, sequence);
    page.append(4, '\0');
    std::string lacing;
    std::size_t left = body.size();
    while (left >= 255) {
        lacing.push_back(static_cast<char>(255));
        left -= 255;
    }
    lacing.push_back(static_cast<char>(left));
    page.push_back(static_cast<char>(lacing.size()));
    return page + lacing + body;
}

// A Vorbis-like stream: headers, then 4 KB pages of 16 packets each.
std::string oggStream(std::size_t bytes) {
    std::string stream = oggPage(2, 0, std::string("\x01vorbis", 7) + std::string(23, '\0'));
    std::string setup("\x03vorbis", 7);
    setup.append(200, 'c');
    stream += oggPage(0, 1, setup);  // the comment; the setup packet follows
    stream += oggPage(0, 2, std::string("\x05vorbis", 7) + std::string(3000, 's'));
    std::uint32_t sequence = 3;
    while (stream.size() < bytes) {
        std::string body;
        std::string lacing;
        for (int packet = 0; packet < 16; ++packet) {
            body.append(250, static_cast<char>(packet));
            lacing.push_back(static_cast<char>(250));
        }
        std::string page("OggS", 4);
        page.push_back('\0');
        page.push_back('\0');
        page.append(8, '\0');
        putLittleEndian32(page, 77);
        putLittleEndian32(page, sequence++);
        page.append(4, '\0');
        page.push_back(static_cast<char>(lacing.size()));
        stream += page + lacing + body;
    }
    return stream;
}

// The writers' buffers come from malloc (and the encoder library's too), so
// memory is measured with the allocator's own count, sampled as data flows.
class MallocPeak {
public:
    MallocPeak() : baseline_(inUse()) {}
    void sample() {
        const std::size_t now = inUse();
        peak_ = now > peak_ ? now : peak_;
    }
    double peakMegabytes() const {
        return static_cast<double>(peak_ > baseline_ ? peak_ - baseline_ : 0) / (1024.0 * 1024.0);
    }

private:
    static std::size_t inUse() {
        const struct mallinfo2 info = ::mallinfo2();
        return info.uordblks + info.hblkhd;
    }
    std::size_t baseline_;
    std::size_t peak_ = 0;
};

std::string benchFile(const char* name) {
    return (std::filesystem::temp_directory_path() / name).string();
}

template <class Writer>
void feedRaw(Writer& writer, const std::string& data, MallocPeak* peak = nullptr) {
    for (std::size_t offset = 0; offset < data.size(); offset += kChunkBytes) {
        writer.writeRaw(data.data() + offset, std::min(kChunkBytes, data.size() - offset));
        if (peak != nullptr && offset % (64 * kChunkBytes) == 0) {
            peak->sample();
        }
    }
}

void reportStreamShare(benchmark::State& state, std::size_t bytesPerIteration) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytesPerIteration));
}

// Raw writing to a file: what recording adds to playing a stream.
void BM_Mp3WriterToFile(benchmark::State& state) {
    const std::string data = mp3Frames(16 * 1024 * 1024);
    korvanel::Mp3StreamWriter writer;
    writer.setMaxBuffer(kDefaultMaxBuffer);
    const std::string path = benchFile("korvanel-bench-raw.mp3");
    for (auto _ : state) {
        writer.open(path);
        feedRaw(writer, data);
        writer.close();
    }
    std::filesystem::remove(path);
    reportStreamShare(state, data.size());
}
BENCHMARK(BM_Mp3WriterToFile)->Unit(benchmark::kMillisecond);

// Buffering without a file: frame splitting and the ring's trims.
void BM_Mp3WriterToRing(benchmark::State& state) {
    const std::string data = mp3Frames(16 * 1024 * 1024);
    korvanel::Mp3StreamWriter writer;
    writer.setMaxBuffer(kDefaultMaxBuffer);
    for (auto _ : state) {
        feedRaw(writer, data);
    }
    reportStreamShare(state, data.size());
}
BENCHMARK(BM_Mp3WriterToRing)->Unit(benchmark::kMillisecond);

void BM_OggWriterToFile(benchmark::State& state) {
    const std::string data = oggStream(16 * 1024 * 1024);
    korvanel::OggStreamWriter writer;
    writer.setMaxBuffer(kDefaultMaxBuffer);
    const std::string path = benchFile("korvanel-bench-raw.ogg");
    for (auto _ : state) {
        writer.clear();
        writer.open(path);
        feedRaw(writer, data);
        writer.close();
    }
    std::filesystem::remove(path);
    reportStreamShare(state, data.size());
}
BENCHMARK(BM_OggWriterToFile)->Unit(benchmark::kMillisecond);

std::string sinePcm(double seconds) {
    const long frames = static_cast<long>(seconds * 44100);
    std::string pcm(static_cast<std::size_t>(frames) * 4, '\0');
    for (long i = 0; i < frames; ++i) {
        for (int channel = 0; channel < 2; ++channel) {
            const double frequency = channel == 0 ? 440.0 : 554.0;
            const auto value = static_cast<std::int16_t>(
                9000.0 * std::sin(2.0 * M_PI * frequency * static_cast<double>(i) / 44100.0) +
                3000.0 * std::sin(2.0 * M_PI * 3.1 * frequency * static_cast<double>(i) / 44100.0));
            pcm[static_cast<std::size_t>(i * 4 + channel * 2)] = static_cast<char>(value & 0xFF);
            pcm[static_cast<std::size_t>(i * 4 + channel * 2 + 1)] = static_cast<char>((value >> 8) & 0xFF);
        }
    }
    return pcm;
}

void feedPcm(korvanel::EncoderWriter& writer, const std::string& pcm, MallocPeak* peak = nullptr) {
    constexpr std::size_t kPiece = 4410 * 4;  // 100 ms
    for (std::size_t offset = 0; offset < pcm.size(); offset += kPiece) {
        writer.encodePcm(pcm.data() + offset, std::min(kPiece, pcm.size() - offset));
        if (peak != nullptr) {
            peak->sample();
        }
    }
}

// CPU time per minute of 44.1 kHz stereo at 128 kbit/s, as configured for
// recording (high quality, no bit reservoir).
void BM_EncoderOneMinute128k(benchmark::State& state) {
    korvanel::EncoderWriter writer;
    if (!writer.isLoaded()) {
        state.SkipWithError("libmp3lame.so.0 is not installed");
        return;
    }
    const std::string pcm = sinePcm(60.0);
    writer.setMaxBuffer(kDefaultMaxBuffer);
    writer.setBitrate(128);
    const std::string path = benchFile("korvanel-bench-encoded.mp3");
    for (auto _ : state) {
        writer.start(44100, 2);
        writer.open(path);
        feedPcm(writer, pcm);
        writer.finish();
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_EncoderOneMinute128k)->Unit(benchmark::kMillisecond)->Iterations(3);

// Ten minutes of a 128 kbit/s stream buffered with the default limit: the
// peak heap stays within the limit plus a little.
void BM_Mp3WriterTenMinutesMemory(benchmark::State& state) {
    const std::string data = mp3Frames(static_cast<std::size_t>(600 * kStreamBytesPerSecond));
    for (auto _ : state) {
        MallocPeak peak;
        korvanel::Mp3StreamWriter writer;
        writer.setMaxBuffer(kDefaultMaxBuffer);
        feedRaw(writer, data, &peak);
        peak.sample();
        state.counters["peak_heap_MB"] = peak.peakMegabytes();
        state.counters["limit_MB"] = static_cast<double>(kDefaultMaxBuffer) / (1024.0 * 1024.0);
    }
}
BENCHMARK(BM_Mp3WriterTenMinutesMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_EncoderTenMinutesContinuousMemory(benchmark::State& state) {
    const std::string minute = sinePcm(60.0);
    for (auto _ : state) {
        MallocPeak peak;
        korvanel::EncoderWriter writer;
        if (!writer.isLoaded()) {
            state.SkipWithError("libmp3lame.so.0 is not installed");
            return;
        }
        writer.setMaxBuffer(kDefaultMaxBuffer);
        writer.setContinuous(true);
        writer.start(44100, 2);
        for (int i = 0; i < 10; ++i) {
            feedPcm(writer, minute, &peak);
        }
        writer.finish();
        state.counters["peak_heap_MB"] = peak.peakMegabytes();
    }
}
BENCHMARK(BM_EncoderTenMinutesContinuousMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
