#include "audio/engine/fmp4_demuxer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/audio_file_tools.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// An fMP4 stream of a tone made by ffmpeg's HLS muxer: its initialisation
// section and its media segments.
struct Packaged {
    Bytes init;
    std::vector<Bytes> segments;
};

Packaged package(const test::TempFolder& folder, const std::vector<std::string>& codec) {
    std::vector<std::string> arguments = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                          "sine=frequency=440:sample_rate=44100", "-t", "2", "-ac", "2"};
    arguments.insert(arguments.end(), codec.begin(), codec.end());
    for (const char* argument : {"-f", "hls", "-hls_time", "1", "-hls_playlist_type", "vod", "-hls_segment_type",
                                 "fmp4", "-hls_fmp4_init_filename", "init.mp4", "-hls_segment_filename"}) {
        arguments.emplace_back(argument);
    }
    arguments.push_back(folder.file("p%d.m4s"));
    arguments.push_back(folder.file("v.m3u8"));
    Packaged packaged;
    if (test::runTool(arguments).exitCode != 0) {
        return packaged;
    }
    packaged.init = bytesOf(test::readFile(folder.file("init.mp4")));
    for (int i = 0;; ++i) {
        const std::string segment = test::readFile(folder.file("p" + std::to_string(i) + ".m4s"));
        if (segment.empty()) {
            break;
        }
        packaged.segments.push_back(bytesOf(segment));
    }
    return packaged;
}

Bytes demux(const Fmp4Track& track, const std::vector<Bytes>& segments, std::vector<std::size_t>* tagsAt = nullptr) {
    Bytes audio;
    for (const Bytes& segment : segments) {
        Fmp4Demuxer demuxer(track);
        const auto onAudio = [&](std::span<const std::uint8_t> bytes) {
            audio.insert(audio.end(), bytes.begin(), bytes.end());
            return true;
        };
        const auto onTag = [&](std::span<const std::uint8_t>) {
            if (tagsAt != nullptr) {
                tagsAt->push_back(audio.size());
            }
        };
        // In pieces of a network read's odd sizes.
        for (std::size_t at = 0; at < segment.size(); at += 1000) {
            demuxer.feed(std::span(segment).subspan(at, std::min<std::size_t>(1000, segment.size() - at)), onAudio, onTag);
        }
        demuxer.finish(onAudio, onTag);
    }
    return audio;
}

TEST(Fmp4Demuxer, AacAndMp3FragmentsBecomeTheElementaryAudioTheDecoderKnows) {
    struct Case {
        std::vector<std::string> codec;
        Fmp4Track::Codec expected;
        const char* extension;
    };
    for (const Case& test : {Case{{"-c:a", "aac", "-b:a", "96k"}, Fmp4Track::Codec::Aac, ".aac"},
                             Case{{"-c:a", "libmp3lame", "-b:a", "128k"}, Fmp4Track::Codec::Mp3, ".mp3"}}) {
        SCOPED_TRACE(test.extension);
        test::TempFolder folder;
        const Packaged packaged = package(folder, test.codec);
        ASSERT_FALSE(packaged.segments.empty());
        std::string unsupported;
        const std::optional<Fmp4Track> track = Fmp4Track::parse(packaged.init, unsupported);
        ASSERT_TRUE(track.has_value()) << unsupported;
        EXPECT_EQ(track->codec, test.expected);
        if (test.expected == Fmp4Track::Codec::Aac) {
            EXPECT_EQ(track->profile, 1u);  // LC
            EXPECT_EQ(track->frequencyIndex, 4u);  // 44.1 kHz
            EXPECT_EQ(track->channelConfiguration, 2u);
        }
        const Bytes audio = demux(*track, packaged.segments);
        ASSERT_GT(audio.size(), 2u);
        EXPECT_EQ(audio[0], 0xFF);
        const std::string file = folder.file(std::string("out") + test.extension);
        test::writeFile(file, std::string(audio.begin(), audio.end()));
        EXPECT_NEAR(test::decodedSeconds(file), 2.0, 0.1) << "every sample, decoded without error";
    }
}

TEST(Fmp4Demuxer, InitialisationSectionsThatNameNoPlayableTrackAreRefused) {
    test::TempFolder folder;
    const Packaged ac3 = package(folder, {"-c:a", "ac3", "-b:a", "128k"});
    ASSERT_FALSE(ac3.init.empty());
    std::string unsupported;
    EXPECT_FALSE(Fmp4Track::parse(ac3.init, unsupported).has_value());
    EXPECT_EQ(unsupported, "ac-3");

    const Packaged aac = package(folder, {"-c:a", "aac"});
    ASSERT_FALSE(aac.init.empty());
    for (const std::size_t cut : {std::size_t{0}, std::size_t{8}, aac.init.size() / 2, aac.init.size() - 1}) {
        unsupported.clear();
        EXPECT_FALSE(Fmp4Track::parse(std::span(aac.init).first(cut), unsupported).has_value()) << cut;
    }
}

TEST(Fmp4Demuxer, TimedId3ComesBeforeItsFragmentAndHugeOrBrokenBoxesArePassedOver) {
    test::TempFolder folder;
    const Packaged packaged = package(folder, {"-c:a", "aac"});
    ASSERT_GE(packaged.segments.size(), 2u);
    std::string unsupported;
    const std::optional<Fmp4Track> track = Fmp4Track::parse(packaged.init, unsupported);
    ASSERT_TRUE(track.has_value());
    const Bytes clean = demux(*track, packaged.segments);

    const std::string id3 = std::string("ID3\x04\x00\x00\x00\x00\x00\x0B" "TIT2\x00\x00\x00\x01\x00\x00\x03", 20);
    const std::string body = std::string(4, '\0') + "https://aomedia.org/emsg/ID3" + '\0' + '\0' + std::string(16, '\0') + id3;
    const std::string emsg = std::string{0, 0, 0, static_cast<char>(8 + body.size())} + "emsg" + body;
    // A box that claims 64 MB, and free space, before the second segment's fragment.
    const std::string huge = std::string("\x04\x00\x00\x00" "skip", 8) + std::string(1000, 'x');
    std::vector<Bytes> segments = packaged.segments;
    segments[1].insert(segments[1].begin(), emsg.begin(), emsg.end());
    std::vector<std::size_t> tagsAt;
    EXPECT_EQ(demux(*track, segments, &tagsAt), clean);
    ASSERT_EQ(tagsAt.size(), 1u);
    EXPECT_EQ(tagsAt[0], demux(*track, {packaged.segments[0]}).size()) << "the tag comes where its fragment begins";

    std::vector<Bytes> withoutSecond = packaged.segments;
    withoutSecond.erase(withoutSecond.begin() + 1);
    segments[1] = bytesOf(huge);
    EXPECT_EQ(demux(*track, segments), demux(*track, withoutSecond)) << "the rest of that segment is passed over";
    segments[1] = bytesOf(std::string("\x00\x00\x00\x03" "moof", 8));
    EXPECT_EQ(demux(*track, segments), demux(*track, withoutSecond));
}

}  // namespace
}  // namespace korvanel
