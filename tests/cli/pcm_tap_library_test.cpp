// The PCM tap as the output channel drives a card: what it writes is what
// the card would play, after the stream's volume; its level is the peak of
// each channel before that volume.
#include "cli/pcm_tap_library.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

namespace korvanel {
namespace {

using namespace std::chrono_literals;

struct TapFile {
    TapFile() : file(std::tmpfile()) {}
    ~TapFile() { std::fclose(file); }
    // Only once the tap's thread has gone: reading moves the position.
    std::vector<std::int16_t> samples() const {
        std::vector<std::int16_t> all(bytes() / 2);
        std::rewind(file);
        EXPECT_EQ(std::fread(all.data(), 2, all.size(), file), all.size());
        return all;
    }
    std::size_t bytes() const {
        std::fflush(file);
        return static_cast<std::size_t>(std::ftell(file));
    }
    std::FILE* file;
};

// Stereo frames of (left, right), or mono samples of left, as long as asked.
SampleCallback constantFrames(int channels, std::int16_t left, std::int16_t right) {
    return [=](std::span<std::uint8_t> buffer) {
        const std::size_t count = buffer.size() / 2;
        for (std::size_t i = 0; i < count; ++i) {
            const std::int16_t value = (channels == 2 && i % 2 == 1) ? right : left;
            std::memcpy(buffer.data() + i * 2, &value, 2);
        }
        return static_cast<std::uint32_t>(count * 2);
    };
}

// Plays until `bytes` were written; returns the level seen then, and frees
// the stream, which ends its thread.
std::uint32_t playUntil(PcmTapLibrary& tap, const TapFile& out, StreamHandle stream, std::size_t bytes) {
    EXPECT_TRUE(tap.channelPlay(stream, true));
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (out.bytes() < bytes && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    const std::uint32_t level = tap.channelGetLevel(stream);
    EXPECT_TRUE(tap.streamFree(stream));
    return level;
}

TEST(PcmTapLibrary, WritesSamplesAfterVolumeAndMeasuresEachChannelBeforeIt) {
    TapFile out;
    PcmTapLibrary tap(nullptr, out.file);
    ASSERT_TRUE(tap.init(PcmTapLibrary::kTapDevice, 44100));
    const StreamHandle stereo = tap.streamCreate(44100, 2, 0, constantFrames(2, 1000, -3000));
    ASSERT_TRUE(static_cast<bool>(stereo));
    ASSERT_TRUE(tap.channelSetAttributes(stereo, audio::kFrequencyUnchanged, 50, audio::kPanUnchanged));
    EXPECT_EQ(playUntil(tap, out, stereo, 8820), 1000u | (3000u << 16));
    const std::vector<std::int16_t> written = out.samples();
    ASSERT_GE(written.size(), 2u * 441);
    for (std::size_t i = 0; i < written.size(); ++i) {
        ASSERT_EQ(written[i], i % 2 == 0 ? 500 : -1500) << "sample " << i;
    }
}

TEST(PcmTapLibrary, MonoLevelIsTheSameOnBothSidesAndFullVolumeLeavesSamplesAlone) {
    TapFile out;
    PcmTapLibrary tap(nullptr, out.file);
    ASSERT_TRUE(tap.init(PcmTapLibrary::kTapDevice, 44100));
    const StreamHandle mono = tap.streamCreate(44100, 1, 0, constantFrames(1, -32768, 0));
    ASSERT_TRUE(static_cast<bool>(mono));
    EXPECT_EQ(playUntil(tap, out, mono, 3528), 32768u | (32768u << 16));
    const std::vector<std::int16_t> written = out.samples();
    ASSERT_FALSE(written.empty());
    for (std::int16_t sample : written) {
        ASSERT_EQ(sample, -32768);
    }
}

TEST(PcmTapLibrary, AStreamJustBegunPlaysWhatItHasWithoutAGapAndKeepsTheCardsPace) {
    TapFile out;
    PcmTapLibrary tap(nullptr, out.file);
    ASSERT_TRUE(tap.init(PcmTapLibrary::kTapDevice, 44100));
    // 10 ms decoded when play starts, then as much as the card asks for.
    const SampleCallback full = constantFrames(2, 700, -700);
    std::atomic<int> calls{0};
    const StreamHandle stream = tap.streamCreate(44100, 2, 0, [&](std::span<std::uint8_t> buffer) {
        return full(calls++ == 0 ? buffer.first(std::min<std::size_t>(buffer.size(), 441 * 4)) : buffer);
    });
    ASSERT_TRUE(static_cast<bool>(stream));
    const auto start = std::chrono::steady_clock::now();
    playUntil(tap, out, stream, 44100 * 4 / 2);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::vector<std::int16_t> written = out.samples();
    ASSERT_GE(written.size(), 44100u);
    for (std::size_t i = 0; i < written.size(); ++i) {
        ASSERT_EQ(written[i], i % 2 == 0 ? 700 : -700) << "sample " << i << ": silence where sound was ready";
    }
    // Paced like a card: half a second of sound takes about half a second.
    const double played = static_cast<double>(written.size()) / 2 / 44100;
    EXPECT_GT(seconds, 0.8 * played - 0.06);
    EXPECT_LT(played, seconds + 0.1);
}

}  // namespace
}  // namespace korvanel
