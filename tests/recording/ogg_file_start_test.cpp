#include "recording/ogg_file_start.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "recording/file_tags.h"
#include "recording/ogg_file_output.h"
#include "tests/support/audio_file_frames.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

std::string littleEndian32(std::uint32_t value) {
    std::string out;
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return out;
}

std::string commentBlock(const std::string& vendor, const std::vector<std::string>& entries) {
    std::string block = littleEndian32(static_cast<std::uint32_t>(vendor.size())) + vendor +
                        littleEndian32(static_cast<std::uint32_t>(entries.size()));
    for (const std::string& entry : entries) {
        block += littleEndian32(static_cast<std::uint32_t>(entry.size())) + entry;
    }
    return block;
}

std::string withGranule(std::string page, std::int64_t granule) {
    for (int i = 0; i < 8; ++i) {
        page[6 + static_cast<std::size_t>(i)] = static_cast<char>((static_cast<std::uint64_t>(granule) >> (8 * i)) & 0xFF);
    }
    return page;
}

// An OpusHead with the pre-skip given.
std::string opusHead(unsigned preSkip) {
    std::string head = "OpusHead";
    head += '\x01';
    head += '\x02';
    head += static_cast<char>(preSkip & 0xFF);
    head += static_cast<char>(preSkip >> 8);
    head += littleEndian32(48000);
    head += std::string(3, '\0');
    return head;
}

struct Page {
    unsigned char flags;
    std::int64_t granule;
    std::string body;
};

// The pages one after another, the packets they complete joined again.
std::vector<Page> pagesOf(const std::string& bytes, std::vector<std::string>& packets) {
    std::vector<Page> pages;
    std::string packet;
    OggPage page;
    for (std::size_t at = 0; at < bytes.size(); at += page.pageBytes) {
        if (parseOggPage(bytes, at, page) != OggPageStatus::Page) {
            ADD_FAILURE() << "no page at " << at;
            break;
        }
        const std::string whole = bytes.substr(at, page.pageBytes);
        EXPECT_EQ(littleEndian32(oggPageChecksum(whole)), whole.substr(22, 4)) << "checksum of the page at " << at;
        std::int64_t granule = 0;
        for (int i = 7; i >= 0; --i) {
            granule = static_cast<std::int64_t>(static_cast<std::uint64_t>(granule) << 8 |
                                                static_cast<unsigned char>(whole[6 + static_cast<std::size_t>(i)]));
        }
        pages.push_back({page.headerType, granule, whole.substr(page.headerBytes)});
        std::size_t body = page.headerBytes;
        for (std::size_t i = 27; i < page.headerBytes; ++i) {
            const auto lacing = static_cast<unsigned char>(whole[i]);
            packet += whole.substr(body, lacing);
            body += lacing;
            if (lacing < 255) {
                packets.push_back(packet);
                packet.clear();
            }
        }
    }
    return pages;
}

