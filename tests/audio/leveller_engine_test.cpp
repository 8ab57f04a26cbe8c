// Station levelling over the real engine: test music at known loudness
// served over HTTP, decoded as fast as the disk "sound card" takes it, and
// what reached the card measured by ffmpeg's ebur128 filter.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "audio/engine/audio_engine.h"
#include "audio/leveller.h"
#include "audio/loudness_memory.h"
#include "audio/output_channel.h"
#include "audio/channel_notice.h"
#include "audio/sound_effects.h"
#include "base/event_sink.h"
#include "settings/default_settings.h"
#include "settings/settings_store.h"
#include "tests/support/http_test_server.h"
#include "tests/support/loudness_pieces.h"
#include "tests/support/output_test_doubles.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::HttpTestServer;
using test::ChannelNoticeLog;

class NoEvents final : public EventSink {
public:
    void post(WindowEvent) override {}
};

class LevellerEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        registerDefaultSettings(settings_);
        settings_.setBool(Leveller::kLevellingKey, true);
        effects_ = std::make_unique<SoundEffects>(settings_);
        leveller_ = std::make_unique<Leveller>(settings_, folder_.file(LoudnessMemory::kFileName), events_);
        ASSERT_TRUE(leveller_->available()) << "libebur128 is needed (scripts/install-deps.sh)";
    }

    // The piece's bytes, made once per test in the folder.
    std::string piece(const std::string& name, double lufs, const test::PieceShape& shape,
                      const std::string& codec = "libmp3lame") {
        const std::string path = folder_.file(name);
        if (!test::makeLoudnessPiece(path, lufs, shape, codec)) {
            ADD_FAILURE() << "ffmpeg could not make " << name;
            return {};
        }
        return test::readFile(path);
    }

    // Plays the bytes as one station from start to end; what the card got.
    // Without a leveller the channel runs as it did before levelling existed.
    std::string play(const std::string& bytes, const std::string& station, Leveller* leveller) {
        HttpTestServer server(HttpTestServer::reply("HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n" + bytes));
        const std::string card = folder_.file("card.raw");
        std::filesystem::remove(card);
        test::ScopedEnv file("SDL_DISKAUDIOFILE", card);
        ChannelNoticeLog jobs;
        OutputChannel channel(std::make_unique<AudioEngine>());
        if (!channel.init()) {
            ADD_FAILURE() << "no engine";
            return {};
        }
        channel.setSoundEffects(effects_.get());
        channel.setNotices(&jobs);
        if (leveller != nullptr) {
            channel.setLeveller(leveller);
            leveller->setStation(station);
        }
        if (const ChannelResult opened = channel.open(server.url("/" + station)); !opened) {
            ADD_FAILURE() << opened.error().text();
            return {};
        }
        const auto end = std::chrono::steady_clock::now() + 30s;
        while (jobs.count(ChannelNotice::StreamEnded) == 0 && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_EQ(jobs.count(ChannelNotice::StreamEnded), 1) << "the stream did not end";
        channel.close();
        channel.shutdown();
        return fromFirstSound(test::readFile(card), channels_);
    }

    static bool silentAt(const std::string& pcm, std::size_t at, std::size_t frameBytes) {
        return std::all_of(pcm.begin() + static_cast<std::ptrdiff_t>(at),
                           pcm.begin() + static_cast<std::ptrdiff_t>(at + frameBytes),
                           [](char byte) { return byte == 0; });
    }

    // The disk card starts before the decoder has much, and plays silence
    // until it does (long in slow sanitizer builds): the stream starts after.
    static std::string fromFirstSound(const std::string& pcm, int channels) {
        const std::size_t frameBytes = static_cast<std::size_t>(channels) * 2;
        std::size_t at = 0;
        while (at + frameBytes <= pcm.size() && silentAt(pcm, at, frameBytes)) {
            at += frameBytes;
        }
        return pcm.substr(at);
    }

    // It also pads with silence wherever the decoder falls behind it: for a
    // comparison of two runs, only the frames with sound count.
    static std::string soundOnly(const std::string& pcm, int channels) {
        const std::size_t frameBytes = static_cast<std::size_t>(channels) * 2;
        std::string sound;
        for (std::size_t at = 0; at + frameBytes <= pcm.size(); at += frameBytes) {
            if (!silentAt(pcm, at, frameBytes)) {
                sound.append(pcm, at, frameBytes);
            }
        }
        return sound;
    }

    test::Loudness measure(const std::string& pcm, double from, double to = -1.0, int rate = 44100, int channels = 2) {
        const std::optional<test::Loudness> measured = test::measureLoudness(pcm, rate, channels, from, to);
        if (!measured) {
            ADD_FAILURE() << "ffmpeg could not measure " << pcm.size() << " bytes";
            return {};
        }
        return *measured;
    }

    test::TempFolder folder_;
    test::ScopedEnv driver_{"SDL_AUDIODRIVER", "disk"};
    test::ScopedEnv delay_{"SDL_DISKAUDIODELAY", "0"};
    SettingsStore settings_;
    NoEvents events_;
    std::unique_ptr<SoundEffects> effects_;
    std::unique_ptr<Leveller> leveller_;
    int channels_ = 2;  // of the piece played next
};

