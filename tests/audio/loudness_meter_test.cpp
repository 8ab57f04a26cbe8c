// The meter measures at half the rate from 32 kHz up: what it reports must
// still be what an independent full-rate R128 meter (ffmpeg's) reports.
#include "audio/loudness_meter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/audio_file_tools.h"
#include "tests/support/loudness_pieces.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using test::Loudness;
using test::TempFolder;

std::vector<float> floatsOf(const std::string& pcm) {
    std::vector<float> samples(pcm.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        std::int16_t sample;
        std::memcpy(&sample, pcm.data() + i * 2, sizeof sample);
        samples[i] = static_cast<float>(sample) / 32768.0f;
    }
    return samples;
}

// Signed 16-bit samples of an ffmpeg source ("anoisesrc=...", "aevalsrc=...").
std::string rendered(const std::string& source, int rate, int channels) {
    TempFolder folder;
    const std::string raw = folder.file("signal.raw");
    const test::ToolResult made =
        test::runTool({"ffmpeg", "-hide_banner", "-nostats", "-y", "-f", "lavfi", "-i", source, "-ar",
                       std::to_string(rate), "-ac", std::to_string(channels), "-f", "s16le", raw},
                      120);
    EXPECT_EQ(made.exitCode, 0) << made.output;
    return test::readFile(raw);
}

std::optional<double> metered(const LoudnessLibrary& library, const std::vector<float>& samples, int rate,
                              int channels, std::size_t blockFrames) {
    std::optional<LoudnessMeter> meter = LoudnessMeter::create(library, rate, channels);
    if (!meter) {
        return std::nullopt;
    }
    const std::size_t frames = samples.size() / static_cast<std::size_t>(channels);
    for (std::size_t at = 0; at < frames; at += blockFrames) {
        meter->add(samples.data() + at * static_cast<std::size_t>(channels), std::min(blockFrames, frames - at));
    }
    return meter->integrated();
}

class LoudnessMeterTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!library_) {
            GTEST_SKIP() << "libebur128 is missing";
        }
        if (!test::haveTool("ffmpeg")) {
            GTEST_SKIP() << "ffmpeg is missing";
        }
    }

    // The meter against ffmpeg's full-rate measurement of the same samples.
    void expectAsFfmpegMeasures(const std::string& source, int rate, int channels, double tolerance) {
        SCOPED_TRACE(source + " at " + std::to_string(rate) + " Hz");
        const std::string pcm = rendered(source, rate, channels);
        ASSERT_FALSE(pcm.empty());
        const std::optional<Loudness> reference = test::measureLoudness(pcm, rate, channels);
        ASSERT_TRUE(reference.has_value());
        const std::optional<double> ours = metered(*library_, floatsOf(pcm), rate, channels, 1024);
        ASSERT_TRUE(ours.has_value());
        EXPECT_NEAR(*ours, reference->integratedLufs, tolerance);
    }

    const std::optional<LoudnessLibrary> library_ = LoudnessLibrary::open();
};

TEST_F(LoudnessMeterTest, HalvedRatesMeasureWhatAFullRateMeterMeasures) {
    // White noise has most of its power in the top octave, which a halved
    // rate folds down: the hardest case for measuring at half the rate.
    expectAsFfmpegMeasures("anoisesrc=color=white:amplitude=0.2:seed=7:d=12", 44100, 2, 0.15);
    expectAsFfmpegMeasures("anoisesrc=color=pink:amplitude=0.3:seed=3:d=12", 48000, 2, 0.15);
    expectAsFfmpegMeasures("anoisesrc=color=brown:amplitude=0.5:seed=5:d=12", 96000, 1, 0.15);
    // Music-like: a chord with hits well above 10 kHz, and speech-like pauses.
    expectAsFfmpegMeasures(
        "aevalsrc='0.1*sin(2*PI*220*t)+0.05*sin(2*PI*12000*t)*exp(-30*mod(t,0.5))"
        "+0.03*sin(2*PI*17000*t)*between(mod(t,2),0,1)':s=44100:d=12",
        44100, 1, 0.15);
}

TEST_F(LoudnessMeterTest, LowRatesAreMeasuredAtTheirOwnRate) {
    const std::optional<LoudnessMeter> narrow = LoudnessMeter::create(*library_, 8000, 1);
    ASSERT_TRUE(narrow.has_value());
    EXPECT_EQ(narrow->measuredRate(), 8000);
    const std::optional<LoudnessMeter> below = LoudnessMeter::create(*library_, 22050, 2);
    ASSERT_TRUE(below.has_value());
    EXPECT_EQ(below->measuredRate(), 22050);
    const std::optional<LoudnessMeter> cd = LoudnessMeter::create(*library_, 44100, 2);
    ASSERT_TRUE(cd.has_value());
    EXPECT_EQ(cd->measuredRate(), 22050);
    expectAsFfmpegMeasures("anoisesrc=color=pink:amplitude=0.3:seed=11:d=12", 8000, 1, 0.15);
}

TEST_F(LoudnessMeterTest, BlocksOfAnyLengthKeepEveryOtherFrameOfTheWhole) {
    const std::string pcm = rendered("anoisesrc=color=white:amplitude=0.2:seed=9:d=6", 44100, 2);
    ASSERT_FALSE(pcm.empty());
    const std::vector<float> samples = floatsOf(pcm);
    const std::optional<double> whole = metered(*library_, samples, 44100, 2, samples.size());
    ASSERT_TRUE(whole.has_value());
    // Odd lengths cross the kept frames' phase at every block.
    for (const std::size_t block : {std::size_t{1}, std::size_t{7}, std::size_t{511}, std::size_t{1023}}) {
        SCOPED_TRACE(block);
        const std::optional<double> pieces = metered(*library_, samples, 44100, 2, block);
        ASSERT_TRUE(pieces.has_value());
        EXPECT_DOUBLE_EQ(*pieces, *whole);
    }
}

}  // namespace
}  // namespace korvanel
