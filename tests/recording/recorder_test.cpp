#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "base/window_event.h"
#include "audio/stream_info.h"
#include "recording/encoder_writer.h"
#include "recording/recorder.h"
#include "settings/default_settings.h"
#include "settings/settings_store.h"
#include "tests/support/audio_file_frames.h"
#include "tests/support/audio_file_tools.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

namespace fs = std::filesystem;

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

class RecorderTest : public ::testing::Test {
protected:
    RecorderTest() {
        registerDefaultSettings(store_);
        store_.setString("Recording/Path", folder_.path() + "\\\\");
        info_.setStationName("Radio X: Live");
        info_.setTitle("A/B");
        info_.setKind(StreamKind::Mp3);
    }

    // Made on demand so a test can change settings first.
    Recorder& recorder(const std::string& encoder = LameLibrary::kDefaultName) {
        if (!recorder_) {
            recorder_ = std::make_unique<Recorder>(info_, [this](WindowEvent job) {
                std::lock_guard guard(eventsLock_);
                events_.push_back(std::move(job));
            }, encoder);
            recorder_->setFileOpened([this](const std::string& path) {
                std::lock_guard guard(eventsLock_);
                opened_.push_back(path);
            });
            recorder_->applySettings(store_);
        }
        return *recorder_;
    }

    void startStream(const std::string& headerBytes, int frequency = 44100, int channels = 2) {
        recorder().onOpen();
        recorder().onHeaderData(bytesOf(headerBytes));
        recorder().onFormat(frequency, channels);
    }
    void send(const std::string& bytes) { recorder().onStreamData(bytesOf(bytes)); }
    void newTitle(const std::string& title) {
        info_.setTitle(title);
        recorder().onStreamInfo(info_.snapshot());
    }
    std::string file(const std::string& relative) {
        recorder().waitUntilIdle();
        return test::readFile(folder_.file(relative));
    }
    std::vector<std::string> opened() {
        recorder().waitUntilIdle();
        std::lock_guard guard(eventsLock_);
        return opened_;
    }
    std::vector<WindowEvent> errors() {
        recorder().waitUntilIdle();
        std::lock_guard guard(eventsLock_);
        std::vector<WindowEvent> found;
        for (WindowEvent& job : events_) {
            if (job.kind == EventKind::RecordingNotCreated || job.kind == EventKind::RecordingNotWritten) {
                found.push_back(std::move(job));
            }
        }
        events_.clear();
        return found;
    }

    test::TempFolder folder_;
    SettingsStore store_;
    StreamInfo info_;
    std::unique_ptr<Recorder> recorder_;
    std::mutex eventsLock_;
    std::vector<WindowEvent> events_;
    std::vector<std::string> opened_;
};

constexpr std::size_t kFrame = test::kMp3Frame128kBytes;

TEST_F(RecorderTest, OneFilePerTitleNamedByThePatternSplitAtFrames) {
    store_.setBool("Recording/Enabled", true);
    const std::string frames = test::mp3Frames128k(60);
    // The stream is joined in the middle of a frame.
    startStream(frames.substr(100, 2000));
    EXPECT_TRUE(recorder().isRecording());
    send(frames.substr(2100, 10 * kFrame));
    newTitle("Next: Song?");
    send(frames.substr(2100 + 10 * kFrame));
    recorder().onClose();

    EXPECT_EQ(recorder().folder(), folder_.path() + "/");
    const std::string first = file("Radio X_ Live/A_B.mp3");
    const std::string second = file("Radio X_ Live/Next_ Song_.mp3");
    EXPECT_EQ(first.size() % kFrame, 0u);
    EXPECT_EQ(second.size() % kFrame, 0u);
    EXPECT_EQ(first + second, frames.substr(kFrame));
    EXPECT_EQ(opened(), (std::vector<std::string>{folder_.file("Radio X_ Live/A_B.mp3"),
                                                  folder_.file("Radio X_ Live/Next_ Song_.mp3")}));
    EXPECT_EQ(info_.bitrate(), 128);
    EXPECT_FALSE(recorder().isCapturing());
    EXPECT_TRUE(errors().empty());
}

TEST_F(RecorderTest, TurningTheSwitchOnLateStartsWithBufferedData) {
    const std::string frames = test::mp3Frames128k(50);
    startStream(frames.substr(0, 1000));
    send(frames.substr(1000, 30 * kFrame));
    EXPECT_TRUE(file("Radio X_ Live/A_B.mp3").empty());
    EXPECT_TRUE(recorder().isCapturing());
    EXPECT_TRUE(recorder().hasWriter());
    recorder().setRecording(true);
    send(frames.substr(1000 + 30 * kFrame));
    recorder().setRecording(false);
    EXPECT_EQ(file("Radio X_ Live/A_B.mp3"), frames);

    // The same title again: a new file with a suffix, never overwriting.
    recorder().setRecording(true);
    send(frames);
    recorder().setRecording(false);
    recorder().setRecording(true);
    recorder().setRecording(false);
    EXPECT_EQ(file("Radio X_ Live/A_B[1].mp3"), frames);
    EXPECT_TRUE(fs::exists(folder_.file("Radio X_ Live/A_B[2].mp3")));
}

TEST_F(RecorderTest, TimeTokensAloneKeepOneFile) {
    store_.setBool("Recording/Enabled", true);
    store_.setString("Recording/FilePattern", "%date%_%time%");
    const std::string frames = test::mp3Frames128k(10);
    startStream(frames);
    newTitle("Other");
    newTitle("Third");
    recorder().onClose();
    EXPECT_EQ(opened().size(), 1u);
}

