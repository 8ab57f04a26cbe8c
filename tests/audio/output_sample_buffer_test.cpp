#include "audio/shared_sample_buffer.h"

#include <gtest/gtest.h>

#include "tests/support/fake_audio_library.h"
#include "tests/support/output_test_doubles.h"

namespace korvanel {
namespace {

class SharedSampleBufferTest : public ::testing::Test {
protected:
    AudioStream openStream(std::vector<std::uint8_t> pcm) {
        test::FakeAudioLibrary::ScriptedStream script;
        script.pcm = std::move(pcm);
        library_.scriptStream("http://host/", script);
        return streamOrNone(library_.openUrl("http://host/", 0, audio::kStreamDecode, nullptr));
    }

    std::vector<std::uint8_t> fill(int slot, std::size_t bytes) {
        std::vector<std::uint8_t> out(bytes);
        out.resize(buffer_.fill(slot, out) & ~audio::kSampleEnd);
        return out;
    }

    test::FakeAudioLibrary library_;
    SharedSampleBuffer buffer_;
};

TEST_F(SharedSampleBufferTest, APartialFrameWaitsForTheRestInsteadOfShiftingTheStream) {
    test::OutputRecordingSink recorder;
    buffer_.setRecorder(&recorder);
    // Two stereo frames and half of a third.
    AudioStream stream = openStream(test::samplesToBytes({1, 2, 3, 4, 5}));
    buffer_.start(stream, 2, 1);
    buffer_.activate(0);
    EXPECT_EQ(test::bytesToSamples(fill(0, 16)), (std::vector<std::int16_t>{1, 2, 3, 4}));
    library_.appendPcm(test::FakeAudioLibrary::idOf(stream), test::samplesToBytes({6, 7, 8}));
    EXPECT_EQ(test::bytesToSamples(fill(0, 16)), (std::vector<std::int16_t>{5, 6, 7, 8}));
    // The recorder saw every byte once, in order.
    EXPECT_EQ(test::bytesToSamples(recorder.pcm()),
              (std::vector<std::int16_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    // An odd byte count from the library is not lost either.
    library_.appendPcm(test::FakeAudioLibrary::idOf(stream), {9, 0, 10});
    EXPECT_EQ(fill(0, 8).size(), 0u);
    library_.appendPcm(test::FakeAudioLibrary::idOf(stream), {0});
    EXPECT_EQ(test::bytesToSamples(fill(0, 8)), (std::vector<std::int16_t>{9, 10}));
}

TEST_F(SharedSampleBufferTest, DataReadByEveryActiveSlotIsDropped) {
    AudioStream stream = openStream(std::vector<std::uint8_t>(4000, 7));
    buffer_.start(stream, 2, 3);
    buffer_.activate(0);
    buffer_.activate(1);  // slot 2 never got an output stream
    fill(0, 1000);
    fill(1, 400);
    fill(0, 1000);  // refills and drops the 400 bytes both have read
    EXPECT_EQ(buffer_.filledBytes(), 1600u);
    fill(1, 1600);
    fill(1, 400);
    EXPECT_EQ(buffer_.filledBytes(), 400u);
    // Positions count from the stream's start, whatever was dropped.
    EXPECT_EQ(buffer_.position(0), 2000u);
    EXPECT_EQ(buffer_.position(1), 2400u);
    EXPECT_EQ(buffer_.position(7), 0u);
    buffer_.start(stream, 2, 1);
    EXPECT_EQ(buffer_.position(0), 0u);
}

TEST_F(SharedSampleBufferTest, ADeviceThatStopsReadingCannotGrowTheBufferWithoutBound) {
    AudioStream stream = openStream({});
    buffer_.start(stream, 2, 2);
    buffer_.activate(0);
    buffer_.activate(1);
    const std::vector<std::uint8_t> block(65536, 1);
    for (int i = 0; i < 200; ++i) {  // 12.5 MiB through slot 0 only
        library_.appendPcm(test::FakeAudioLibrary::idOf(stream), block);
        EXPECT_EQ(fill(0, block.size()).size(), block.size());
    }
    EXPECT_LE(buffer_.filledBytes(), SharedSampleBuffer::kMaxLagBytes + block.size());
    // The stuck device, once it reads again, continues from recent data.
    EXPECT_EQ(fill(1, 4).size(), 4u);
}

TEST_F(SharedSampleBufferTest, NothingIsGivenToAnUnknownSlotOrAfterStop) {
    AudioStream stream = openStream(std::vector<std::uint8_t>(64, 3));
    buffer_.start(stream, 2, 1);
    buffer_.activate(0);
    std::vector<std::uint8_t> out(16);
    EXPECT_EQ(buffer_.fill(-1, out), 0u);
    EXPECT_EQ(buffer_.fill(1, out), 0u);
    EXPECT_EQ(buffer_.fill(0, out), 16u);
    buffer_.stop();
    EXPECT_EQ(buffer_.fill(0, out), 0u);
}

}  // namespace
}  // namespace korvanel
