#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "recording/mp3_stream_writer.h"
#include "recording/mpeg_frame_header.h"
#include "recording/mpeg_frame_splitter.h"
#include "tests/support/audio_file_frames.h"
#include "tests/support/audio_file_tools.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using test::MpegHeaderFields;

// The tables of ISO/IEC 11172-3 and 13818-3, written out independently.
constexpr int kMpeg1Layer1[] = {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0};
constexpr int kMpeg1Layer2[] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0};
constexpr int kMpeg1Layer3[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
constexpr int kMpeg2Layer1[] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0};
constexpr int kMpeg2Layer23[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};

// Probes a copy of the bytes in a block of exactly their size, so the
// sanitizer sees any read past the end.
struct ProbeResult {
    int bitrate;
    StreamKind kind;
};
ProbeResult probeExact(const std::string& bytes) {
    auto block = std::make_unique<char[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), block.get());
    Mp3StreamWriter writer;
    return {writer.probeBitrate(block.get(), bytes.size()), writer.probeFormat(block.get(), bytes.size())};
}

TEST(MpegFrameProbe, EveryVersionLayerAndBitrateIndex) {
    struct Case {
        int versionBits;
        int layerBits;
        const int* table;
        StreamKind kind;
    };
    const Case cases[] = {
        {3, 3, kMpeg1Layer1, StreamKind::MpegLayer1},  {3, 2, kMpeg1Layer2, StreamKind::MpegLayer2},
        {3, 1, kMpeg1Layer3, StreamKind::Mp3},         {2, 3, kMpeg2Layer1, StreamKind::Mpeg2Layer1},
        {2, 2, kMpeg2Layer23, StreamKind::Mpeg2Layer2}, {2, 1, kMpeg2Layer23, StreamKind::Mpeg2Layer3},
    };
    for (const Case& c : cases) {
        for (int index = 1; index <= 14; ++index) {
            MpegHeaderFields fields{c.versionBits, c.layerBits, index, 0, false, false};
            // A lone header: nothing follows in the data to check it against.
            const ProbeResult result = probeExact("junk" + test::mpegHeader(fields));
            EXPECT_EQ(result.bitrate, c.table[index]) << c.versionBits << "/" << c.layerBits << "/" << index;
            EXPECT_EQ(result.kind, c.kind) << c.versionBits << "/" << c.layerBits << "/" << index;
        }
    }
}

TEST(MpegFrameProbe, RejectsWhatIsNotAFrameHeader) {
    EXPECT_EQ(probeExact("").bitrate, 0);
    EXPECT_EQ(probeExact(std::string(1000, 'x')).kind, StreamKind::Other);
    // Sync bytes at the very end of the data.
    EXPECT_EQ(probeExact("abc\xFF").bitrate, 0);
    EXPECT_EQ(probeExact("abc\xFF\xFB").bitrate, 0);
    EXPECT_EQ(probeExact("abc\xFF\xFB\x90").bitrate, 0);
    // Reserved version, reserved layer, bit rate index 15, reserved rate.
    EXPECT_EQ(probeExact(test::mpegHeader({1, 1, 9, 0, false, false})).bitrate, 0);
    EXPECT_EQ(probeExact(test::mpegHeader({3, 0, 9, 0, false, false})).bitrate, 0);
    EXPECT_EQ(probeExact(test::mpegHeader({3, 1, 15, 0, false, false})).bitrate, 0);
    EXPECT_EQ(probeExact(test::mpegHeader({3, 1, 9, 3, false, false})).bitrate, 0);
    // MPEG-2.5 has a bit rate but no stream kind of its own.
    const ProbeResult mpeg25 = probeExact(test::mpegHeader({0, 1, 1, 2, false, false}));
    EXPECT_EQ(mpeg25.bitrate, 8);
    EXPECT_EQ(mpeg25.kind, StreamKind::Other);
}

TEST(MpegFrameProbe, StraySyncBytesBeforeTheFirstFrameAreSkipped) {
    // 0xFF 0xFB looks like a 128 kbit/s header but no frame follows it where
    // its frame would end, so the real 192 kbit/s Layer II frames win.
    std::string data = std::string("\x00\xFF\xFB\x90\x00", 5) + std::string(600, '\x11');
    MpegHeaderFields layer2{3, 2, 10, 1, false, false};  // 192 kbit/s at 48 kHz: 576 bytes
    for (int i = 0; i < 3; ++i) {
        data += test::mpegFrame(layer2, 576);
    }
    const ProbeResult result = probeExact(data);
    EXPECT_EQ(result.bitrate, 192);
    EXPECT_EQ(result.kind, StreamKind::MpegLayer2);
}

