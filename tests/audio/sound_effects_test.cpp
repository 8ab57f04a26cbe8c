#include "audio/sound_effects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "settings/default_settings.h"
#include "settings/settings_store.h"
#include "tests/support/output_test_doubles.h"

namespace korvanel {
namespace {

using test::bytesToSamples;
using test::samplesToBytes;

// sin(0.4 pi) of full scale, truncated: the loudest sample the compressor gives.
const int kLimit = static_cast<int>(std::sin(1.2566370614359172) * 32768.0);

class SoundEffectsTest : public ::testing::Test {
protected:
    SoundEffectsTest() { registerDefaultSettings(settings_); }

    SoundEffects& effects() {
        if (!effects_) {
            effects_ = std::make_unique<SoundEffects>(settings_, [this] { return now_; });
        }
        return *effects_;
    }

    std::vector<std::int16_t> run(std::vector<std::int16_t> samples, int channels = 2) {
        std::vector<std::uint8_t> bytes = samplesToBytes(samples);
        EXPECT_EQ(effects().process(bytes, channels), bytes.size());
        return bytesToSamples(bytes);
    }

    SettingsStore settings_;
    std::int64_t now_ = 100000;
    std::unique_ptr<SoundEffects> effects_;
};

TEST_F(SoundEffectsTest, SettingsAreReadAtStartAndWrittenBackAtTheEnd) {
    settings_.setBool("Sound/Compressor", true);
    settings_.setBool("Sound/SwapChannels", true);
    settings_.setInt("Sound/StereoSeparation", 2);
    EXPECT_TRUE(effects().compressorOn());
    EXPECT_TRUE(effects().swapChannels());
    EXPECT_DOUBLE_EQ(effects().separation(), 0.5);

    effects().setSeparation(0.25);
    effects().setSwapChannels(false);
    effects_.reset();
    EXPECT_EQ(settings_.getInt("Sound/StereoSeparation"), 3);
    EXPECT_FALSE(settings_.getBool("Sound/SwapChannels"));
    EXPECT_TRUE(settings_.getBool("Sound/Compressor"));
}

TEST_F(SoundEffectsTest, SeparationStepsMapBothWaysAndUnknownStepsChangeNothing) {
    const double factors[] = {1.0, 0.75, 0.5, 0.25, 0.0};
    for (int step = 0; step <= 4; ++step) {
        settings_.setInt("Sound/StereoSeparation", step);
        effects().applySettings(settings_);
        EXPECT_DOUBLE_EQ(effects().separation(), factors[step]);
        effects().collectSettings(settings_);
        EXPECT_EQ(settings_.getInt("Sound/StereoSeparation"), step);
    }
    effects().setSeparation(0.6);
    settings_.setInt("Sound/StereoSeparation", 7);
    effects().applySettings(settings_);
    EXPECT_DOUBLE_EQ(effects().separation(), 0.6);
    effects().collectSettings(settings_);
    EXPECT_EQ(settings_.getInt("Sound/StereoSeparation"), 2);  // 0.5 <= s < 0.75
    effects().setSeparation(0.1);
    effects().collectSettings(settings_);
    EXPECT_EQ(settings_.getInt("Sound/StereoSeparation"), 4);
}

TEST_F(SoundEffectsTest, SeparationMixesTheRightSideFromTheMixedLeft) {
    settings_.setInt("Sound/StereoSeparation", 2);
    EXPECT_EQ(run({1000, 0, -8000, 0}), (std::vector<std::int16_t>{500, 250, -4000, -2000}));
    // L' = L/2 + R/2, R' = L'/2 + R/2 = L/4 + 3R/4.
    EXPECT_EQ(run({0, 1000}), (std::vector<std::int16_t>{500, 750}));
    effects().setSeparation(0.0);
    EXPECT_EQ(run({1234, -321}), (std::vector<std::int16_t>{-321, -321}));
    effects().setSeparation(1.0);
    EXPECT_EQ(run({32767, -32768}), (std::vector<std::int16_t>{32767, -32768}));
}

TEST_F(SoundEffectsTest, SwapComesBeforeSeparation) {
    effects().setSwapChannels(true);
    EXPECT_EQ(run({1, 2, -3, 4}), (std::vector<std::int16_t>{2, 1, 4, -3}));
    effects().setSeparation(0.5);
    EXPECT_EQ(run({1000, 0}), (std::vector<std::int16_t>{500, 750}));
}

TEST_F(SoundEffectsTest, SwapAndSeparationLeaveOtherThanTwoChannelsAlone) {
    effects().setSwapChannels(true);
    effects().setSeparation(0.0);
    EXPECT_EQ(run({1, 2, 3}, 1), (std::vector<std::int16_t>{1, 2, 3}));
    EXPECT_EQ(run({1, 2, 3, 4, 5, 6}, 6), (std::vector<std::int16_t>{1, 2, 3, 4, 5, 6}));
}

TEST_F(SoundEffectsTest, OddByteCountsKeepWholeSamplesAndLeaveTheLastByte) {
    effects().setSwapChannels(true);
    // Three bytes: one sample; no pair to swap.
    std::vector<std::uint8_t> bytes = {0x10, 0x20, 0x7F};
    EXPECT_EQ(effects().process(bytes, 2), 2u);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x10, 0x20, 0x7F}));
    // Eleven bytes at an odd address: two pairs swapped, the last byte untouched.
    std::vector<std::uint8_t> block(12);
    const std::vector<std::uint8_t> pairs = samplesToBytes({1, 2, 3, 4, 5});
    std::copy(pairs.begin(), pairs.end(), block.begin() + 1);
    block[11] = 0xAB;
    EXPECT_EQ(effects().process(std::span(block.data() + 1, 11), 2), 10u);
    EXPECT_EQ(bytesToSamples(std::span(block.data() + 1, 10)),
              (std::vector<std::int16_t>{2, 1, 4, 3, 5}));
    EXPECT_EQ(block[11], 0xAB);
    EXPECT_EQ(effects().process({}, 2), 0u);
}

