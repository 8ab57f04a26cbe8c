#include <gtest/gtest.h>

#include <random>
#include <string>

#include "recording/mp3_stream_writer.h"
#include "recording/recent_data_ring.h"
#include "tests/support/audio_file_frames.h"
#include "tests/support/audio_file_tools.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

constexpr std::size_t kFrame = test::kMp3Frame128kBytes;

TEST(RecentDataRing, LimitIsRoundedDownToWholeSteps) {
    RecentDataRing ring;
    ring.setLimit(600000);
    EXPECT_EQ(ring.limit(), 524288u);
    ring.setLimit(5242880);
    EXPECT_EQ(ring.limit(), 5242880u);
    ring.setLimit(500000);
    EXPECT_EQ(ring.limit(), 0u);
    ring.append(std::string(1000, 'x'));
    EXPECT_EQ(ring.size(), 0u);  // no buffering at all
}

TEST(RecentDataRing, KeepsTheNewest90PercentOnceOverTheLimit) {
    RecentDataRing ring;
    ring.setLimit(600000);
    std::string fed;
    int trims = 0;
    for (int i = 0; i < 600; ++i) {
        const std::string chunk(1000, static_cast<char>('a' + i % 26));
        fed += chunk;
        const std::size_t before = ring.size();
        ASSERT_TRUE(ring.append(chunk));
        ASSERT_LE(ring.size(), 524288u);
        if (ring.size() < before + chunk.size()) {
            EXPECT_EQ(ring.size(), 471860u);  // limit - limit / 10
            ++trims;
        }
    }
    EXPECT_EQ(trims, 2);  // at 525000 bytes and again 53 chunks later
    EXPECT_EQ(ring.view(), std::string_view(fed).substr(fed.size() - ring.size()));

    RecentDataRing once;
    once.setLimit(524288);
    once.append(std::string(600000, 'y'));
    EXPECT_EQ(once.size(), 471860u);
}

TEST(Mp3StreamWriter, RingKeepsNewestWholeFramesWithinNinetyPercent) {
    Mp3StreamWriter writer;
    writer.setMaxBuffer(600000);
    const std::string frames = test::mp3Frames128k(600000 / kFrame + 1);
    for (std::size_t offset = 0; offset < frames.size(); offset += 4096) {
        writer.writeRaw(frames.data() + offset, std::min<std::size_t>(4096, frames.size() - offset));
    }
    test::TempFolder folder;
    const std::string path = folder.file("ring.mp3");
    ASSERT_EQ(writer.open(path), WriteResult::Ok);
    ASSERT_EQ(writer.close(), WriteResult::Ok);
    const std::string file = test::readFile(path);
    // At most 471860 bytes at the last trim, plus whatever came after it.
    ASSERT_GT(file.size(), 471860u - kFrame);
    ASSERT_LE(file.size(), 524288u);
    EXPECT_EQ(file.size() % kFrame, 0u);
    EXPECT_EQ(file, frames.substr(frames.size() - file.size()));
}

TEST(Mp3StreamWriter, NoBufferingBelowOneStep) {
    Mp3StreamWriter writer;
    writer.setMaxBuffer(500000);
    const std::string frames = test::mp3Frames128k(20);
    writer.writeRaw(frames.data(), frames.size());
    EXPECT_EQ(writer.bufferedBytes(), 0u);
}

TEST(Mp3StreamWriter, FilesBeginAtAFrameAndEndAfterAWholeFrame) {
    test::TempFolder folder;
    Mp3StreamWriter writer;
    writer.setMaxBuffer(5242880);
    const std::string frames = test::mp3Frames128k(40);
    // The stream is joined mid-frame, and every chunk cuts frames apart.
    const std::string stream = frames.substr(kFrame / 2);
    std::size_t offset = 0;
    const auto feed = [&](std::size_t bytes) {
        writer.writeRaw(stream.data() + offset, bytes);
        offset += bytes;
    };
    feed(1000);
    ASSERT_EQ(writer.open(folder.file("a.mp3")), WriteResult::Ok);
    EXPECT_TRUE(writer.isOpen());
    feed(5000);
    ASSERT_EQ(writer.open(folder.file("b.mp3")), WriteResult::Ok);
    writer.dropBuffered();
    feed(stream.size() - offset);
    ASSERT_EQ(writer.close(), WriteResult::Ok);
    EXPECT_FALSE(writer.isOpen());

    const std::string a = test::readFile(folder.file("a.mp3"));
    const std::string b = test::readFile(folder.file("b.mp3"));
    EXPECT_EQ(a.size() % kFrame, 0u);
    EXPECT_EQ(b.size() % kFrame, 0u);
    // Both files together are every whole frame after the join, in order.
    EXPECT_EQ(a + b, frames.substr(kFrame));
}

