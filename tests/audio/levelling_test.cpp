// The parts of station levelling on their own: the gain's rules, the
// true-peak limiter, the per-station memory file, and the leveller's use of
// that file. The sound itself is checked over the engine, measured by ffmpeg.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <random>
#include <vector>

#include "audio/leveller.h"
#include "audio/levelling_gain.h"
#include "audio/loudness_memory.h"
#include "audio/true_peak_limiter.h"
#include "base/window_event.h"
#include "base/event_sink.h"
#include "settings/default_settings.h"
#include "settings/settings_store.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

// Feeds a steady measurement for `seconds`, in the leveller's 100 ms steps.
void feed(LevellingGain& gain, double seconds, std::optional<double> momentary, std::optional<double> integrated) {
    for (double done = 0.0; done < seconds - 1e-9; done += 0.1) {
        gain.update(0.1, momentary, integrated);
    }
}

TEST(LevellingGainTest, ANewStationTakesItsFirstGainFromThreeSecondsThenMovesOneDbPerTenSeconds) {
    LevellingGain gain(-18.0, std::nullopt);
    EXPECT_FALSE(gain.settled());
    EXPECT_DOUBLE_EQ(gain.gainDb(), 0.0);
    feed(gain, 1.0, -26.0, -26.0);
    EXPECT_NEAR(gain.gainDb(), 8.0, 1e-9) << "the first impression is levelled already";
    EXPECT_FALSE(gain.settled());
    feed(gain, 2.0, -26.0, -26.0);
    EXPECT_TRUE(gain.settled());
    EXPECT_NEAR(gain.gainDb(), 8.0, 1e-9);

    // A much louder song: the gain follows at the slow rate only, both ways.
    feed(gain, 10.0, -10.0, -10.0);
    EXPECT_NEAR(gain.gainDb(), 7.0, 1e-6);
    feed(gain, 20.0, -30.0, -30.0);
    EXPECT_NEAR(gain.gainDb(), 9.0, 1e-6);
}

TEST(LevellingGainTest, SilenceAndSpeechPausesThatR128GatesOutHoldTheGain) {
    LevellingGain gain(-18.0, std::nullopt);
    feed(gain, 4.0, -24.0, -24.0);
    ASSERT_NEAR(gain.gainDb(), 6.0, 1e-9);
    const double heard = gain.heardSeconds();
    feed(gain, 300.0, std::nullopt, -24.0);  // digital silence
    feed(gain, 60.0, -75.0, -24.0);         // below the absolute gate
    feed(gain, 60.0, -36.0, -24.0);         // a pause: more than 10 LU under the station
    EXPECT_DOUBLE_EQ(gain.gainDb(), 6.0);
    EXPECT_DOUBLE_EQ(gain.heardSeconds(), heard);
}

TEST(LevellingGainTest, BoostAndCutStayWithinTwelveAndTwentyDb) {
    LevellingGain quiet(-18.0, std::nullopt);
    feed(quiet, 4.0, -45.0, -45.0);
    EXPECT_DOUBLE_EQ(quiet.gainDb(), LevellingGain::kMaxBoostDb);
    LevellingGain loud(-30.0, std::nullopt);
    feed(loud, 4.0, -5.0, -5.0);
    EXPECT_DOUBLE_EQ(loud.gainDb(), LevellingGain::kMaxCutDb);
    // Remembered loudness is bounded the same way, and a new target moves it.
    LevellingGain remembered(-18.0, -60.0);
    EXPECT_DOUBLE_EQ(remembered.gainDb(), 12.0);
    remembered.retarget(-30.0);
    EXPECT_DOUBLE_EQ(remembered.gainDb(), 0.0);
}

