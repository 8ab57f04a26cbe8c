#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "recording/encoder_writer.h"
#include "recording/mp3_file_output.h"
#include "recording/mpeg_frame_header.h"
#include "tests/support/audio_file_frames.h"
#include "tests/support/audio_file_tools.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

// Feeds PCM in pieces of the size an audio callback would hand over.
WriteResult feed(EncoderWriter& writer, const std::string& pcm) {
    WriteResult result = WriteResult::Ok;
    constexpr std::size_t kPiece = 4410 * 2 * 2;  // 100 ms of 44.1 kHz stereo
    for (std::size_t offset = 0; offset < pcm.size(); offset += kPiece) {
        const WriteResult piece = writer.encodePcm(pcm.data() + offset, std::min(kPiece, pcm.size() - offset));
        if (piece != WriteResult::Ok) {
            result = piece;
        }
    }
    return result;
}

struct FileFrames {
    std::size_t infoFrames = 0;   // as the info frame says
    std::size_t audioFrames = 0;  // counted
    int modeBits = -1;            // channel mode of the first audio frame
    int bitrate = 0;
};

FileFrames inspect(const std::string& bytes) {
    FileFrames result;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto info = parseMpegFrameHeader(data, bytes.size());
    if (!info || !isMpegInfoFrame(*info, data) || info->frameBytes > bytes.size()) {
        return result;
    }
    const std::size_t tag = mpegInfoTagOffset(*info);
    result.infoFrames = static_cast<std::size_t>(data[tag + 8]) << 24 | static_cast<std::size_t>(data[tag + 9]) << 16 |
                        static_cast<std::size_t>(data[tag + 10]) << 8 | data[tag + 11];
    const std::string_view audio = std::string_view(bytes).substr(info->frameBytes);
    result.audioFrames = countMpegFrames(audio);
    if (const auto first = parseMpegFrameHeader(data + info->frameBytes, audio.size())) {
        result.modeBits = data[info->frameBytes + 3] >> 6;
        result.bitrate = first->bitrateKbps;
    }
    return result;
}

class EncoderWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!writer_.isLoaded()) {
            GTEST_SKIP() << "libmp3lame.so.0 is not installed";
        }
        writer_.setMaxBuffer(5242880);
    }

    test::TempFolder folder_;
    EncoderWriter writer_;
};

TEST(EncoderWriterSettings, BitratesSnapToLayer3Rates) {
    const std::pair<int, int> cases[] = {{128, 128}, {100, 112}, {224, 224}, {250, 256}, {300, 320}, {0, 32},
                                         {-5, 32},   {32, 32},   {33, 40},   {256, 256}, {257, 320}, {1000, 320}};
    for (const auto& [asked, expected] : cases) {
        EXPECT_EQ(snapToLayer3Bitrate(asked), expected) << asked;
    }
    EncoderWriter writer;
    EXPECT_EQ(writer.bitrate(), 128);
    writer.setBitrate(250);
    EXPECT_EQ(writer.bitrate(), 256);
}

TEST(EncoderWriterSettings, AMissingLibraryMeansNotReady) {
    EncoderWriter writer("libkorvanel-no-such-encoder.so.0");
    EXPECT_FALSE(writer.isLoaded());
    writer.start(44100, 2);
    EXPECT_FALSE(writer.isReady());
    test::TempFolder folder;
    EXPECT_EQ(writer.open(folder.file("x.mp3")), WriteResult::NotCreated);
    const std::string pcm = test::sinePcm(0.5, 44100, 2);
    EXPECT_EQ(writer.encodePcm(pcm.data(), pcm.size()), WriteResult::Ok);
    EXPECT_EQ(writer.finish(), WriteResult::Ok);
    EXPECT_FALSE(std::filesystem::exists(folder.file("x.mp3")));
}

TEST_F(EncoderWriterTest, EncodesAtTheSnappedBitrateWithAnInfoFrame) {
    writer_.setBitrate(100);
    writer_.start(44100, 2);
    ASSERT_TRUE(writer_.isReady());
    const std::string path = folder_.file("a.mp3");
    ASSERT_EQ(writer_.open(path), WriteResult::Ok);
    ASSERT_EQ(feed(writer_, test::sinePcm(3.0, 44100, 2)), WriteResult::Ok);
    ASSERT_EQ(writer_.finish(), WriteResult::Ok);

    const std::string bytes = test::readFile(path);
    const FileFrames frames = inspect(bytes);
    EXPECT_EQ(frames.bitrate, 112);
    EXPECT_EQ(frames.modeBits, 1) << "joint stereo";
    EXPECT_GT(frames.audioFrames, 110u);  // 3 s are about 115 frames
    EXPECT_EQ(frames.infoFrames, frames.audioFrames);
    if (test::haveTool("mp3val") && test::haveTool("ffprobe")) {
        EXPECT_EQ(test::mp3valProblems(path), "");
        auto stream = test::probeStream(path);
        EXPECT_EQ(stream["bit_rate"], "112000");
        EXPECT_EQ(stream["sample_rate"], "44100");
        EXPECT_NEAR(test::decodedSeconds(path), 3.0, 0.1);
    }
}

