// The real engine against a real icecast2 fed by an ffmpeg source client,
// heard through SDL's disk driver.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "audio/engine/audio_engine.h"
#include "tests/support/audio_engine_playback.h"
#include "tests/support/audio_test_tones.h"
#include "tests/support/icecast_server.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::EnginePlayback;
using test::IcecastServer;

bool containsText(const std::vector<std::string>& texts, const std::string& part) {
    for (const std::string& text : texts) {
        if (text.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

class AudioEngineIcecastTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!IcecastServer::available()) {
            GTEST_SKIP() << "icecast2 or ffmpeg not installed";
        }
        ASSERT_TRUE(icecast_.start()) << icecast_.errorLog();
    }

    // Plays the mount for a while and checks the tone that reached the card.
    void expectToneHeard(EnginePlayback& playback, int frequencyHz) {
        ASSERT_TRUE(playback.play());
        std::this_thread::sleep_for(1200ms);
        EXPECT_NE(playback.output().level(), 0u);
        playback.close();
        const std::string heard = test::readFile(folder_.file("card.raw"));
        const auto left = test::channelSamples(heard, 2, 0);
        ASSERT_GT(left.size(), 44100u / 2) << "less than half a second reached the card";
        EXPECT_GT(test::peakLevel(left), 1000);
        EXPECT_NEAR(test::toneFrequency(left, 44100), frequencyHz, frequencyHz * 0.02);
    }

    test::TempFolder folder_;
    IcecastServer icecast_;
};

TEST_F(AudioEngineIcecastTest, Mp3MountIsHeardWithItsStationNameAndAdminSetTitle) {
    ASSERT_TRUE(icecast_.startSource({"/tone.mp3", IcecastServer::Codec::Mp3, 440}))
        << icecast_.errorLog();
    EnginePlayback playback(folder_.file("card.raw"));
    ASSERT_EQ(playback.open(icecast_.url("/tone.mp3")), AudioError::Ok);

    const auto info = playback.decoding().info();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->channelType, audio::kChannelTypeMp3);
    EXPECT_EQ(info->frequency, 44100u);
    EXPECT_EQ(info->channels, 2u);
    EXPECT_NE(info->flags & audio::kStreamBlock, 0u) << "a live stream plays in blocks";
    EXPECT_EQ(playback.decoding().length(), audio::kUnknownLength);

    const auto icy = playback.decoding().tags(audio::kTagIcy);
    ASSERT_TRUE(icy);
    EXPECT_TRUE(containsText(*icy, "icy-name:Korvanel Test Tone"));
    EXPECT_FALSE(containsText(*icy, "Content-Type")) << "ICY tags hold the icy- headers only";
    const auto http = playback.decoding().tags(audio::kTagHttp);
    ASSERT_TRUE(http);
    EXPECT_TRUE(containsText(*http, "Content-Type: audio/mpeg"));

    ASSERT_TRUE(icecast_.setTitle("/tone.mp3", "Artist - Song"));
    EXPECT_TRUE(playback.waitFor(
        [&](const auto& events) {
            for (const auto& event : events) {
                if (event.type == audio::kSyncMeta &&
                    containsText(event.texts, "StreamTitle='Artist - Song';")) {
                    return true;
                }
            }
            return false;
        },
        5s));
    const auto meta = playback.decoding().tags(audio::kTagMeta);
    ASSERT_TRUE(meta);
    EXPECT_TRUE(containsText(*meta, "StreamTitle='Artist - Song';"));
    EXPECT_GT(playback.downloadedBytes(), 0u);

    expectToneHeard(playback, 440);
}

TEST_F(AudioEngineIcecastTest, OggMountIsHeardAndANewLogicalStreamRaisesTheMetadataSync) {
    ASSERT_TRUE(icecast_.startSource({"/tone.ogg", IcecastServer::Codec::OggVorbis, 660}))
        << icecast_.errorLog();
    EnginePlayback playback(folder_.file("card.raw"));
    ASSERT_EQ(playback.open(icecast_.url("/tone.ogg")), AudioError::Ok);

    const auto info = playback.decoding().info();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->channelType, audio::kChannelTypeOgg);
    EXPECT_NE(info->flags & audio::kStreamBlock, 0u);
    EXPECT_TRUE(playback.decoding().tags(audio::kTagOgg));

    ASSERT_TRUE(icecast_.setTitle("/tone.ogg", "Singer - Tune"));
    EXPECT_TRUE(playback.waitFor(
        [&](const auto& events) {
            for (const auto& event : events) {
                if (event.type == audio::kSyncMeta && containsText(event.texts, "Tune")) {
                    return true;
                }
            }
            return false;
        },
        8s));
    const auto comments = playback.decoding().tags(audio::kTagOgg);
    ASSERT_TRUE(comments);
    EXPECT_TRUE(containsText(*comments, "Tune"));

    expectToneHeard(playback, 660);
}

TEST_F(AudioEngineIcecastTest, StoppingTheSourceEndsTheLiveStreamWithTheEndSync) {
    ASSERT_TRUE(icecast_.startSource({"/live.mp3"})) << icecast_.errorLog();
    // The card takes samples as fast as they come, so the stream drains at once.
    EnginePlayback playback("/dev/null", false);
    ASSERT_EQ(playback.open(icecast_.url("/live.mp3")), AudioError::Ok);
    ASSERT_TRUE(playback.play());
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(playback.decoding().activity() == ActiveState::Stopped, false);

    icecast_.stopSource("/live.mp3");
    EXPECT_TRUE(playback.waitForEvent(EnginePlayback::From::Output, audio::kSyncEnd, 10s));
    EXPECT_EQ(playback.decoding().activity(), ActiveState::Stopped);
    EXPECT_TRUE(playback.waitForEvent(EnginePlayback::From::Decoding, audio::kSyncEnd, 2s));
    EXPECT_TRUE(playback.downloadFinished());
    // The output stream was made to free itself at its end.
    playback.engine().waitForNotifications();
    EXPECT_FALSE(playback.output().info());
}

}  // namespace
}  // namespace korvanel