TEST(LevellingGainTest, ARememberedStationStartsAtItsGainAndLearnsTowardWhatItPlaysNow) {
    LevellingGain gain(-18.0, -28.0);
    EXPECT_TRUE(gain.settled());
    EXPECT_DOUBLE_EQ(gain.gainDb(), 10.0);
    EXPECT_DOUBLE_EQ(*gain.learnedLufs(), -28.0);
    // No jump when it sounds louder now: the slow rate from the start.
    feed(gain, 3.0, -20.0, -20.0);
    EXPECT_NEAR(gain.gainDb(), 10.0, 0.05);
    feed(gain, 27.0, -20.0, -20.0);
    EXPECT_NEAR(*gain.learnedLufs(), -24.0, 1e-6) << "half a minute weighs half";
    EXPECT_NEAR(gain.gainDb(), 10.0 - 2.7, 0.05);
    feed(gain, 60.0, -20.0, -20.0);
    EXPECT_NEAR(*gain.learnedLufs(), -20.0, 1e-6);
}

// The true peak of a signal from a 16 times oversampled long sinc, to judge
// the limiter's own shorter estimate.
double referenceTruePeak(const std::vector<float>& samples, int channels) {
    constexpr int kFactor = 16;
    constexpr int kHalf = 32;
    const std::size_t frames = samples.size() / static_cast<std::size_t>(channels);
    double peak = 0.0;
    for (int c = 0; c < channels; ++c) {
        for (std::size_t n = kHalf; n + kHalf < frames; ++n) {
            for (int k = 0; k < kFactor; ++k) {
                const double at = static_cast<double>(n) + static_cast<double>(k) / kFactor;
                double value = 0.0;
                for (int j = -kHalf + 1; j <= kHalf; ++j) {
                    const std::size_t index = n + static_cast<std::size_t>(j + kHalf) - kHalf;
                    const double u = at - static_cast<double>(index);
                    const double sinc = u == 0.0 ? 1.0 : std::sin(std::numbers::pi * u) / (std::numbers::pi * u);
                    const double window = 0.5 * (1.0 + std::cos(std::numbers::pi * u / kHalf));
                    value += samples[index * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] *
                             sinc * window;
                }
                peak = std::max(peak, std::abs(value));
            }
        }
    }
    return peak;
}

TEST(TruePeakLimiterTest, SignalsBelowTheCeilingPassUnchangedOnlyDelayed) {
    TruePeakLimiter limiter;
    limiter.configure(44100, 2, 0.85f);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> level(-0.25f, 0.25f);
    std::vector<float> input(2 * 5000);
    for (float& sample : input) {
        sample = level(random);
    }
    std::vector<float> output = input;
    // In uneven blocks, as sound cards ask.
    for (std::size_t done = 0, block = 1; done < 5000; done += block, block = block * 3 % 997 + 1) {
        block = std::min(block, 5000 - done);
        limiter.process(output.data() + done * 2, block);
    }
    const std::size_t delay = limiter.delayFrames();
    for (std::size_t i = 0; i < delay * 2; ++i) {
        ASSERT_EQ(output[i], 0.0f);
    }
    for (std::size_t i = delay * 2; i < output.size(); ++i) {
        ASSERT_EQ(output[i], input[i - delay * 2]) << i;
    }
    EXPECT_EQ(limiter.gain(), 1.0f);
}

TEST(TruePeakLimiterTest, PeaksBetweenSamplesAreHeldUnderTheCeilingAndTheGainComesBack) {
    constexpr int kRate = 44100;
    const float ceiling = static_cast<float>(std::pow(10.0, -1.3 / 20.0));
    TruePeakLimiter limiter;
    limiter.configure(kRate, 2, ceiling);
    // A quarter-rate tone sampled 45 degrees off its crests: samples at
    // 0.707 of a true peak of 1.6, far over the ceiling between them; then
    // quiet noise, which must come through untouched once the gain is back.
    std::vector<float> input;
    for (int n = 0; n < kRate / 2; ++n) {
        const float tone = 1.6f * static_cast<float>(std::sin(std::numbers::pi / 2 * n + std::numbers::pi / 4));
        const bool burst = n > 2000 && n < 4000;
        input.push_back(burst ? tone : 0.1f * tone);
        input.push_back(burst ? -tone : 0.05f * tone);
    }
    std::vector<float> output = input;
    limiter.process(output.data(), output.size() / 2);
    // The leveller leaves 0.6 dB below -1 dBTP for what the short estimate misses.
    EXPECT_LE(referenceTruePeak(output, 2), ceiling * 1.035) << "an estimate within 0.3 dB of a long sinc's";
    EXPECT_GT(referenceTruePeak(output, 2), ceiling * 0.9) << "peaks are held down, not squashed";
    const std::size_t delay = limiter.delayFrames();
    const std::size_t back = 2 * static_cast<std::size_t>(kRate * 3 / 8);
    EXPECT_NEAR(output[back], input[back - 2 * delay], 1e-3) << "a limiter, not a compressor";
    EXPECT_NEAR(limiter.gain(), 1.0f, 1e-3);
}