TEST(MpegFrameHeader, FrameLengthsFollowTheStandardsFormulas) {
    const auto length = [](const MpegHeaderFields& fields) {
        const std::string header = test::mpegHeader(fields);
        const auto parsed = parseMpegFrameHeader(reinterpret_cast<const unsigned char*>(header.data()), header.size());
        return parsed ? parsed->frameBytes : 0;
    };
    EXPECT_EQ(length({3, 1, 9, 0, false, false}), 417u);  // 144 * 128000 / 44100
    EXPECT_EQ(length({3, 1, 9, 0, true, false}), 418u);
    EXPECT_EQ(length({3, 2, 10, 1, false, false}), 576u);  // 144 * 192000 / 48000
    EXPECT_EQ(length({3, 3, 12, 1, true, false}), 388u);   // (12 * 384000 / 48000 + 1) * 4
    EXPECT_EQ(length({2, 1, 8, 0, false, false}), 208u);   // 72 * 64000 / 22050
    EXPECT_EQ(length({2, 2, 8, 0, false, false}), 417u);   // 144 * 64000 / 22050
    EXPECT_EQ(length({0, 1, 1, 2, false, false}), 72u);    // 72 * 8000 / 8000
    EXPECT_EQ(length({3, 1, 0, 0, false, false}), 0u);     // free format: unknown
    // The padding bit of a free-format header says nothing of its length.
    EXPECT_EQ(length({3, 1, 0, 0, true, false}), 0u);
    EXPECT_EQ(length({3, 3, 0, 0, true, false}), 0u);
}

TEST(MpegFrameSplitter, PaddedFreeFormatHeadersAreNotTakenForTinyFrames) {
    // Layer I free format with padding, back to back every 4 bytes: each
    // header would "end" where the next begins if padding counted as length.
    const std::string header = test::mpegHeader({3, 3, 0, 0, true, false});
    std::string stream;
    for (int i = 0; i < 64; ++i) {
        stream += header;
    }
    EXPECT_FALSE(findFirstMpegFrame(stream.data(), stream.size()));
    EXPECT_EQ(countMpegFrames(stream), 0u);
    MpegFrameSplitter splitter;
    std::size_t frames = 0;
    splitter.push(stream.data(), stream.size(), [&](const MpegFrameSplitter::Frames& run) { frames += run.count; });
    EXPECT_EQ(frames, 0u);
}

// Real files made by ffmpeg's encoders, checked against ffprobe.
class MpegFilesTest : public ::testing::Test {
protected:
    struct Made {
        std::string path;
        std::string codec;   // ffprobe codec_name
        int bitrate;         // kbit/s
        int sampleRate;
        StreamKind kind;
    };

    static void SetUpTestSuite() {
        if (!test::haveTool("ffmpeg") || !test::haveTool("ffprobe")) {
            return;
        }
        folder_ = std::make_unique<test::TempFolder>();
        struct Plan {
            const char* encoder;
            const char* codec;
            int bitrate;
            int sampleRate;
            int channels;
            StreamKind kind;
        };
        const Plan plans[] = {
            {"libmp3lame", "mp3", 32, 32000, 1, StreamKind::Mp3},
            {"libmp3lame", "mp3", 128, 44100, 2, StreamKind::Mp3},
            {"libmp3lame", "mp3", 320, 48000, 2, StreamKind::Mp3},
            {"libmp3lame", "mp3", 8, 16000, 1, StreamKind::Mpeg2Layer3},
            {"libmp3lame", "mp3", 64, 22050, 2, StreamKind::Mpeg2Layer3},
            {"libmp3lame", "mp3", 160, 24000, 2, StreamKind::Mpeg2Layer3},
            {"libmp3lame", "mp3", 8, 8000, 1, StreamKind::Other},  // MPEG-2.5
            {"mp2", "mp2", 32, 48000, 1, StreamKind::MpegLayer2},
            {"mp2", "mp2", 384, 48000, 2, StreamKind::MpegLayer2},
            {"mp2", "mp2", 160, 24000, 2, StreamKind::Mpeg2Layer2},
        };
        int number = 0;
        for (const Plan& plan : plans) {
            const std::string wav = folder_->file("in" + std::to_string(number) + ".wav");
            const std::string out = folder_->file("out" + std::to_string(number) + ".mp" + (plan.codec[2] == '3' ? "3" : "2"));
            ++number;
            if (!test::makeSineWav(wav, 1.0, plan.sampleRate, plan.channels) ||
                !test::encodeWithFfmpeg(wav, out, plan.encoder, {"-b:a", std::to_string(plan.bitrate) + "k"})) {
                continue;
            }
            files_.push_back({out, plan.codec, plan.bitrate, plan.sampleRate, plan.kind});
        }
    }
    static void TearDownTestSuite() {
        folder_.reset();
        files_.clear();
    }

