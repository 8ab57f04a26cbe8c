#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "recording/ogg_file_output.h"
#include "stream/ogg_page.h"
#include "recording/ogg_stream_writer.h"
#include "recording/ogg_unit_parser.h"
#include "tests/support/audio_file_frames.h"
#include "tests/support/audio_file_tools.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using test::oggPage;

// Feeds bytes to the writer in chunks of random size.
void feedInChunks(OggStreamWriter& writer, const std::string& bytes, std::mt19937& random, std::size_t from = 0,
                  std::size_t to = std::string::npos) {
    to = std::min(to, bytes.size());
    for (std::size_t offset = from; offset < to;) {
        const std::size_t chunk = std::min<std::size_t>(random() % 2500 + 1, to - offset);
        writer.writeRaw(bytes.data() + offset, chunk);
        offset += chunk;
    }
}

// The offsets where the pages of a whole Ogg file begin.
std::vector<std::size_t> pageOffsets(const std::string& bytes) {
    std::vector<std::size_t> offsets;
    std::size_t offset = 0;
    OggPage page;
    while (offset < bytes.size() && parseOggPage(bytes, offset, page) == OggPageStatus::Page) {
        offsets.push_back(offset);
        offset += page.pageBytes;
    }
    return offsets;
}

class OggFilesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!test::haveTool("ffmpeg") || !test::haveTool("oggenc") || !test::haveTool("ogginfo")) {
            return;
        }
        folder_ = std::make_unique<test::TempFolder>();
        const std::string wav = folder_->file("in.wav");
        if (!test::makeSineWav(wav, 8.0, 44100, 2)) {
            return;
        }
        // Two oggenc streams with serial numbers of their own, and one from ffmpeg.
        const auto oggenc = [&](const char* name, const char* serial) {
            return test::runTool({"oggenc", "-Q", "-b", "128", "-s", serial, "-o", folder_->file(name), wav}).exitCode == 0;
        };
        ready_ = oggenc("a.ogg", "1111") && oggenc("b.ogg", "2222") &&
                 test::encodeWithFfmpeg(wav, folder_->file("f.ogg"), "libvorbis", {"-b:a", "96k"});
    }
    static void TearDownTestSuite() { folder_.reset(); }

    void SetUp() override {
        if (folder_ == nullptr) {
            GTEST_SKIP() << "ffmpeg, oggenc and ogginfo are needed";
        }
        ASSERT_TRUE(ready_) << "the test files could not be made";
    }

    std::string source(const char* name) const { return test::readFile(folder_->file(name)); }
    std::string output(const std::string& name) const { return folder_->file("out-" + name); }

    inline static std::unique_ptr<test::TempFolder> folder_;
    inline static bool ready_ = false;
};

TEST_F(OggFilesTest, FilesOpenedMidStreamBeginWithTheHeaderPagesAndHoldWholePages) {
    for (const char* name : {"a.ogg", "f.ogg"}) {
        const std::string bytes = source(name);
        const std::vector<std::size_t> pages = pageOffsets(bytes);
        ASSERT_GT(pages.size(), 5u);
        const std::string headers = bytes.substr(0, pages[2]);  // first page, comment and setup page

        OggStreamWriter writer;
        writer.setMaxBuffer(524288);
        std::mt19937 random(5);
        const std::size_t third = bytes.size() / 3;
        feedInChunks(writer, bytes, random, 0, third);
        ASSERT_EQ(writer.open(output(std::string("1-") + name)), WriteResult::Ok);
        feedInChunks(writer, bytes, random, third, 2 * third);
        ASSERT_EQ(writer.open(output(std::string("2-") + name)), WriteResult::Ok);
        feedInChunks(writer, bytes, random, 2 * third);
        EXPECT_FALSE(writer.isOpen()) << "the last page of the stream ends the file";
        ASSERT_EQ(writer.finish(), WriteResult::Ok);

        const std::string first = test::withoutPageNumbering(test::readFile(output(std::string("1-") + name)));
        const std::string second = test::withoutPageNumbering(test::readFile(output(std::string("2-") + name)));
        const std::string plain = test::withoutPageNumbering(bytes);
        // The first file was opened with everything still buffered: it is
        // the source up to a page boundary.
        EXPECT_TRUE(first == plain.substr(0, first.size()));
        // The second starts with the headers, then continues the source.
        ASSERT_TRUE(second.substr(0, headers.size()) == test::withoutPageNumbering(headers));
        const std::string rest = second.substr(headers.size());
        EXPECT_TRUE(rest == plain.substr(first.size(), rest.size())) << "no page lost or repeated between the files";
        EXPECT_EQ(first.size() + rest.size(), bytes.size());
        EXPECT_EQ(test::ogginfoProblems(output(std::string("1-") + name)), "");
        EXPECT_EQ(test::ogginfoProblems(output(std::string("2-") + name)), "");
        EXPECT_GT(test::decodedSeconds(output(std::string("2-") + name)), 1.0);
    }
}

