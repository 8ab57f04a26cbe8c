// Devices, output streams and their contract: numbering, errors, volume,
// level, and the stall and resume notifications of a starving stream.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "audio/engine/audio_engine.h"
#include "tests/support/audio_engine_playback.h"
#include "tests/support/audio_test_tones.h"
#include "tests/support/http_test_server.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::EnginePlayback;
using test::HttpTestServer;

TEST(AudioEngineDevices, NumbersDevicesAndKeepsTheCallContract) {
    test::ScopedEnv driver("SDL_AUDIODRIVER", "dummy");
    AudioEngine engine;
    EXPECT_EQ(engine.version(), audio::kVersion);
    EXPECT_EQ(engine.deviceDescription(audio::kNoSoundDevice), "No sound");
    EXPECT_EQ(engine.deviceDescription(audio::kDefaultDevice), "Default output");
    EXPECT_EQ(failureKind(engine.deviceDescription(40)), AudioError::Device);

    EXPECT_EQ(failureKind(engine.openOutput(44100, 2, 0, nullptr)), AudioError::Init) << "no device initialised yet";
    EXPECT_EQ(failureKind(engine.init(40, audio::kOutputFrequency)), AudioError::Device);
    ASSERT_TRUE(engine.init(audio::kNoSoundDevice, audio::kOutputFrequency));
    ASSERT_TRUE(engine.init(audio::kDefaultDevice, audio::kOutputFrequency));
    EXPECT_EQ(failureKind(engine.init(audio::kDefaultDevice, audio::kOutputFrequency)), AudioError::Already);
    EXPECT_EQ(failureKind(engine.setDevice(3)), AudioError::Init);

    ASSERT_TRUE(engine.setDevice(audio::kDefaultDevice));
    EXPECT_EQ(failureKind(engine.openOutput(0, 2, 0, nullptr)), AudioError::Frequency);
    EXPECT_EQ(failureKind(engine.openOutput(44100, 9, 0, nullptr)), AudioError::IllegalParameter);
    AudioResult<AudioStream> made = engine.openOutput(22050, 1, 0, [](std::span<std::uint8_t>) { return 0u; });
    ASSERT_TRUE(made);
    AudioStream& output = *made;
    std::uint8_t buffer[64];
    EXPECT_EQ(failureKind(output.read(buffer)), AudioError::NotAvailable);
    EXPECT_EQ(failureKind(output.setSync(audio::kSyncMeta, 0, [](const SyncEvent&) {})), AudioError::IllegalType);
    EXPECT_FALSE(output.setAttributes(-1, 101, -101));
    EXPECT_TRUE(output.setAttributes(-1, 30, -101));
    EXPECT_EQ(output.attributes()->volume, 30);
    EXPECT_EQ(output.info()->frequency, 22050u);

    // Stopping the device stops its streams; playing waits for a start.
    EXPECT_TRUE(output.play());
    EXPECT_TRUE(engine.stopDevice());
    EXPECT_EQ(output.activity(), ActiveState::Stopped);
    EXPECT_EQ(failureKind(output.play()), AudioError::Start);
    EXPECT_TRUE(engine.startDevice());
    EXPECT_TRUE(output.play());

    // Freeing the device frees what played on it.
    EXPECT_TRUE(engine.freeDevice());
    EXPECT_EQ(failureKind(output.info()), AudioError::Handle);
    EXPECT_FALSE(output.free());
    EXPECT_EQ(AudioStream().activity(), ActiveState::Stopped);
    EXPECT_EQ(AudioStream().level(), audio::kLevelError);
}

const std::string& toneMp3() {
    static const std::string bytes = test::toneFileBytes("mp3", "libmp3lame", 500, 3.0);
    return bytes;
}

TEST(AudioEngineOutput, VolumeScalesWhatReachesTheCardWhileTheLevelReportsTheSignal) {
    ASSERT_FALSE(toneMp3().empty());
    HttpTestServer server(HttpTestServer::reply("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n" + toneMp3()));
    test::TempFolder folder;
    EnginePlayback playback(folder.file("card.raw"), false);
    ASSERT_EQ(playback.open(server.url("/tone.mp3")), AudioError::Ok);
    ASSERT_TRUE(playback.play(25));
    std::uint32_t level = 0;
    for (int i = 0; i < 200 && level == 0; ++i) {
        level = playback.output().level();
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(playback.waitForEvent(EnginePlayback::From::Output, audio::kSyncEnd, 10s));
    const auto heard = test::channelSamples(test::readFile(folder.file("card.raw")), 2, 1);
    ASSERT_GT(heard.size(), 44100u);
    const int full = static_cast<int>(level >> 16);
    EXPECT_GT(full, 2000) << "the level is measured before the volume";
    EXPECT_NEAR(test::peakLevel(heard), full / 4, full / 20);
    EXPECT_NEAR(test::toneFrequency(heard, 44100), 500, 10);
}

TEST(AudioEngineOutput, StarvingStreamRaisesStallThenResumeOnceRefilled) {
    ASSERT_FALSE(toneMp3().empty());
    const std::string head = "ICY 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n";
    const std::size_t firstPart = head.size() + 8000;  // about half a second
    HttpTestServer server([&](HttpTestServer::Connection& connection, const std::string&) {
        const std::string answer = head + toneMp3();
        if (connection.send(std::string_view(answer).substr(0, firstPart)) && connection.pause(1500ms)) {
            connection.send(std::string_view(answer).substr(firstPart));
        }
    });
    test::TempFolder folder;
    EnginePlayback playback(folder.file("card.raw"));
    ASSERT_EQ(playback.open(server.url("/live")), AudioError::Ok);
    ASSERT_TRUE(playback.play());
    const auto stallThenResume = [](EnginePlayback::From stream) {
        return [stream](const std::vector<EnginePlayback::Event>& events) {
            std::vector<std::uint32_t> data;
            for (const auto& event : events) {
                if (event.stream == stream && event.type == audio::kSyncStall) {
                    data.push_back(event.data);
                }
            }
            return data == std::vector<std::uint32_t>{audio::kStallData, audio::kResumeData};
        };
    };
    EXPECT_TRUE(playback.waitFor(stallThenResume(EnginePlayback::From::Output), 5s));
    EXPECT_TRUE(playback.waitFor(stallThenResume(EnginePlayback::From::Decoding), 1s));
    EXPECT_EQ(playback.decoding().activity(), ActiveState::Playing);
}

}  // namespace
}  // namespace korvanel
