// Turning the switch on well into a track: the file begins with what was
// buffered before, fed with real MP3 frames made by ffmpeg.
#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "audio/stream_info.h"
#include "recording/recorder.h"
#include "settings/default_settings.h"
#include "settings/settings_store.h"
#include "tests/support/audio_file_tools.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

class RecorderLateSwitch : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(test::haveTool("ffmpeg")) << "ffmpeg is needed (scripts/install-deps.sh)";
        registerDefaultSettings(store_);
        store_.setString("Recording/Path", folder_.file("recordings"));
        store_.setString("Recording/FilePattern", "%title% - %track%");
        info_.setStationName("Late");
        info_.setTitle("Track");
        info_.setKind(StreamKind::Mp3);
    }

    // A tone encoded as a bare stream of frames, as a station sends it.
    std::string makeStream(double seconds, int kbps) {
        const std::string wav = folder_.file("tone.wav");
        const std::string mp3 = folder_.file("tone.mp3");
        std::string log;
        EXPECT_TRUE(test::makeSineWav(wav, seconds, 44100, 2, &log)) << log;
        EXPECT_TRUE(test::encodeWithFfmpeg(wav, mp3, "libmp3lame",
                                           {"-b:a", std::to_string(kbps) + "k", "-write_xing", "0",
                                            "-id3v2_version", "0"},
                                           &log))
            << log;
        return test::readFile(mp3);
    }

    // Plays `stream` into the recorder in network-sized pieces that ignore
    // frame boundaries, turning the switch on after `switchAt` bytes.
    std::string recordWithSwitchAt(const std::string& stream, std::size_t switchAt) {
        Recorder recorder(info_, [](WindowEvent) {});
        std::vector<std::string> opened;  // told on the worker, read after waitUntilIdle
        recorder.setFileOpened([&opened](const std::string& path) { opened.push_back(path); });
        recorder.applySettings(store_);
        recorder.onOpen();
        recorder.onHeaderData(bytesOf(std::string_view(stream).substr(0, 1000)));
        recorder.onFormat(44100, 2);
        constexpr std::size_t kPiece = 1379;
        for (std::size_t at = 1000; at < stream.size(); at += kPiece) {
            if (at <= switchAt && switchAt < at + kPiece) {
                recorder.setRecording(true);
            }
            recorder.onStreamData(bytesOf(std::string_view(stream).substr(at, kPiece)));
        }
        recorder.onClose();
        recorder.waitUntilIdle();
        EXPECT_FALSE(recorder.isCapturing());
        recorder.setFileOpened(nullptr);
        EXPECT_EQ(opened, std::vector<std::string>{folder_.file("recordings/Late - Track.mp3")});
        return folder_.file("recordings/Late - Track.mp3");
    }

    test::TempFolder folder_;
    SettingsStore store_;
    StreamInfo info_;
};

TEST_F(RecorderLateSwitch, FileBeginsWithTheTrackHeardBeforeTheSwitch) {
    // 12 s at 128 kbit/s: the ring's smallest limit holds it all.
    const std::string stream = makeStream(12.0, 128);
    ASSERT_GT(stream.size(), 180000u);
    const std::size_t tenSeconds = 10 * 128000 / 8;
    const std::string path = recordWithSwitchAt(stream, tenSeconds);

    const std::string recorded = test::readFile(path);
    EXPECT_EQ(recorded.size(), stream.size());
    EXPECT_TRUE(recorded == stream) << "the file is the whole track, from its first frame";
    EXPECT_EQ(test::mp3valProblems(path), "");
    EXPECT_NEAR(test::decodedSeconds(path), 12.0, 0.2);
}

TEST_F(RecorderLateSwitch, AFullRingKeepsTheNewestWholeFrames) {
    // 20 s at 320 kbit/s before the switch is more than the smallest ring
    // holds: the file starts with its newest 90 % or so, at a frame.
    store_.setInt("Recording/MaxBuffer", 600000);
    const std::string stream = makeStream(22.0, 320);
    const std::size_t twentySeconds = 20 * 320000 / 8;
    ASSERT_GT(stream.size(), twentySeconds + 60000);
    const std::string path = recordWithSwitchAt(stream, twentySeconds);

    const std::string recorded = test::readFile(path);
    ASSERT_FALSE(recorded.empty());
    // The file is the stream's tail, cut where a frame begins.
    ASSERT_LT(recorded.size(), stream.size());
    const std::size_t cut = stream.size() - recorded.size();
    EXPECT_TRUE(recorded == std::string_view(stream).substr(cut));
    ASSERT_GE(recorded.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(recorded[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(recorded[1]) & 0xE0, 0xE0);
    // Buffered: at least 90 % of 524288 bytes (11.8 s), at most the limit
    // (13.1 s), then the 2 s after the switch.
    const double seconds = test::decodedSeconds(path);
    EXPECT_GT(seconds, 2.0 + 11.7);
    EXPECT_LT(seconds, 2.0 + 13.2 + 0.1);
    EXPECT_EQ(test::mp3valProblems(path), "");
}

}  // namespace
}  // namespace korvanel