TEST_F(OggFilesTest, AChainedStreamIsSplitAtTheEndOfTheFirstLogicalStream) {
    const std::string a = source("a.ogg");
    const std::string b = source("b.ogg");
    const std::string chained = a + b;
    OggStreamWriter writer;
    writer.setMaxBuffer(5242880);
    std::mt19937 random(9);
    ASSERT_EQ(writer.open(output("chain-1.ogg")), WriteResult::Ok);
    feedInChunks(writer, chained, random, 0, a.size() + 3000);
    EXPECT_FALSE(writer.isOpen());
    ASSERT_EQ(writer.open(output("chain-2.ogg")), WriteResult::Ok);
    feedInChunks(writer, chained, random, a.size() + 3000);
    ASSERT_EQ(writer.finish(), WriteResult::Ok);

    // Each stream was numbered from 0 and ends with its last page: byte for byte.
    EXPECT_TRUE(test::readFile(output("chain-1.ogg")) == a);
    EXPECT_TRUE(test::readFile(output("chain-2.ogg")) == b);
    EXPECT_EQ(test::ogginfoProblems(output("chain-2.ogg")), "");
}

TEST_F(OggFilesTest, AnOpenFileEndsWhenANewLogicalStreamBeginsWithoutALastPage) {
    // A source that restarts: the old stream stops without its last page.
    const std::string a = source("a.ogg");
    const std::vector<std::size_t> pages = pageOffsets(a);
    const std::string cut = a.substr(0, pages[pages.size() - 1]);
    const std::string b = source("b.ogg");
    OggStreamWriter writer;
    writer.setMaxBuffer(5242880);
    ASSERT_EQ(writer.open(output("restart-1.ogg")), WriteResult::Ok);
    writer.writeRaw(cut.data(), cut.size());
    writer.writeRaw(b.data(), 40);
    EXPECT_TRUE(writer.isOpen()) << "a new first page is not complete yet";
    writer.writeRaw(b.data() + 40, 2000);
    EXPECT_FALSE(writer.isOpen());
    ASSERT_EQ(writer.open(output("restart-2.ogg")), WriteResult::Ok);
    writer.writeRaw(b.data() + 2040, b.size() - 2040);
    writer.finish();
    const std::string first = test::readFile(output("restart-1.ogg"));
    EXPECT_TRUE(test::withoutPageNumbering(first) == test::withoutPageNumbering(cut));
    EXPECT_TRUE(test::readFile(output("restart-2.ogg")) == b);
    EXPECT_EQ(test::ogginfoProblems(output("restart-1.ogg")), "") << "the cut stream got an end-of-stream page";
}

TEST_F(OggFilesTest, PageChecksumsMatchThoseOfTheEncoder) {
    const std::string bytes = source("a.ogg");
    for (std::size_t offset : pageOffsets(bytes)) {
        OggPage page;
        ASSERT_EQ(parseOggPage(bytes, offset, page), OggPageStatus::Page);
        const std::string_view stored(bytes.data() + offset + 22, 4);
        const std::uint32_t checksum = oggPageChecksum(std::string_view(bytes).substr(offset, page.pageBytes));
        std::string expected;
        for (int i = 0; i < 4; ++i) {
            expected.push_back(static_cast<char>((checksum >> (8 * i)) & 0xFF));
        }
        EXPECT_EQ(stored, expected) << "page at " << offset;
    }
}