    void SetUp() override {
        if (folder_ == nullptr) {
            GTEST_SKIP() << "ffmpeg and ffprobe are needed";
        }
        ASSERT_EQ(files_.size(), 10u) << "ffmpeg could not make every test file";
    }

    inline static std::unique_ptr<test::TempFolder> folder_;
    inline static std::vector<Made> files_;
};

TEST_F(MpegFilesTest, ProbeAgreesWithFfprobe) {
    for (const Made& made : files_) {
        auto fields = test::probeStream(made.path);
        EXPECT_EQ(fields["codec_name"], made.codec) << made.path;
        EXPECT_EQ(fields["sample_rate"], std::to_string(made.sampleRate)) << made.path;
        EXPECT_EQ(fields["bit_rate"], std::to_string(made.bitrate * 1000)) << made.path;
        // The files begin with an ID3 tag and, for MP3, an info frame that
        // may have a bit rate of its own; the probe must look past both.
        const ProbeResult result = probeExact(test::readFile(made.path));
        EXPECT_EQ(result.bitrate, made.bitrate) << made.path;
        EXPECT_EQ(result.kind, made.kind) << made.path;
    }
}

TEST_F(MpegFilesTest, SplitterFindsEveryFrameWhateverTheChunkSizes) {
    std::mt19937 random(7);
    for (const Made& made : files_) {
        const std::string bytes = test::readFile(made.path);
        MpegFrameSplitter splitter;
        std::string frames;
        std::size_t count = 0;
        std::size_t offset = 0;
        while (offset < bytes.size()) {
            const std::size_t chunk = std::min<std::size_t>(random() % 1500 + 1, bytes.size() - offset);
            ASSERT_TRUE(splitter.push(bytes.data() + offset, chunk, [&](const MpegFrameSplitter::Frames& run) {
                frames.append(run.bytes);
                count += run.count;
            }));
            offset += chunk;
        }
        // The tag at the start is dropped; ffprobe counts the audio frames
        // (the info frame of MP3 files is a frame to the splitter too).
        const long packets = test::countPackets(made.path);
        const bool hasInfoFrame = made.codec == "mp3";
        EXPECT_EQ(static_cast<long>(count), packets + (hasInfoFrame ? 1 : 0)) << made.path;
        EXPECT_EQ(bytes.substr(bytes.size() - frames.size()), frames) << made.path;
        EXPECT_EQ(splitter.heldBytes(), 0u) << made.path;
    }
}

TEST(MpegFrameSplitter, DropsJunkBetweenFramesAndKeepsOnlyWholeFrames) {
    const std::string frames = test::mp3Frames128k(6);
    const std::size_t frame = test::kMp3Frame128kBytes;
    // Junk (with a false sync) inside the stream, a cut frame at the end.
    const std::string stream = std::string("\xFF\xFB\x90junk", 7) + frames.substr(0, 3 * frame) + "\xFF\xE2zz" +
                               frames.substr(3 * frame) + frames.substr(0, 100);
    MpegFrameSplitter splitter;
    std::string out;
    std::size_t count = 0;
    for (char byte : stream) {
        splitter.push(&byte, 1, [&](const MpegFrameSplitter::Frames& run) {
            out.append(run.bytes);
            count += run.count;
        });
    }
    EXPECT_EQ(count, 6u);
    EXPECT_EQ(out, frames);
    EXPECT_EQ(splitter.heldBytes(), 100u);  // the start of the next frame
}

TEST(MpegFrameSplitter, RandomBytesNeverMakeItReadOutsideItsData) {
    std::mt19937 random(11);
    for (int round = 0; round < 200; ++round) {
        std::string bytes(random() % 5000, '\0');
        for (char& byte : bytes) {
            // Plenty of 0xFF so that sync candidates are common.
            byte = static_cast<char>(random() % 3 == 0 ? 0xFF : random() % 256);
        }
        MpegFrameSplitter splitter;
        std::size_t offset = 0;
        while (offset < bytes.size()) {
            const std::size_t chunk = std::min<std::size_t>(random() % 700 + 1, bytes.size() - offset);
            auto block = std::make_unique<char[]>(chunk);
            std::copy_n(bytes.data() + offset, chunk, block.get());
            splitter.push(block.get(), chunk, [](const MpegFrameSplitter::Frames& run) {
                // Whatever comes out begins with a header.
                EXPECT_TRUE(parseMpegFrameHeader(reinterpret_cast<const unsigned char*>(run.bytes.data()),
                                                 run.bytes.size()));
            });
            offset += chunk;
        }
        EXPECT_LT(splitter.heldBytes(), 8000u);  // held data stays bounded
        probeExact(bytes);
    }
}

}  // namespace
}  // namespace korvanel