// Hits over and under the ceiling on a quiet bed, with time between them to
// release and to fall idle.
std::vector<float> hitsOnABed() {
    constexpr std::array<double, 8> kHits = {1.4, 0.6, 0.0, 0.0, 0.0, 0.0, 1.4, 0.0};  // per quarter second
    std::vector<float> left(44100 * 2);
    for (std::size_t n = 0; n < left.size(); ++n) {
        const double t = static_cast<double>(n) / 44100.0;
        const double hit = kHits[n / 11025] * std::exp(-150.0 * std::fmod(t, 0.25));
        left[n] = static_cast<float>(0.05 * std::sin(2 * std::numbers::pi * 220 * t) +
                                     hit * std::sin(2 * std::numbers::pi * 2500 * t));
    }
    return left;
}

std::vector<float> limited(std::vector<float> samples, int channels, std::size_t block) {
    TruePeakLimiter limiter;
    limiter.configure(44100, channels, 0.8f);
    const std::size_t frames = samples.size() / static_cast<std::size_t>(channels);
    for (std::size_t done = 0; done < frames; done += block) {
        limiter.process(samples.data() + done * static_cast<std::size_t>(channels), std::min(block, frames - done));
    }
    return samples;
}

TEST(TruePeakLimiterTest, EveryWayThroughGivesTheSameSamples) {
    // Stereo and mono take shortcuts (plain delay, release only) that any
    // other channel count does not; blocks of any size cut the signal into
    // different chunks. None of that may change a single sample.
    const std::vector<float> left = hitsOnABed();
    std::vector<float> stereo;
    std::vector<float> withSilentThird;
    for (const float sample : left) {
        stereo.insert(stereo.end(), {sample, -0.5f * sample});
        withSilentThird.insert(withSilentThird.end(), {sample, -0.5f * sample, 0.0f});
    }
    const std::vector<float> reference = limited(withSilentThird, 3, 4096);
    ASSERT_LT(*std::min_element(reference.begin(), reference.end()), -0.5f) << "the hits get through";
    for (const std::size_t block : {std::size_t{1}, std::size_t{7}, std::size_t{64}, std::size_t{1000}, left.size()}) {
        SCOPED_TRACE(block);
        const std::vector<float> ours = limited(stereo, 2, block);
        for (std::size_t f = 0; f < left.size(); ++f) {
            ASSERT_EQ(ours[f * 2], reference[f * 3]) << f;
            ASSERT_EQ(ours[f * 2 + 1], reference[f * 3 + 1]) << f;
        }
        std::vector<float> monoWithSilence;
        for (const float sample : left) {
            monoWithSilence.insert(monoWithSilence.end(), {sample, 0.0f, 0.0f});
        }
        const std::vector<float> monoReference = limited(monoWithSilence, 3, block);
        const std::vector<float> mono = limited(left, 1, block);
        for (std::size_t f = 0; f < left.size(); ++f) {
            ASSERT_EQ(mono[f], monoReference[f * 3]) << f;
        }
    }
}

TEST(TruePeakLimiterTest, TheLookAheadStaysUnderTenMillisecondsAtEveryRate) {
    for (const int rate : {8000, 22050, 44100, 48000, 96000, 192000}) {
        TruePeakLimiter limiter;
        limiter.configure(rate, 1, 0.8f);
        EXPECT_LT(static_cast<double>(limiter.delayFrames()) / rate, 0.010) << rate;
        EXPECT_GT(limiter.delayFrames(), 1u) << rate;
    }
}