TEST(OggFileStart, EachCodecsCommentsCarryTheFilesTagsAndKeepTheRest) {
    const FileTags tags = fileTagsFor("Artist B - Second", "Radio \xC3\xA9t\xC3\xA9");
    EXPECT_EQ(tags.artist, "Artist B");
    EXPECT_EQ(tags.title, "Second");
    EXPECT_EQ(fileTagsFor(" - odd", "").title, " - odd") << "no artist without a name before the dash";
    const std::string comments = commentBlock("vendor 1", {"title=Old", "ENCODER=x", "Artist=Old", "ORGANIZATION=Old"});
    const std::string expected = commentBlock(
        "vendor 1", {"ENCODER=x", "TITLE=Second", "ARTIST=Artist B", "ORGANIZATION=Radio \xC3\xA9t\xC3\xA9"});
    const std::string flacMapping = std::string("\x7F" "FLAC\x01\x00\x00\x01" "fLaC\x00\x00\x00\x22", 17) +
                                    std::string(34, '\x11');
    const std::string flacComments = std::string("\x84\x00\x00", 3) + static_cast<char>(comments.size()) + comments;
    struct Case {
        OggCodec codec;
        std::vector<std::string> headers;
        std::string comment;  // the comment packet the file must get
    };
    const std::vector<Case> cases = {
        {OggCodec::Vorbis,
         {std::string("\x01vorbis", 7) + std::string(23, '\x01'), std::string("\x03vorbis", 7) + comments + '\x01',
          std::string("\x05vorbis", 7) + "setup"},
         std::string("\x03vorbis", 7) + expected + '\x01'},
        {OggCodec::Opus, {opusHead(312), "OpusTags" + comments}, "OpusTags" + expected},
        {OggCodec::Flac, {flacMapping, flacComments},
         std::string("\x84\x00\x00", 3) + static_cast<char>(expected.size()) + expected},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(static_cast<int>(test.codec));
        // Header packets as streams lay them out: the first alone, the rest together.
        const std::vector<std::string> rest(test.headers.begin() + 1, test.headers.end());
        const std::string stream = test::oggPage(OggPage::kFirstPage, 77, 0, test.headers[0]) +
                                   test::oggPageOfPackets(0, 77, 1, rest);
        const std::optional<std::string> retagged = oggHeadersWithTags(stream, test.codec, tags);
        ASSERT_TRUE(retagged.has_value());
        std::vector<std::string> packets;
        const std::vector<Page> pages = pagesOf(*retagged, packets);
        ASSERT_EQ(packets.size(), test.headers.size());
        EXPECT_EQ(packets[0], test.headers[0]);
        EXPECT_EQ(packets[1], test.comment);
        for (std::size_t i = 2; i < packets.size(); ++i) {
            EXPECT_EQ(packets[i], test.headers[i]);
        }
        // Each header packet on pages of its own: audio never shares one.
        ASSERT_EQ(pages.size(), test.headers.size());
        for (std::size_t i = 0; i < pages.size(); ++i) {
            EXPECT_EQ(pages[i].flags, i == 0 ? OggPage::kFirstPage : 0);
            EXPECT_EQ(pages[i].granule, 0);
        }
        // Headers whose comments cannot be read are left to the caller.
        EXPECT_FALSE(oggHeadersWithTags(stream.substr(0, stream.size() - 5), test.codec, tags).has_value());
    }
}

TEST(OggFileStart, ALongCommentGoesOnOverPagesThatEndNoPacket) {
    const std::string small = "OpusTags" + commentBlock("v", {});
    const std::string valid =
        test::oggPage(OggPage::kFirstPage, 5, 0, opusHead(0)) + test::oggPageOfPackets(0, 5, 1, {small});
    const std::optional<std::string> grown = oggHeadersWithTags(valid, OggCodec::Opus, FileTags{std::string(70000, 't'), "", ""});
    ASSERT_TRUE(grown.has_value());
    std::vector<std::string> packets;
    const std::vector<Page> pages = pagesOf(*grown, packets);
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[1].flags, 0);
    EXPECT_EQ(pages[1].granule, -1) << "a page that ends no packet has no position";
    EXPECT_EQ(pages[2].flags, OggPage::kContinued);
    EXPECT_EQ(pages[2].granule, 0);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[1].size(), small.size() + 4 + 6 + 70000);
}