TEST_F(OggFilesTest, VorbisBitrateProbe) {
    OggStreamWriter writer;
    const std::string a = source("a.ogg");
    EXPECT_EQ(writer.probeBitrate(a.data(), a.size()), 128);
    const std::string f = source("f.ogg");
    EXPECT_EQ(writer.probeBitrate(f.data(), f.size()), 96);
    EXPECT_EQ(writer.probeFormat(a.data(), a.size()), StreamKind::OggVorbis);
    // Junk before the first page is passed over.
    const std::string late = "junk" + a.substr(0, 58);
    EXPECT_EQ(writer.probeBitrate(late.data(), late.size()), 128);
}

int probeExact(const std::string& bytes) {
    auto block = std::make_unique<char[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), block.get());
    OggStreamWriter writer;
    return writer.probeBitrate(block.get(), bytes.size());
}

TEST(OggProbe, NeverReadsOutsideItsData) {
    EXPECT_EQ(probeExact(""), 0);
    EXPECT_EQ(probeExact(std::string(100, 'x')), 0);
    EXPECT_EQ(probeExact(std::string(60, 'x') + "OggS"), 0);
    EXPECT_EQ(probeExact(std::string(60, 'x') + "Og"), 0);
    const std::string header = oggPage(2, 1, 0, std::string("\x01vorbis", 7) + std::string(23, '\0'));
    EXPECT_EQ(probeExact(header.substr(0, 50)), 0);
    // An Opus stream has no Vorbis bit rate.
    EXPECT_EQ(probeExact(oggPage(2, 1, 0, "OpusHead" + std::string(11, '\1'))), 0);
}

TEST(OggUnitParser, PagesThatContinueAPacketStayWithItsFirstPage) {
    const std::string packet(255 * 3, 'p');
    const std::string head = oggPage(2, 7, 0, std::string("\x01vorbis", 7) + std::string(23, 'i'));
    const std::string setup = oggPage(0, 7, 1, std::string(100, 'c') + std::string(50, 's'));
    const std::string split1 = oggPage(0, 7, 2, packet, true);
    const std::string split2 = oggPage(1, 7, 3, packet, true);
    const std::string split3 = oggPage(1, 7, 4, "end");
    const std::string plain = oggPage(0, 7, 5, "x");
    // An orphan: the rest of a packet whose start was never seen.
    const std::string stream = oggPage(1, 7, 9, "orphan") + head + setup + split1 + split2 + split3 + plain;

    OggUnitParser parser;
    std::vector<std::string> units;
    for (char byte : stream) {
        parser.push(&byte, 1, [&](const OggUnitParser::Unit& unit) { units.emplace_back(unit.bytes); });
    }
    ASSERT_EQ(units.size(), 4u);
    EXPECT_EQ(units[0], head);  // not waiting for the next page: the packet ended
    EXPECT_EQ(units[1], setup);
    EXPECT_EQ(units[2], split1 + split2 + split3);
    EXPECT_EQ(units[3], plain) << "a page that ends its packet is complete without waiting for the next";
    EXPECT_EQ(parser.heldBytes(), 0u);
}

TEST(OggUnitParser, HugeClaimsAndRandomBytesStayInsideTheData) {
    // A page claiming 255 segments of 255 bytes, cut short: it waits.
    std::string claim("OggS\0\0", 6);
    claim.append(20, '\0');
    claim.push_back(static_cast<char>(255));
    claim.append(255, static_cast<char>(255));
    claim.append(1000, 'd');
    OggUnitParser parser;
    int units = 0;
    parser.push(claim.data(), claim.size(), [&](const OggUnitParser::Unit&) { ++units; });
    EXPECT_EQ(units, 0);
    EXPECT_EQ(parser.heldBytes(), claim.size());

    std::mt19937 random(13);
    for (int round = 0; round < 300; ++round) {
        std::string bytes(random() % 4000, '\0');
        for (char& byte : bytes) {
            byte = static_cast<char>(random() % 256);
        }
        // Sprinkle capture patterns and first-page flags.
        for (int i = 0; i < 5 && bytes.size() > 10; ++i) {
            const std::size_t at = random() % (bytes.size() - 6);
            bytes.replace(at, 6, std::string("OggS\0", 5) + static_cast<char>(random() % 8));
        }
        OggStreamWriter writer;
        writer.setMaxBuffer(524288);
        for (std::size_t offset = 0; offset < bytes.size();) {
            const std::size_t chunk = std::min<std::size_t>(random() % 500 + 1, bytes.size() - offset);
            auto block = std::make_unique<char[]>(chunk);
            std::copy_n(bytes.data() + offset, chunk, block.get());
            writer.writeRaw(block.get(), chunk);
            offset += chunk;
        }
        probeExact(bytes);
        probeExact(bytes.substr(0, bytes.size() / 2));
    }
}