class LoudnessMemoryTest : public ::testing::Test {
protected:
    std::string path() const { return folder_.file(LoudnessMemory::kFileName); }
    test::TempFolder folder_;
};

TEST_F(LoudnessMemoryTest, TenThousandStationsKeepTheMostRecentTwoThousandAcrossASave) {
    LoudnessMemory memory(path());
    EXPECT_EQ(memory.load(), LoudnessMemory::LoadResult::Missing);
    for (int i = 0; i < 10000; ++i) {
        memory.remember("http://station" + std::to_string(i) + ".example/stream", -10.0 - (i % 50) * 0.5);
    }
    memory.remember("http://station10.example/stream", -31.25);  // long forgotten: comes back as the newest
    memory.remember("http://station9000.example/stream", -22.5);  // kept: moves to the front
    EXPECT_EQ(memory.size(), LoudnessMemory::kMaxStations);
    ASSERT_TRUE(memory.save());
    EXPECT_LT(std::filesystem::file_size(path()), 100u * 1024) << "small, and well under 1 MB";

    LoudnessMemory read(path());
    ASSERT_EQ(read.load(), LoudnessMemory::LoadResult::Loaded);
    EXPECT_EQ(read.size(), LoudnessMemory::kMaxStations);
    EXPECT_DOUBLE_EQ(*read.find("http://station10.example/stream"), -31.25);
    EXPECT_DOUBLE_EQ(*read.find("http://station9000.example/stream"), -22.5);
    EXPECT_DOUBLE_EQ(*read.find("http://station9999.example/stream"), -10.0 - 49 * 0.5);
    EXPECT_FALSE(read.find("http://station8000.example/stream"));  // pushed out by the one come back
    EXPECT_TRUE(read.find("http://station8001.example/stream"));
    EXPECT_FALSE(read.find("http://station0.example/stream"));
}

TEST_F(LoudnessMemoryTest, AFileWithAnythingMalformedIsIgnoredAsAWhole) {
    const std::string header = std::string(LoudnessMemory::kHeader) + "\n";
    std::string tooMany = header;
    for (int i = 0; i <= 2000; ++i) {
        tooMany += "-20.00\thttp://s" + std::to_string(i) + "/\n";
    }
    const std::vector<std::string> junk = {
        std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16),
        header + "-20.00\thttp://a/\n-19.x\thttp://b/\n",
        header + "-20.00\thttp://a/",                    // cut off in its last line
        header + "-20.00 http://a/\n",                  // no tab
        header + "-20.00\thttp://a/\n-21.00\thttp://a/\n",  // twice
        header + "12.00\thttp://a/\n",                   // louder than full scale
        header + "nan\thttp://a/\n",
        header + "-20.00\t\n",
        header + "-20.00\thttp://a/\x01\n",
        "korvanel-loudness 2\n-20.00\thttp://a/\n",
        tooMany,
        header + "-20.00\thttp://" + std::string(LoudnessMemory::kMaxFileBytes, 'a') + "/\n",
    };
    for (const std::string& bytes : junk) {
        test::writeFile(path(), bytes);
        LoudnessMemory memory(path());
        memory.remember("http://kept/", -20.0);
        EXPECT_EQ(memory.load(), LoudnessMemory::LoadResult::Corrupt) << bytes.substr(0, 80);
        EXPECT_EQ(memory.size(), 0u);
    }
    test::writeFile(path(), header + "-20.00\thttp://a/\n-30.50\thttp://b/\n");
    LoudnessMemory memory(path());
    ASSERT_EQ(memory.load(), LoudnessMemory::LoadResult::Loaded);
    EXPECT_DOUBLE_EQ(*memory.find("http://b/"), -30.5);
}

TEST_F(LoudnessMemoryTest, KeysAndLoudnessThatCannotBeStoredAreRefused) {
    LoudnessMemory memory(path());
    for (const std::string& key : {std::string(), std::string("http://a/\nforged"), std::string("a\tb"),
                                   std::string(LoudnessMemory::kMaxKeyBytes + 1, 'k')}) {
        memory.remember(key, -20.0);
    }
    memory.remember("http://fine/", std::nan(""));
    memory.remember("http://fine/", -90.0);
    EXPECT_EQ(memory.size(), 0u);
    memory.remember(std::string(LoudnessMemory::kMaxKeyBytes, 'k'), -20.0);
    EXPECT_EQ(memory.size(), 1u);
}