TEST(OggFileStart, PacketsAndFramesSayHowManySamplesTheyHold) {
    EXPECT_EQ(opusPacketSamples(std::string(1, static_cast<char>(0 << 3 | 0))), 480);   // SILK 10 ms
    EXPECT_EQ(opusPacketSamples(std::string(1, static_cast<char>(3 << 3 | 1))), 5760);  // 2 x 60 ms
    EXPECT_EQ(opusPacketSamples(std::string(1, static_cast<char>(13 << 3 | 0))), 960);  // hybrid 20 ms
    EXPECT_EQ(opusPacketSamples(std::string{static_cast<char>(16 << 3 | 3), 3}), 360);  // 3 x 2.5 ms
    EXPECT_EQ(opusPacketSamples(std::string{static_cast<char>(31 << 3 | 3), 48}), 5760) << "never more than 120 ms";
    EXPECT_EQ(opusPacketSamples(""), 0);

    const auto flac = [](unsigned char code, const std::string& rest) {
        return flacFrameSamples(std::string{'\xFF', '\xF8', static_cast<char>(code << 4 | 9), '\x18'} + rest);
    };
    EXPECT_EQ(flac(1, std::string(1, '\0')), 192);
    EXPECT_EQ(flac(2, std::string(1, '\0')), 576);
    EXPECT_EQ(flac(5, std::string(1, '\0')), 4608);
    EXPECT_EQ(flac(12, std::string(1, '\0')), 4096);
    EXPECT_EQ(flac(6, std::string("\x05\xFF", 2)), 256);                // 1-byte number, 8-bit size
    EXPECT_EQ(flac(7, std::string("\xC5\x80\x0F\xFF", 4)), 4096);        // 2-byte number, 16-bit size
    EXPECT_EQ(flac(7, std::string("\xC5\x80\x0F", 3)), 0) << "cut short";
    EXPECT_EQ(flac(6, std::string("\x80\x01", 2)), 0) << "a number cannot start with a continuation byte";
    EXPECT_EQ(flacFrameSamples(std::string("\xFF\xF0\x10\x18\x00", 5)), 0) << "no frame sync";
}

TEST(OggFileStart, AFileCutFromAStreamCountsItsTimeFromItsOwnStart) {
    const std::string headers =
        test::oggPage(OggPage::kFirstPage, 9, 0, opusHead(312)) + test::oggPageOfPackets(0, 9, 1, {"OpusTags"});
    const std::string twentyMs(1, static_cast<char>(31 << 3));  // CELT 20 ms, one frame
    const std::vector<std::string> three = {twentyMs + "a", twentyMs + "b", twentyMs + "c"};
    // Joined 10,000 samples in: the three packets end at 10,000 after the pre-skip.
    const std::string joined = withGranule(test::oggPageOfPackets(0, 9, 7, three), 312 + 10000);
    EXPECT_EQ(oggGranuleShift(joined, OggCodec::Opus, headers), 10000 - 3 * 960);
    // At the stream's own start nothing moves, nor for a start trimmed short.
    EXPECT_EQ(oggGranuleShift(withGranule(test::oggPageOfPackets(0, 9, 2, three), 312 + 2880), OggCodec::Opus, headers), 0);
    EXPECT_EQ(oggGranuleShift(withGranule(test::oggPageOfPackets(0, 9, 2, three), 100), OggCodec::Opus, headers), 0);
    // Vorbis keeps the positions it came with.
    EXPECT_EQ(oggGranuleShift(joined, OggCodec::Vorbis, headers), 0);

    const std::string frame{'\xFF', '\xF8', static_cast<char>(12 << 4 | 9), '\x18', '\x00'};  // 4096 samples
    EXPECT_EQ(oggGranuleShift(withGranule(test::oggPageOfPackets(0, 3, 9, {frame, frame}), 100000), OggCodec::Flac, ""),
              100000 - 8192);

    // Written through the file, every page moves back by the shift, and
    // pages that end no packet keep their mark.
    test::TempFolder folder;
    OggFileOutput file;
    ASSERT_TRUE(file.create(folder.file("cut.opus")));
    file.setGranuleShift(7120);
    ASSERT_TRUE(file.writePages(headers + joined + withGranule(joined, -1)));
    ASSERT_TRUE(file.close());
    std::vector<std::string> packets;
    const std::vector<Page> pages = pagesOf(test::readFile(folder.file("cut.opus")), packets);
    ASSERT_EQ(pages.size(), 4u);
    EXPECT_EQ(pages[0].granule, 0);
    EXPECT_EQ(pages[2].granule, 312 + 2880);
    EXPECT_EQ(pages[3].granule, -1);
}

}  // namespace
}  // namespace korvanel
