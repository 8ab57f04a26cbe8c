#include <gtest/gtest.h>

#include <string>

#include "recording/aac_stream_writer.h"
#include "tests/support/audio_file_tools.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

// One ADTS frame of `size` bytes (no CRC): 44.1 kHz, stereo, AAC LC, its
// payload filled with `fill`.
std::string adtsFrame(std::size_t size, char fill, int sampleRateIndex = 4) {
    std::string frame(size, fill);
    frame[0] = '\xFF';
    frame[1] = '\xF1';
    frame[2] = static_cast<char>((1 << 6) | (sampleRateIndex << 2) | 0);
    frame[3] = static_cast<char>((2 << 6) | static_cast<int>((size >> 11) & 0x03));
    frame[4] = static_cast<char>((size >> 3) & 0xFF);
    frame[5] = static_cast<char>(((size & 0x07) << 5) | 0x1F);
    frame[6] = '\xFC';
    return frame;
}

TEST(AdtsFrameHeader, ReadsWhatTheHeaderSaysAndRefusesWhatCannotBe) {
    const std::string frame = adtsFrame(418, 'a');
    const auto header = parseAdtsFrameHeader(reinterpret_cast<const unsigned char*>(frame.data()), frame.size());
    ASSERT_TRUE(header);
    EXPECT_EQ(header->frameBytes, 418u);
    EXPECT_EQ(header->sampleRate, 44100);
    EXPECT_EQ(header->channelConfig, 2);
    EXPECT_EQ(header->blocks, 1);
    EXPECT_EQ(AdtsStreamFormat::probeBitrate(frame.data(), frame.size()), 144);

    for (const std::string& bad : {adtsFrame(418, 'a', 13), adtsFrame(6, 'a'), std::string("\xFF\xF7\x50\x80\x34\x1F\xFC", 7),
                                   std::string(6, '\xFF')}) {
        EXPECT_FALSE(parseAdtsFrameHeader(reinterpret_cast<const unsigned char*>(bad.data()), bad.size()));
    }
}

TEST(AacStreamWriter, FilesBeginAtAFrameAndHoldWholeFramesWhateverTheChunks) {
    std::string stream = "junk \xFF\xF1 before";
    std::string frames;
    for (int i = 0; i < 40; ++i) {
        frames += adtsFrame(200 + static_cast<std::size_t>(i) * 3, static_cast<char>('a' + i % 26));
    }
    stream += frames;
    test::TempFolder folder;
    AacStreamWriter writer;
    writer.setMaxBuffer(StreamWriter::kBufferStep);
    writer.start(44100, 2);
    // Byte by byte at first, the rest in one go: frames split anywhere.
    for (std::size_t i = 0; i < 777; ++i) {
        writer.writeRaw(stream.data() + i, 1);
    }
    ASSERT_EQ(writer.open(folder.file("one.aac")), WriteResult::Ok);
    writer.writeRaw(stream.data() + 777, stream.size() - 777);
    ASSERT_EQ(writer.finish(), WriteResult::Ok);
    const std::string saved = test::readFile(folder.file("one.aac"));
    EXPECT_EQ(saved, frames);
    EXPECT_EQ(writer.probeFormat(frames.data(), frames.size()), StreamKind::Aac);
    EXPECT_EQ(writer.probeFormat(stream.data(), 12), StreamKind::Other);
}

}  // namespace
}  // namespace korvanel
