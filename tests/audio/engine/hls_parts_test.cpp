// The pieces that turn HLS segments into audio and titles: ID3 tags in every
// version and text encoding, and the transport stream demuxer fed packets
// written here, whole, split anywhere and among garbage.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/engine/id3_tag.h"
#include "audio/engine/mpeg_ts_demuxer.h"

namespace korvanel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string syncSafe(std::size_t size) {
    return {char(size >> 21 & 0x7F), char(size >> 14 & 0x7F), char(size >> 7 & 0x7F), char(size & 0x7F)};
}

std::string bigEndian(std::size_t size, int count) {
    std::string out;
    for (int i = count - 1; i >= 0; --i) {
        out.push_back(static_cast<char>(size >> (8 * i) & 0xFF));
    }
    return out;
}

std::string tag(char version, char flags, const std::string& body) {
    return std::string("ID3") + version + std::string(1, '\0') + flags + syncSafe(body.size()) + body;
}

std::optional<std::string> titleOf(const std::string& bytes) {
    const std::optional<id3::Names> names = id3::names(bytesOf(bytes));
    return names ? std::optional<std::string>(names->track) : std::nullopt;
}

TEST(Id3Tag, EveryVersionAndTextEncodingNamesTheTrack) {
    // 2.4: sync-safe frame sizes, UTF-8.
    const std::string utf8Title = "\x03" "Caf\xC3\xA9";
    EXPECT_EQ(titleOf(tag(4, 0,
                          "TPE1" + syncSafe(7) + std::string(2, '\0') + "\x03" "Artist" +
                              "TIT2" + syncSafe(utf8Title.size()) + std::string(2, '\0') + utf8Title)),
              "Artist - Caf\xC3\xA9");
    // 2.2: three-letter ids and sizes, ISO-8859-1.
    EXPECT_EQ(titleOf(tag(2, 0, "TT2" + bigEndian(5, 3) + std::string("\0Caf\xE9", 5))), "Caf\xC3\xA9");
    // 2.3: UTF-16 big-endian without a mark, a pair of surrogates, text after a NUL ignored.
    const std::string utf16 = std::string("\x02\x00H\x00i\xD8\x3D\xDE\x00\x00\x00\x00X", 13);
    EXPECT_EQ(titleOf(tag(3, 0, "TIT2" + bigEndian(utf16.size(), 4) + std::string(2, '\0') + utf16)),
              "Hi\xF0\x9F\x98\x80");
    // Unsynchronised: each 0xFF 0x00 stands for 0xFF (here in ISO-8859-1's ÿ).
    EXPECT_EQ(titleOf(tag(3, '\x80', "TIT2" + bigEndian(3, 4) + std::string(2, '\0') + std::string("\0\xFF\x00y", 4))),
              "\xC3\xBFy");
    // The station's own name, alone.
    const auto station = id3::names(bytesOf(tag(3, 0, "TRSN" + bigEndian(10, 4) + std::string(2, '\0') + "\x03" "Radio One")));
    ASSERT_TRUE(station);
    EXPECT_EQ(station->track, "");
    EXPECT_EQ(station->station, "Radio One");
    // Neither frame, or only blanks: no title.
    EXPECT_EQ(titleOf(tag(3, 0, "TALB" + bigEndian(4, 4) + std::string(2, '\0') + std::string("\0abc", 4))),
              std::nullopt);
    EXPECT_EQ(titleOf(tag(3, 0, "TIT2" + bigEndian(3, 4) + std::string(2, '\0') + std::string("\0  ", 3))),
              std::nullopt);
}

TEST(Id3Tag, LengthsThatLieAreCaughtAtTheTagsBounds) {
    EXPECT_EQ(id3::tagLength(bytesOf("ID3\x04")), std::nullopt) << "too short to tell";
    EXPECT_EQ(id3::tagLength(bytesOf(std::string("XYZ\x04\x00\x00\x00\x00\x00\x05", 10))), std::nullopt);
    EXPECT_EQ(id3::tagLength(bytesOf(std::string("ID3\x04\x00\x00\x00\x00\x00\x80", 10))), std::nullopt)
        << "a size byte with its high bit set is no sync-safe size";
    EXPECT_EQ(id3::tagLength(bytesOf(std::string("ID3\x04\x00\x10\x00\x00\x01\x00", 10))), 10u + 128 + 10)
        << "a footer counts";
    // A frame that claims more than the tag holds, and a tag cut short.
    const std::string lying = tag(3, 0, "TIT2" + bigEndian(1000, 4) + std::string(2, '\0') + "\x03title");
    EXPECT_EQ(titleOf(lying), std::nullopt);
    const std::string whole = tag(3, 0, "TIT2" + bigEndian(6, 4) + std::string(2, '\0') + "\x03title");
    EXPECT_EQ(titleOf(whole.substr(0, whole.size() - 1)), std::nullopt);
    EXPECT_EQ(titleOf(whole), "title");
}

// A 188-byte packet; a short payload is padded with an adaptation field.
Bytes packet(int pid, bool unitStart, const Bytes& payload) {
    Bytes out = {0x47, static_cast<std::uint8_t>((unitStart ? 0x40 : 0) | (pid >> 8)), static_cast<std::uint8_t>(pid & 0xFF)};
    if (payload.size() < 184) {
        const std::size_t field = 183 - payload.size();
        out.push_back(0x30);
        out.push_back(static_cast<std::uint8_t>(field));
        if (field > 0) {
            out.push_back(0x00);
            out.insert(out.end(), field - 1, 0xFF);
        }
    } else {
        out.push_back(0x10);
    }
    out.insert(out.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(payload.size(), 184)));
    return out;
}