TEST(OggStreamWriter, BufferTrimKeepsWholeUnits) {
    const std::string headers = test::oggHeaderPages(7);
    OggStreamWriter writer;
    writer.setMaxBuffer(524288);
    writer.writeRaw(headers.data(), headers.size());
    // Units of two pages each (the second continues the first's packet).
    std::string units;
    for (unsigned i = 0; i < 200; ++i) {
        const std::string unit =
            oggPage(0, 7, 2 + 2 * i, std::string(255 * 6, static_cast<char>('a' + i % 26)), true) +
            oggPage(1, 7, 3 + 2 * i, std::string(1000, static_cast<char>('a' + i % 26)));
        units += unit;
        writer.writeRaw(unit.data(), unit.size());
    }
    ASSERT_LT(writer.bufferedBytes(), 524288u + headers.size());
    test::TempFolder folder;
    ASSERT_EQ(writer.open(folder.file("trim.ogg")), WriteResult::Ok);
    writer.close();
    const std::string file = test::withoutPageNumbering(test::readFile(folder.file("trim.ogg")));
    ASSERT_GT(file.size(), headers.size());
    const std::string kept = file.substr(headers.size());
    EXPECT_TRUE(kept == test::withoutPageNumbering(units.substr(units.size() - kept.size())));
    OggPage first;
    ASSERT_EQ(parseOggPage(kept, 0, first), OggPageStatus::Page);
    EXPECT_FALSE(first.continued());
    EXPECT_LE(kept.size(), 524288u);
    EXPECT_GT(kept.size(), 471860u - 2 * (255 * 6 + 1000 + 2 * 40));
}

TEST(OggStreamWriter, NoBufferingBelowOneStepButHeadersAreKept) {
    const std::string headers = test::oggHeaderPages(7);
    const std::string audio = oggPage(0, 7, 2, "audio");
    OggStreamWriter writer;
    writer.setMaxBuffer(500000);
    const std::string stream = headers + audio;
    writer.writeRaw(stream.data(), stream.size());
    test::TempFolder folder;
    ASSERT_EQ(writer.open(folder.file("x.ogg")), WriteResult::Ok);
    writer.writeRaw(audio.data(), audio.size());
    writer.close();
    EXPECT_EQ(test::withoutPageNumbering(test::readFile(folder.file("x.ogg"))),
              test::withoutPageNumbering(headers + audio));
}

TEST(OggStreamWriter, AFailedWriteIsReportedAndThePagesKept) {
    const std::string headers = test::oggHeaderPages(7);
    const std::string audio = oggPage(0, 7, 2, "audio");
    OggStreamWriter writer;
    writer.setMaxBuffer(524288);
    writer.writeRaw(headers.data(), headers.size());
    EXPECT_EQ(writer.open("/dev/full"), WriteResult::WriteFailed);
    EXPECT_FALSE(writer.isOpen());
    ASSERT_EQ(writer.open("/dev/null"), WriteResult::Ok);
    writer.close();
    test::TempFolder folder;
    EXPECT_EQ(writer.open(folder.file("missing/x.ogg")), WriteResult::NotCreated);
    writer.writeRaw(audio.data(), audio.size());
    EXPECT_EQ(writer.bufferedBytes(), headers.size() + audio.size());
}

}  // namespace
}  // namespace korvanel
