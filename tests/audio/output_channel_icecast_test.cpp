// The output channel over the real engine, against a real icecast2 fed by an
// ffmpeg source client, heard through SDL's disk driver.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "audio/engine/audio_engine.h"
#include "audio/output_channel.h"
#include "audio/channel_notice.h"
#include "audio/sound_effects.h"
#include "audio/stream_info.h"
#include "settings/default_settings.h"
#include "settings/settings_store.h"
#include "tests/support/audio_test_tones.h"
#include "tests/support/icecast_server.h"
#include "tests/support/output_test_doubles.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::IcecastServer;

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

class OutputChannelIcecastTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!IcecastServer::available()) {
            GTEST_SKIP() << "icecast2 or ffmpeg not installed";
        }
        ASSERT_TRUE(icecast_.start()) << icecast_.errorLog();
        registerDefaultSettings(settings_);
        effects_ = std::make_unique<SoundEffects>(settings_);
    }

    // A channel over a fresh engine; SDL reads its driver at the first device call.
    void makeChannel(bool realTime) {
        if (!realTime) {
            delay_ = std::make_unique<test::ScopedEnv>("SDL_DISKAUDIODELAY", "0");
        }
        channel_ = std::make_unique<OutputChannel>(std::make_unique<AudioEngine>());
        ASSERT_TRUE(channel_->init());
        channel_->setSoundEffects(effects_.get());
        channel_->setRecorder(&recorder_);
        channel_->setStreamInfo(&info_);
        channel_->setNotices(&jobs_);
    }

    std::string readCard() const {
        const std::string path = folder_.file("card.raw");
        return std::filesystem::exists(path) ? test::readFile(path) : std::string();
    }

    static std::vector<std::int16_t> lastHalfSecond(std::vector<std::int16_t> samples) {
        const std::size_t keep = 44100 / 2;
        if (samples.size() > keep) {
            samples.erase(samples.begin(), samples.end() - static_cast<std::ptrdiff_t>(keep));
        }
        return samples;
    }

    void TearDown() override {
        if (channel_) {
            channel_->shutdown();
        }
    }

    test::TempFolder folder_;
    test::ScopedEnv driver_{"SDL_AUDIODRIVER", "disk"};
    test::ScopedEnv card_{"SDL_DISKAUDIOFILE", folder_.file("card.raw")};
    std::unique_ptr<test::ScopedEnv> delay_;
    IcecastServer icecast_;
    SettingsStore settings_;
    std::unique_ptr<SoundEffects> effects_;
    StreamInfo info_;
    test::OutputRecordingSink recorder_;
    test::ChannelNoticeLog jobs_;
    std::unique_ptr<OutputChannel> channel_;
};

TEST_F(OutputChannelIcecastTest, Mp3MountIsHeardOnTwoCardsWithNameTitleAndEffects) {
    ASSERT_TRUE(icecast_.startSource({"/tone.mp3", IcecastServer::Codec::Mp3, 440}))
        << icecast_.errorLog();
    makeChannel(true);
    channel_->setDevices("1,2");
    effects_->setCompressor(true);

    const ChannelResult opened = channel_->open(icecast_.url("/tone.mp3"));
    ASSERT_TRUE(opened) << opened.error().text();
    EXPECT_EQ(info_.kind(), StreamKind::Mp3);
    EXPECT_EQ(info_.stationName(), "Korvanel Test Tone");
    EXPECT_EQ(info_.describe(), "Streaming MP3 Audio");
    EXPECT_TRUE(channel_->isLiveStream());
    EXPECT_DOUBLE_EQ(channel_->progress(), -1.0);

    ASSERT_TRUE(icecast_.setTitle("/tone.mp3", "Artist - Song"));
    EXPECT_TRUE(waitUntil([&] { return info_.title() == "Artist - Song"; }, 5s)) << info_.title();
    EXPECT_GE(jobs_.count(ChannelNotice::InfoParsed), 2);

    std::this_thread::sleep_for(1500ms);
    EXPECT_NE(channel_->level(), 0u);
    channel_->close();

    // The disk driver gives both devices the same file; each writes the
    // whole stream from its start, so the file holds the stream either way.
    // What the card got went through the compressor, which raises this quiet
    // tone; the recorder got it as decoded.
    const std::vector<std::uint8_t> pcm = recorder_.pcm();
    const auto recorded = test::channelSamples(std::string(pcm.begin(), pcm.end()), 2, 0);
    const auto left = lastHalfSecond(test::channelSamples(readCard(), 2, 0));
    ASSERT_EQ(left.size(), 44100u / 2) << "less than half a second reached the card";
    EXPECT_NEAR(test::toneFrequency(left, 44100), 440, 440 * 0.02);
    EXPECT_GT(test::peakLevel(left), test::peakLevel(recorded) * 13 / 10);
    EXPECT_GT(recorder_.streamBytes().size() + recorder_.headerBytes().size(), 10000u);
    EXPECT_EQ(recorder_.count("format(44100,2)"), 1);
    EXPECT_EQ(recorder_.calls().back(), "close");
}

TEST_F(OutputChannelIcecastTest, OggMountShowsItsCommentTitle) {
    ASSERT_TRUE(icecast_.startSource({"/tone.ogg", IcecastServer::Codec::OggVorbis, 660}))
        << icecast_.errorLog();
    makeChannel(true);
    const ChannelResult opened = channel_->open(icecast_.url("/tone.ogg"));
    ASSERT_TRUE(opened) << opened.error().text();
    EXPECT_EQ(info_.kind(), StreamKind::OggVorbis);
    ASSERT_TRUE(icecast_.setTitle("/tone.ogg", "Singer - Tune"));
    EXPECT_TRUE(waitUntil([&] { return info_.title().find("Tune") != std::string::npos; }, 8s))
        << info_.title();
    std::this_thread::sleep_for(1000ms);
    channel_->close();
    // The tail: the new logical stream may start after a short gap.
    const auto left = lastHalfSecond(test::channelSamples(readCard(), 2, 0));
    ASSERT_EQ(left.size(), 44100u / 2);
    EXPECT_NEAR(test::toneFrequency(left, 44100), 660, 660 * 0.02);
}

TEST_F(OutputChannelIcecastTest, StoppedSourceEndsTheLiveStreamAndRefusedPortIsUnsupported) {
    ASSERT_TRUE(icecast_.startSource({"/live.mp3"})) << icecast_.errorLog();
    makeChannel(false);
    const ChannelResult opened = channel_->open(icecast_.url("/live.mp3"));
    ASSERT_TRUE(opened) << opened.error().text();
    EXPECT_TRUE(channel_->isLiveStream());
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(jobs_.count(ChannelNotice::StreamEnded), 0);
    icecast_.stopSource("/live.mp3");
    EXPECT_TRUE(waitUntil([&] { return jobs_.count(ChannelNotice::StreamEnded) == 1; }, 15s));
    EXPECT_TRUE(channel_->isLiveStream());
    channel_->close();

    // Port 1 on the loopback address: nothing listens there.
    const auto start = std::chrono::steady_clock::now();
    const ChannelResult refused = channel_->open("http://127.0.0.1:1/live");
    EXPECT_EQ(outcomeOf(refused), OpenResult::Unsupported);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().text(), "Can't open the file");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

}  // namespace
}  // namespace korvanel