TEST_F(LevellerEngineTest, QuietTargetAndLoudStationsAllPlayAtTheTargetWithoutPeaksOverMinusOneDbtp) {
    test::PieceShape shape;
    shape.seconds = 16.0;
    // -32 needs 14 dB, more than the boost allows: it ends 2 dB short.
    for (const auto& [lufs, expected] : {std::pair{-28.0, -18.0}, std::pair{-18.0, -18.0}, std::pair{-8.0, -18.0},
                                         std::pair{-32.0, -20.0}}) {
        SCOPED_TRACE("station at " + std::to_string(lufs) + " LUFS");
        const std::string bytes = piece("station.mp3", lufs, shape);
        const std::string pcm = play(bytes, "station" + std::to_string(static_cast<int>(lufs)), leveller_.get());
        const test::Loudness input = *test::measureFileLoudness(folder_.file("station.mp3"));
        EXPECT_NEAR(input.integratedLufs, lufs, 1.0) << "the piece itself";
        EXPECT_NEAR(measure(pcm, 10.0).integratedLufs, expected, 1.5);
        EXPECT_NEAR(measure(pcm, 3.5).integratedLufs, expected, 1.5) << "levelled from its first seconds";
        EXPECT_LE(measure(pcm, 0.0).truePeakDbtp, -1.0);
    }

    // Peaks 18 dB over a quiet station's loudness: boosted, they would clip.
    shape.hitDecay = 150.0;
    const std::string pcm = play(piece("peaky.mp3", -28.0, shape), "peaky", leveller_.get());
    const test::Loudness peaky = measure(pcm, 3.5);
    EXPECT_LE(peaky.truePeakDbtp, -1.0);
    EXPECT_GT(peaky.truePeakDbtp, -2.5) << "the peaks are held, not the station turned down";
    EXPECT_NEAR(peaky.integratedLufs, -18.0, 2.5) << "the limiter takes a little of the hits' loudness";
}

TEST_F(LevellerEngineTest, AQuietStationPlayedAgainStartsLevelledFromItsFirstSecond) {
    test::PieceShape shape;
    shape.seconds = 8.0;
    const std::string bytes = piece("quiet.mp3", -28.0, shape);
    const std::string first = play(bytes, "quiet", leveller_.get());
    const std::string again = play(bytes, "quiet", leveller_.get());
    // Its first 400 ms of sound: unheard before, the station still plays as it is.
    EXPECT_LT(measure(first, 0.0, 0.45).integratedLufs, -22.0);
    EXPECT_NEAR(measure(again, 0.0, 0.45).integratedLufs, -18.0, 2.0);
    EXPECT_NEAR(measure(again, 0.0, 1.0).integratedLufs, -18.0, 2.0);
    EXPECT_TRUE(std::filesystem::exists(folder_.file(LoudnessMemory::kFileName)));
}

TEST_F(LevellerEngineTest, AQuietPassageBetweenLoudPartsStaysQuiet) {
    test::PieceShape shape;
    shape.seconds = 40.0;
    shape.quietDb = 15.0;
    shape.quietFrom = 10.0;
    shape.quietTo = 30.0;
    const std::string pcm = play(piece("dynamic.mp3", -14.0, shape), "dynamic", leveller_.get());
    const double before = measure(pcm, 4.0, 10.0).integratedLufs;
    const double quiet = measure(pcm, 12.0, 30.0).integratedLufs;
    const double after = measure(pcm, 31.0, 40.0).integratedLufs;
    EXPECT_GE(before - quiet, 8.0);
    EXPECT_GE(after - quiet, 8.0);
    EXPECT_NEAR(after, before, 1.5) << "nor does the gain drift while it is quiet";
}

TEST_F(LevellerEngineTest, SwitchedOffTheCardGetsTheSameBytesAsWithoutLevelling) {
    test::PieceShape shape;
    shape.seconds = 5.0;
    const std::string bytes = piece("plain.mp3", -24.0, shape);
    const std::string without = soundOnly(play(bytes, "plain", nullptr), 2);
    leveller_->setEnabled(false);
    const std::string off = soundOnly(play(bytes, "plain", leveller_.get()), 2);
    ASSERT_GT(without.size(), 4u * 44100 * 4);
    EXPECT_TRUE(off == without) << off.size() << " bytes against " << without.size();
    leveller_->setEnabled(true);
    EXPECT_FALSE(soundOnly(play(bytes, "plain", leveller_.get()), 2) == without);
}

TEST_F(LevellerEngineTest, MonoEightKilohertzAndNinetySixKilohertzStationsAreLevelledToo) {
    struct Kind {
        const char* name;
        const char* codec;
        int rate;
        int channels;
    };
    for (const Kind& kind : {Kind{"mono8k.mp3", "libmp3lame", 8000, 1}, Kind{"hires.flac", "flac", 96000, 2}}) {
        SCOPED_TRACE(kind.name);
        test::PieceShape shape;
        shape.seconds = 8.0;
        shape.sampleRate = kind.rate;
        shape.channels = kind.channels;
        channels_ = kind.channels;
        const std::string pcm = play(piece(kind.name, -26.0, shape, kind.codec), kind.name, leveller_.get());
        const test::Loudness out = measure(pcm, 4.0, -1.0, kind.rate, kind.channels);
        EXPECT_NEAR(out.integratedLufs, -18.0, 1.5);
        EXPECT_LE(out.truePeakDbtp, -1.0);
    }
}

}  // namespace
}  // namespace korvanel