TEST(Mp3StreamWriter, OpeningWritesTheBufferedFramesFirst) {
    test::TempFolder folder;
    Mp3StreamWriter writer;
    writer.setMaxBuffer(524288);
    const std::string frames = test::mp3Frames128k(10);
    writer.writeRaw(frames.data(), 5 * kFrame);
    ASSERT_EQ(writer.open(folder.file("x.mp3")), WriteResult::Ok);
    writer.writeRaw(frames.data() + 5 * kFrame, 5 * kFrame);
    writer.finish();
    EXPECT_EQ(test::readFile(folder.file("x.mp3")), frames);
    EXPECT_EQ(writer.bufferedBytes(), 0u);
}

TEST(Mp3StreamWriter, AFileThatCannotBeCreatedLeavesTheDataBuffered) {
    test::TempFolder folder;
    Mp3StreamWriter writer;
    writer.setMaxBuffer(524288);
    const std::string frames = test::mp3Frames128k(4);
    writer.writeRaw(frames.data(), frames.size());
    EXPECT_EQ(writer.open(folder.file("missing/x.mp3")), WriteResult::NotCreated);
    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ(writer.bufferedBytes(), frames.size());
}

TEST(Mp3StreamWriter, AFailedWriteIsReportedAndTheDataKept) {
    // Every write to /dev/full fails as on a full disk.
    Mp3StreamWriter writer;
    writer.setMaxBuffer(524288);
    ASSERT_EQ(writer.open("/dev/full"), WriteResult::Ok);  // nothing buffered yet
    const std::string frames = test::mp3Frames128k(4);
    EXPECT_EQ(writer.writeRaw(frames.data(), frames.size()), WriteResult::WriteFailed);
    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ(writer.bufferedBytes(), frames.size());
    // The next write is not reported again: no file is open.
    EXPECT_EQ(writer.writeRaw(frames.data(), frames.size()), WriteResult::Ok);
    // Opening writes the buffered frames first; that failure is reported too.
    EXPECT_EQ(writer.open("/dev/full"), WriteResult::WriteFailed);
    EXPECT_FALSE(writer.isOpen());
}

TEST(Mp3StreamWriter, RecordsARealStreamIntoFilesThatCheckClean) {
    if (!test::haveTool("ffmpeg") || !test::haveTool("mp3val")) {
        GTEST_SKIP() << "ffmpeg and mp3val are needed";
    }
    test::TempFolder folder;
    const std::string wav = folder.file("in.wav");
    const std::string source = folder.file("source.mp3");
    ASSERT_TRUE(test::makeSineWav(wav, 6.0, 44100, 2));
    ASSERT_TRUE(test::encodeWithFfmpeg(wav, source, "libmp3lame", {"-b:a", "128k", "-write_xing", "0"}));
    const std::string bytes = test::readFile(source);

    Mp3StreamWriter writer;
    writer.setMaxBuffer(524288);
    std::mt19937 random(3);
    std::size_t offset = 0;
    int files = 0;
    while (offset < bytes.size()) {
        const std::size_t chunk = std::min<std::size_t>(random() % 3000 + 1, bytes.size() - offset);
        writer.writeRaw(bytes.data() + offset, chunk);
        offset += chunk;
        if (offset > static_cast<std::size_t>(files + 1) * bytes.size() / 4 && files < 3) {
            ASSERT_EQ(writer.open(folder.file("part" + std::to_string(files++) + ".mp3")), WriteResult::Ok);
        }
    }
    ASSERT_EQ(writer.finish(), WriteResult::Ok);
    ASSERT_EQ(files, 3);
    for (int i = 0; i < files; ++i) {
        const std::string path = folder.file("part" + std::to_string(i) + ".mp3");
        EXPECT_EQ(test::mp3valProblems(path), "") << path;
        EXPECT_GT(test::decodedSeconds(path), 0.5) << path;
    }
}

}  // namespace
}  // namespace korvanel