TEST_F(RecorderTest, UnsafeStationNamesStayInsideTheFolder) {
    store_.setBool("Recording/Enabled", true);
    info_.setStationName("..");
    info_.setTitle("../../escape");
    startStream(test::mp3Frames128k(5));
    recorder().onClose();
    ASSERT_EQ(opened().size(), 1u);
    EXPECT_EQ(opened()[0], folder_.path() + "/__/___.._escape.mp3");
    EXPECT_TRUE(fs::exists(opened()[0]));
}

TEST_F(RecorderTest, SettingsTurnTheSwitchOnButNeverOff) {
    recorder();
    store_.setBool("Recording/Enabled", true);
    recorder().applySettings(store_);
    EXPECT_TRUE(recorder().isRecording());
    store_.setBool("Recording/Enabled", false);
    recorder().applySettings(store_);
    EXPECT_TRUE(recorder().isRecording());
    recorder().setRecording(false);
    recorder().collectSettings(store_);
    EXPECT_FALSE(store_.getBool("Recording/Enabled"));
}

TEST_F(RecorderTest, AFileThatCannotBeCreatedIsReportedOnce) {
    test::writeFile(folder_.file("blocked"), "a file where the folder should be");
    store_.setString("Recording/Path", folder_.file("blocked"));
    store_.setBool("Recording/Enabled", true);
    const std::string frames = test::mp3Frames128k(20);
    startStream(frames.substr(0, 5 * kFrame));
    send(frames.substr(5 * kFrame));
    send(frames);
    const std::vector<WindowEvent> reported = errors();
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_NE(reported[0].text.find("Radio X_ Live/A_B.mp3"), std::string::npos) << reported[0].text;
    EXPECT_TRUE(recorder().isCapturing()) << "the writer goes on buffering";
    newTitle("Next");
    EXPECT_EQ(errors().size(), 1u) << "each file is reported once";
}

TEST_F(RecorderTest, StreamsWithoutAWriterAreNotCaptured) {
    info_.setKind(StreamKind::Other);
    startStream("data");
    recorder().waitUntilIdle();
    EXPECT_FALSE(recorder().isCapturing());
    EXPECT_FALSE(recorder().hasWriter());
}

TEST_F(RecorderTest, WindowsMediaWithoutTheEncoderLibraryIsNotCaptured) {
    store_.setBool("Recording/Enabled", true);
    info_.setKind(StreamKind::WindowsMedia);
    recorder("libkorvanel-no-such-encoder.so.0");
    startStream("");
    recorder().waitUntilIdle();
    EXPECT_TRUE(recorder().hasWriter());
    EXPECT_FALSE(recorder().isCapturing());
    EXPECT_TRUE(opened().empty());
}

TEST_F(RecorderTest, OggIsSavedAsOggOrEncodedToMp3) {
    info_.setKind(StreamKind::OggVorbis);
    store_.setBool("Recording/Enabled", true);
    const std::string stream = test::oggHeaderPages(5) + test::oggPage(0, 5, 2, "audio");
    startStream(stream);
    recorder().onClose();
    ASSERT_EQ(opened().size(), 1u);
    EXPECT_EQ(opened()[0], folder_.path() + "/Radio X_ Live/A_B.ogg");

    store_.setBool("Recording/LameEncodeOgg", true);
    recorder().applySettings(store_);
    startStream(stream);
    if (!EncoderWriter(LameLibrary::kDefaultName).isLoaded()) {
        GTEST_SKIP() << "libmp3lame.so.0 is not installed";
    }
    const std::string pcm = test::sinePcm(2.0, 44100, 2);
    for (std::size_t offset = 0; offset < pcm.size(); offset += 17640) {
        recorder().onPcm(bytesOf(pcm.substr(offset, 17640)));
        recorder().waitUntilIdle();
    }
    recorder().onClose();
    ASSERT_EQ(opened().size(), 2u);
    EXPECT_EQ(opened()[1], folder_.path() + "/Radio X_ Live/A_B.mp3");
    const std::string mp3 = file("Radio X_ Live/A_B.mp3");
    EXPECT_GT(mp3.size(), 128000u / 8);  // over a second at 128 kbit/s
    if (test::haveTool("mp3val")) {
        EXPECT_EQ(test::mp3valProblems(opened()[1]), "");
    }
}

TEST_F(RecorderTest, CallsFromManyThreadsLeaveOnlyWholeFrameFiles) {
    const std::string frames = test::mp3Frames128k(400);
    startStream("");
    EXPECT_TRUE(recorder().isCapturing()) << "known before the worker gets to it";
    std::thread network([&] {
        for (std::size_t offset = 0; offset < frames.size(); offset += 1000) {
            send(frames.substr(offset, 1000));
        }
    });
    std::thread soundCard([&] {
        const std::string pcm(4096, '\1');
        for (int i = 0; i < 200; ++i) {
            recorder().onPcm(bytesOf(pcm));
        }
    });
    for (int i = 0; i < 20; ++i) {
        recorder().setRecording(i % 2 == 0);
        info_.setTitle("Title " + std::to_string(i % 5));
        recorder().onStreamInfo(info_.snapshot());
        EXPECT_TRUE(recorder().isCapturing());
    }
    network.join();
    soundCard.join();
    recorder().onClose();
    recorder().waitUntilIdle();
    std::size_t total = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder_.path())) {
        if (entry.is_regular_file()) {
            const std::size_t size = entry.file_size();
            EXPECT_EQ(size % kFrame, 0u) << entry.path();
            total += size;
        }
    }
    EXPECT_LE(total, frames.size());
    EXPECT_TRUE(errors().empty());
}

}  // namespace
}  // namespace korvanel