// Collects posted events.
class EventLog final : public EventSink {
public:
    void post(WindowEvent event) override { events.push_back(std::move(event)); }
    std::vector<WindowEvent> events;
};

// A 1 kHz tone at `amplitude` of full scale, as the decoder delivers it.
std::vector<std::uint8_t> tone(int rate, int channels, double seconds, double amplitude) {
    const auto frames = static_cast<std::size_t>(rate * seconds);
    std::vector<std::uint8_t> bytes(frames * static_cast<std::size_t>(channels) * 2);
    for (std::size_t f = 0; f < frames; ++f) {
        const auto value = static_cast<std::int16_t>(
            std::lround(amplitude * 32767.0 * std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(f) / rate)));
        for (int c = 0; c < channels; ++c) {
            std::memcpy(bytes.data() + (f * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)) * 2,
                        &value, 2);
        }
    }
    return bytes;
}

class LevellerTest : public ::testing::Test {
protected:
    void SetUp() override {
        registerDefaultSettings(settings_);
        settings_.setBool(Leveller::kLevellingKey, true);
    }

    std::unique_ptr<Leveller> make() {
        auto leveller = std::make_unique<Leveller>(settings_, home_.file(LoudnessMemory::kFileName), events_);
        if (!leveller->available()) {
            ADD_FAILURE() << "libebur128 is needed (scripts/install-deps.sh)";
        }
        return leveller;
    }

    // Through the leveller in sound-card-sized pulls.
    static void play(Leveller& leveller, std::vector<std::uint8_t>& bytes, int channels) {
        constexpr std::size_t kPull = 4410 * 4;
        for (std::size_t done = 0; done < bytes.size(); done += kPull) {
            const std::size_t size = std::min(kPull, bytes.size() - done);
            leveller.process(std::span(bytes.data() + done, size), channels);
        }
    }

    test::TempFolder home_;
    SettingsStore settings_;
    EventLog events_;
};

TEST_F(LevellerTest, AStationPlayedAgainStartsAtItsLearnedGainAndAJunkFileIsReportedOnce) {
    test::writeFile(home_.file(LoudnessMemory::kFileName), "not a loudness file\n\x01\x02");
    {
        auto leveller = make();
        leveller->setStation("http://quiet/");
        leveller->start(44100, 2);
        std::vector<std::uint8_t> music = tone(44100, 2, 5.0, 0.05);
        play(*leveller, music, 2);
        leveller->start(44100, 2);  // a reconnect: the file is read once
        leveller->stop();
    }
    ASSERT_EQ(events_.events.size(), 1u);
    EXPECT_EQ(events_.events[0].kind, EventKind::LoudnessMemoryIgnored);
    EXPECT_EQ(events_.events[0].text, home_.file(LoudnessMemory::kFileName));

    LoudnessMemory written(home_.file(LoudnessMemory::kFileName));
    ASSERT_EQ(written.load(), LoudnessMemory::LoadResult::Loaded);
    ASSERT_TRUE(written.find("http://quiet/"));

    auto again = make();
    again->setStation("http://quiet/");
    again->start(44100, 2);
    std::vector<std::uint8_t> first = tone(44100, 2, 0.1, 0.05);
    play(*again, first, 2);
    ASSERT_TRUE(again->gainDb());
    EXPECT_NEAR(*again->gainDb(), -18.0 - *written.find("http://quiet/"), 0.05);
    EXPECT_GT(*again->gainDb(), 6.0);
    EXPECT_EQ(events_.events.size(), 1u);
}

TEST(LevellerGainTextTest, OneDecimalWithASignAndAPoint) {
    EXPECT_EQ(Leveller::gainText(-4.54), "-4.5");
    EXPECT_EQ(Leveller::gainText(3.0), "+3.0");
    EXPECT_EQ(Leveller::gainText(-0.04), "0.0");
}

}  // namespace
}  // namespace korvanel