Bytes section(std::uint8_t table, const Bytes& afterHeader) {
    const std::size_t length = 5 + afterHeader.size() + 4;
    Bytes out = {0x00, table, static_cast<std::uint8_t>(0xB0 | length >> 8), static_cast<std::uint8_t>(length & 0xFF),
                 0x00, 0x01, 0xC1, 0x00, 0x00};
    out.insert(out.end(), afterHeader.begin(), afterHeader.end());
    out.insert(out.end(), 4, 0xAA);  // the CRC, not checked
    return out;
}

Bytes pes(std::uint8_t streamId, const Bytes& payload) {
    Bytes out = {0x00, 0x00, 0x01, streamId, 0x00, 0x00, 0x80, 0x80, 0x05, 0x21, 0x00, 0x01, 0x00, 0x01};
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

struct Demuxed {
    std::string audio;
    std::vector<std::string> tags;
};

Demuxed demux(const Bytes& stream, std::size_t chunk) {
    MpegTsDemuxer demuxer;
    Demuxed out;
    const auto audio = [&](std::span<const std::uint8_t> bytes) {
        out.audio.append(bytes.begin(), bytes.end());
        return true;
    };
    const auto tags = [&](std::span<const std::uint8_t> bytes) {
        out.tags.emplace_back(bytes.begin(), bytes.end());
        return true;
    };
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
        const std::size_t count = std::min(chunk, stream.size() - at);
        EXPECT_TRUE(demuxer.feed(std::span<const std::uint8_t>(stream.data() + at, count), audio, tags));
    }
    demuxer.flush(tags);
    EXPECT_EQ(demuxer.audio(), MpegTsDemuxer::Audio::Aac);
    return out;
}

TEST(MpegTsDemuxer, GivesTheAudioStreamsBytesAndWholeId3TagsHoweverTheStreamIsCut) {
    const Bytes pat = section(0x00, {0x00, 0x01, 0xF0, 0x00});  // program 1 at PID 0x1000
    const Bytes pmt = section(0x02, {0xE1, 0x01, 0xF0, 0x00,    // PCR PID, no program descriptors
                                     0x15, 0xE1, 0x02, 0xF0, 0x00,  // ID3 timed metadata at 0x102
                                     0x0F, 0xE1, 0x01, 0xF0, 0x00,  // ADTS AAC at 0x101
                                     0x0F, 0xE1, 0x03, 0xF0, 0x00});  // a second audio stream: ignored
    Bytes frames(400);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        frames[i] = static_cast<std::uint8_t>(i * 7);
    }
    const Bytes firstPes = pes(0xC0, Bytes(frames.begin(), frames.begin() + 300));
    const std::string id3 = tag(4, 0, "TIT2" + syncSafe(6) + std::string(2, '\0') + "\x03Title");
    Bytes stream;
    const auto add = [&](const Bytes& bytes) { stream.insert(stream.end(), bytes.begin(), bytes.end()); };
    add(packet(0, true, pat));
    add({0x00, 0x13, 0x37});  // garbage between packets
    add(packet(0x1000, true, pmt));
    add(packet(0x102, true, pes(0xBD, bytesOf(id3))));
    add(packet(0x101, true, Bytes(firstPes.begin(), firstPes.begin() + 184)));
    add(packet(0x103, true, pes(0xC1, Bytes(50, 0x55))));
    add(packet(0x101, false, Bytes(firstPes.begin() + 184, firstPes.end())));
    add(packet(0x101, true, pes(0xC0, Bytes(frames.begin() + 300, frames.end()))));
    add({0x47, 0x01});  // a packet cut off at the segment's end

    for (const std::size_t chunk : {stream.size(), std::size_t{1}, std::size_t{187}, std::size_t{189}}) {
        const Demuxed out = demux(stream, chunk);
        EXPECT_EQ(out.audio, std::string(frames.begin(), frames.end())) << "chunk " << chunk;
        ASSERT_EQ(out.tags.size(), 1u) << "chunk " << chunk;
        EXPECT_EQ(titleOf(std::string(out.tags[0])), "Title");
    }
}

TEST(MpegTsDemuxer, AudioWeCannotDecodeIsNamedAsSuch) {
    MpegTsDemuxer demuxer;
    const Bytes pat = packet(0, true, section(0x00, {0x00, 0x01, 0xE0, 0x20}));
    const Bytes pmt = packet(0x20, true, section(0x02, {0xE1, 0x01, 0xF0, 0x00, 0x81, 0xE1, 0x01, 0xF0, 0x00}));
    const auto none = [](std::span<const std::uint8_t>) { return true; };
    EXPECT_EQ(demuxer.audio(), MpegTsDemuxer::Audio::Unknown);
    demuxer.feed(pat, none, none);
    demuxer.feed(pmt, none, none);
    EXPECT_EQ(demuxer.audio(), MpegTsDemuxer::Audio::Unsupported) << "AC-3";
    EXPECT_TRUE(MpegTsDemuxer::looksLikeTransportStream(pat));
    EXPECT_FALSE(MpegTsDemuxer::looksLikeTransportStream(bytesOf("<html>")));
}

}  // namespace
}  // namespace korvanel