TEST_F(EncoderWriterTest, MonoIsEncodedInMode3) {
    writer_.start(22050, 1);
    ASSERT_TRUE(writer_.isReady());
    const std::string path = folder_.file("mono.mp3");
    ASSERT_EQ(writer_.open(path), WriteResult::Ok);
    feed(writer_, test::sinePcm(1.0, 22050, 1));
    ASSERT_EQ(writer_.finish(), WriteResult::Ok);
    const FileFrames frames = inspect(test::readFile(path));
    EXPECT_EQ(frames.modeBits, 3);
    EXPECT_EQ(frames.infoFrames, frames.audioFrames);
    if (test::haveTool("ffprobe")) {
        EXPECT_EQ(test::probeStream(path)["channels"], "1");
    }
}

TEST_F(EncoderWriterTest, ATitleChangeContinuesTheSameStreamIntoTheNextFile) {
    const std::string pcm = test::sinePcm(4.0, 44100, 2);
    writer_.start(44100, 2);
    ASSERT_EQ(writer_.open(folder_.file("one.mp3")), WriteResult::Ok);
    feed(writer_, pcm.substr(0, pcm.size() / 2 + 1000));
    ASSERT_EQ(writer_.open(folder_.file("two.mp3")), WriteResult::Ok);
    feed(writer_, pcm.substr(pcm.size() / 2 + 1000));
    ASSERT_EQ(writer_.finish(), WriteResult::Ok);

    // The same sound encoded into one file.
    EncoderWriter whole;
    whole.start(44100, 2);
    ASSERT_EQ(whole.open(folder_.file("whole.mp3")), WriteResult::Ok);
    feed(whole, pcm);
    ASSERT_EQ(whole.finish(), WriteResult::Ok);

    const FileFrames one = inspect(test::readFile(folder_.file("one.mp3")));
    const FileFrames two = inspect(test::readFile(folder_.file("two.mp3")));
    const FileFrames all = inspect(test::readFile(folder_.file("whole.mp3")));
    EXPECT_GT(one.audioFrames, 70u);
    EXPECT_GT(two.audioFrames, 70u);
    EXPECT_EQ(one.infoFrames, one.audioFrames);
    EXPECT_EQ(two.infoFrames, two.audioFrames);
    // No frame lost or repeated at the cut.
    EXPECT_EQ(one.audioFrames + two.audioFrames, all.audioFrames);
    if (test::haveTool("mp3val")) {
        EXPECT_EQ(test::mp3valProblems(folder_.file("one.mp3")), "");
        EXPECT_EQ(test::mp3valProblems(folder_.file("two.mp3")), "");
    }
}

TEST_F(EncoderWriterTest, ContinuousModeKeepsRecentSoundForTheNextFile) {
    const std::string pcm = test::sinePcm(2.0, 44100, 2);
    writer_.start(44100, 2);
    feed(writer_, pcm);
    EXPECT_EQ(writer_.bufferedBytes(), 0u) << "without continuous mode nothing is encoded before a file opens";

    writer_.setContinuous(true);
    feed(writer_, pcm);
    EXPECT_GT(writer_.bufferedBytes(), 2 * 128000 / 8 * 9 / 10);  // nearly 2 s at 128 kbit/s
    const std::string path = folder_.file("late.mp3");
    ASSERT_EQ(writer_.open(path), WriteResult::Ok);
    EXPECT_EQ(writer_.bufferedBytes(), 0u);
    feed(writer_, pcm);
    ASSERT_EQ(writer_.finish(), WriteResult::Ok);
    const FileFrames frames = inspect(test::readFile(path));
    EXPECT_EQ(frames.infoFrames, frames.audioFrames);
    EXPECT_GT(frames.audioFrames, 2 * 75u);  // both pieces of 2 s
}

TEST_F(EncoderWriterTest, AFailedWriteIsReportedAndTheSoundKept) {
    writer_.setContinuous(true);
    writer_.start(44100, 2);
    ASSERT_EQ(writer_.open("/dev/full"), WriteResult::Ok);
    EXPECT_EQ(feed(writer_, test::sinePcm(1.0, 44100, 2)), WriteResult::WriteFailed);
    EXPECT_FALSE(writer_.isOpen());
    EXPECT_GT(writer_.bufferedBytes(), 0u);
}

}  // namespace
}  // namespace korvanel
