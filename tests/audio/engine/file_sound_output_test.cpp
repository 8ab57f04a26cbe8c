// The engine's file sink as the output channel drives a card: what it
// writes is what the card would play, after the stream's volume; its level
// is the peak of each channel before that volume.
#include "audio/engine/audio_engine.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/audio_file_tools.h"
#include "tests/support/temp_folder.h"

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
std::uint32_t playUntil(const TapFile& out, AudioStream& stream, std::size_t bytes) {
    EXPECT_TRUE(stream.play(true));
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (out.bytes() < bytes && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    const std::uint32_t level = stream.level();
    EXPECT_TRUE(stream.free());
    return level;
}

TEST(FileSoundOutput, WritesSamplesAfterVolumeAndMeasuresEachChannelBeforeIt) {
    TapFile out;
    AudioEngine tap(AudioEngine::Libraries{}, out.file);
    ASSERT_TRUE(tap.init(audio::kFileDevice, 44100));
    AudioStream stereo = streamOrNone(tap.openOutput(44100, 2, 0, constantFrames(2, 1000, -3000)));
    ASSERT_TRUE(static_cast<bool>(stereo));
    ASSERT_TRUE(stereo.setAttributes(audio::kFrequencyUnchanged, 50, audio::kPanUnchanged));
    EXPECT_EQ(playUntil(out, stereo, 8820), 1000u | (3000u << 16));
    const std::vector<std::int16_t> written = out.samples();
    ASSERT_GE(written.size(), 2u * 441);
    for (std::size_t i = 0; i < written.size(); ++i) {
        ASSERT_EQ(written[i], i % 2 == 0 ? 500 : -1500) << "sample " << i;
    }
}

TEST(FileSoundOutput, MonoLevelIsTheSameOnBothSidesAndFullVolumeLeavesSamplesAlone) {
    TapFile out;
    AudioEngine tap(AudioEngine::Libraries{}, out.file);
    ASSERT_TRUE(tap.init(audio::kFileDevice, 44100));
    AudioStream mono = streamOrNone(tap.openOutput(44100, 1, 0, constantFrames(1, -32768, 0)));
    ASSERT_TRUE(static_cast<bool>(mono));
    EXPECT_EQ(playUntil(out, mono, 3528), 32768u | (32768u << 16));
    const std::vector<std::int16_t> written = out.samples();
    ASSERT_FALSE(written.empty());
    for (std::int16_t sample : written) {
        ASSERT_EQ(sample, -32768);
    }
}

TEST(FileSoundOutput, AStreamJustBegunPlaysWhatItHasWithoutAGapAndKeepsTheCardsPace) {
    TapFile out;
    AudioEngine tap(AudioEngine::Libraries{}, out.file);
    ASSERT_TRUE(tap.init(audio::kFileDevice, 44100));
    // 10 ms decoded when play starts, then as much as the card asks for.
    const SampleCallback full = constantFrames(2, 700, -700);
    std::atomic<int> calls{0};
    AudioStream stream = streamOrNone(tap.openOutput(44100, 2, 0, [&](std::span<std::uint8_t> buffer) {
        return full(calls++ == 0 ? buffer.first(std::min<std::size_t>(buffer.size(), 441 * 4)) : buffer);
    }));
    ASSERT_TRUE(static_cast<bool>(stream));
    const auto start = std::chrono::steady_clock::now();
    playUntil(out, stream, 44100 * 4 / 2);
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

// Samples that count up, so any byte lost, doubled or moved shows.
SampleCallback countingFrames() {
    return [next = std::int16_t{0}](std::span<std::uint8_t> buffer) mutable {
        const std::size_t count = buffer.size() / 2;
        for (std::size_t i = 0; i < count; ++i) {
            const std::int16_t value = next;
            next = static_cast<std::int16_t>(next + 7);
            std::memcpy(buffer.data() + i * 2, &value, 2);
        }
        return static_cast<std::uint32_t>(count * 2);
    };
}

TEST(FileSoundOutput, WritesExactlyWhatSdlsDiskDriverReceivesForTheSameStream) {
    test::TempFolder folder;
    const std::string diskPath = folder.file("disk.raw");
    {
        test::ScopedEnv driver("SDL_AUDIODRIVER", "disk");
        test::ScopedEnv file("SDL_DISKAUDIOFILE", diskPath);
        test::ScopedEnv output("KORVANEL_AUDIO", "sdl");
        AudioEngine sdl;
        ASSERT_TRUE(sdl.init(audio::kDefaultDevice, 44100));
        EXPECT_EQ(sdl.outputName(), "SDL: disk");
        AudioStream stream = streamOrNone(sdl.openOutput(44100, 2, 0, countingFrames()));
        ASSERT_TRUE(static_cast<bool>(stream));
        ASSERT_TRUE(stream.setAttributes(audio::kFrequencyUnchanged, 60, audio::kPanUnchanged));
        ASSERT_TRUE(stream.play(true));
        std::this_thread::sleep_for(400ms);
        ASSERT_TRUE(stream.free());
    }
    TapFile out;
    AudioEngine file(AudioEngine::Libraries{}, out.file);
    ASSERT_TRUE(file.init(audio::kFileDevice, 44100));
    AudioStream stream = streamOrNone(file.openOutput(44100, 2, 0, countingFrames()));
    ASSERT_TRUE(static_cast<bool>(stream));
    ASSERT_TRUE(stream.setAttributes(audio::kFrequencyUnchanged, 60, audio::kPanUnchanged));
    playUntil(out, stream, 44100);

    // SDL's card plays silence while paused, before the stream starts.
    const auto sound = [](std::string bytes) {
        std::size_t frame = 0;
        while (frame + 4 <= bytes.size() && bytes.compare(frame, 4, std::string(4, '\0')) == 0) {
            frame += 4;
        }
        return bytes.substr(frame);
    };
    const std::vector<std::int16_t> samples = out.samples();
    const std::string disk = sound(test::readFile(diskPath));
    const std::string written = sound(std::string(reinterpret_cast<const char*>(samples.data()), samples.size() * 2));
    const std::size_t frames = std::min(disk.size(), written.size()) / 4;
    ASSERT_GE(frames, 8192u) << "both cards played a while";
    EXPECT_EQ(disk.substr(0, frames * 4), written.substr(0, frames * 4));
}

}  // namespace
}  // namespace korvanel