TEST_F(SoundEffectsTest, CompressorKeepsAFullScaleSquareWaveUnderTheSineLimit) {
    effects().setCompressor(true);
    std::vector<std::int16_t> square(4096);
    for (std::size_t i = 0; i < square.size(); ++i) {
        square[i] = (i / 64) % 2 == 0 ? 32767 : -32768;
    }
    int loudest = 0;
    for (int block = 0; block < 200; ++block) {
        now_ += 23;  // real time passes, so the gain keeps trying to grow
        for (const std::int16_t sample : run(square)) {
            loudest = std::max(loudest, std::abs(static_cast<int>(sample)));
        }
    }
    EXPECT_LE(loudest, kLimit);
    EXPECT_LE(loudest / 32768.0, 0.9511);
    EXPECT_GT(loudest, 31000);  // limited, not silenced
}

TEST_F(SoundEffectsTest, CompressorRaisesQuietPassagesSlowlyAndCutsAfterTenClips) {
    effects().setCompressor(true);
    // Gain 1 right after switching on: a sample maps to sin(0.4 pi x).
    const std::vector<std::int16_t> quiet(2, 1000);
    const auto first = run(quiet);
    EXPECT_EQ(first[0], static_cast<std::int16_t>(std::sin(1.0000200 * 1000 / 32768.0 *
                                                            1.2566370614359172) *
                                                   32768.0));
    // Each sample grows the gain by 0.00002 while no cut was made for 50 ms.
    const auto later = run(std::vector<std::int16_t>(20000, 1000));
    EXPECT_GT(later.back(), later.front());

    // A loud block right after that: more than ten clipped samples cut the
    // gain, so that the eleventh clipping sample lands at the limit...
    const auto loud = run(std::vector<std::int16_t>(40, 30000));
    EXPECT_EQ(loud[10], kLimit);
    // ...and within 50 ms of the cut the gain does not grow again.
    now_ += 10;
    const auto held = run(std::vector<std::int16_t>(4, 3000));
    EXPECT_EQ(held[0], held[3]);
    // The gain is back near 1/x = 32768/30000 from the 1.4 it had grown to.
    EXPECT_NEAR(held[0], std::sin(0.1 * 1.2566370614359172) * 32768.0, 3.0);
    now_ += 100;
    const auto grown = run(std::vector<std::int16_t>(2000, 3000));
    EXPECT_LT(grown.front(), grown.back());
}

TEST_F(SoundEffectsTest, CompressorOnFromTheSettingsFadesInFromSilence) {
    settings_.setBool("Sound/Compressor", true);
    const auto start = run(std::vector<std::int16_t>(4, 20000));
    EXPECT_EQ(start[0], 0);  // gain 0.00002 at the first sample
    EXPECT_LT(start[3], 10);
}

}  // namespace
}  // namespace korvanel
