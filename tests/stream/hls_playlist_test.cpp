#include "stream/hls_playlist.h"

#include <gtest/gtest.h>

namespace korvanel {
namespace {

const StreamUrl kBase = *StreamUrl::parse("https://radio.example/live/master.m3u8?token=1");

TEST(HlsPlaylist, IsRecognisedByItsTagsNotByItsName) {
    EXPECT_TRUE(HlsPlaylist::recognise("#EXTM3U\n#EXT-X-TARGETDURATION:6\n#EXTINF:6,\na.ts\n"));
    EXPECT_TRUE(HlsPlaylist::recognise("\xEF\xBB\xBF#EXTM3U\r\n#EXT-X-STREAM-INF:BANDWIDTH=1\r\nv.m3u8\r\n"));
    // An extended station list and a plain one stay station lists.
    EXPECT_FALSE(HlsPlaylist::recognise("#EXTM3U\n#EXTINF:-1,Radio\nhttp://radio.example/live\n"));
    EXPECT_FALSE(HlsPlaylist::recognise("http://radio.example/live\n"));
    EXPECT_FALSE(HlsPlaylist::recognise("#EXT-X-TARGETDURATION:6\n#EXTM3U\n"));
    EXPECT_FALSE(HlsPlaylist::parse("[playlist]\nFile1=http://x/\n", kBase));
}

TEST(HlsPlaylist, MasterVariantsResolveAgainstThePlaylistAndTheBandwidthChooses) {
    const auto master = HlsPlaylist::parse("#EXTM3U\n"
                                           "#EXT-X-STREAM-INF:BANDWIDTH=128000,CODECS=\"mp4a.40.2,mp4a.40.5\"\n"
                                           "mid/index.m3u8\n"
                                           "#EXT-X-STREAM-INF:NAME=\"Low, mono\",BANDWIDTH=32000\n"
                                           "/low.m3u8\n"
                                           "#EXT-X-STREAM-INF:BANDWIDTH=320000\n"
                                           "http://other.example/high.m3u8\n"
                                           "#EXT-X-STREAM-INF:BANDWIDTH=999\n"
                                           "ftp://nowhere/list.m3u8\n",
                                           kBase);
    ASSERT_TRUE(master);
    EXPECT_EQ(master->kind, HlsPlaylist::Kind::Master);
    ASSERT_EQ(master->variants.size(), 3u);
    EXPECT_EQ(master->variants[0].address, "https://radio.example/live/mid/index.m3u8");
    EXPECT_EQ(master->variants[0].codecs, "mp4a.40.2,mp4a.40.5");
    EXPECT_EQ(master->variants[1].address, "https://radio.example/low.m3u8");
    EXPECT_EQ(master->variants[1].name, "Low, mono");
    EXPECT_EQ(master->variants[1].bandwidth, 32000u);
    EXPECT_EQ(master->chooseVariant(0)->bandwidth, 320000u);
    EXPECT_EQ(master->chooseVariant(200000)->bandwidth, 128000u);
    EXPECT_EQ(master->chooseVariant(128000)->bandwidth, 128000u);
    EXPECT_EQ(master->chooseVariant(1000)->bandwidth, 32000u);  // none fits: the lowest
    EXPECT_EQ(HlsPlaylist().chooseVariant(0), nullptr);
}

TEST(HlsPlaylist, MediaSegmentsCarryNumbersTitlesBreaksAndKeys) {
    const auto media = HlsPlaylist::parse("#EXTM3U\n"
                                          "#EXT-X-TARGETDURATION:6\n"
                                          "#EXT-X-MEDIA-SEQUENCE:7001\n"
                                          "#EXTINF:5.96,title=\"Song\",artist=\"Band\",url=\"x\"\n"
                                          "seg7001.ts\n"
                                          "#EXT-X-KEY:METHOD=AES-128,URI=\"../keys/k1\",IV=0x0F0E0D0C0B0A09080706050403020100\n"
                                          "#EXT-X-DISCONTINUITY\n"
                                          "#EXTINF:6,subtitle=\"not this\"\n"
                                          "https://cdn.example/seg7002.aac\n"
                                          "#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"k2\",IV=0x12\n"
                                          "#EXTINF:6,\n"
                                          "seg7003.ts\n",
                                          kBase);
    ASSERT_TRUE(media);
    EXPECT_EQ(media->kind, HlsPlaylist::Kind::Media);
    EXPECT_DOUBLE_EQ(media->targetSeconds, 6.0);
    EXPECT_FALSE(media->ended);
    ASSERT_EQ(media->segments.size(), 3u);
    const auto& first = media->segments[0];
    EXPECT_EQ(first.sequence, 7001u);
    EXPECT_DOUBLE_EQ(first.seconds, 5.96);
    EXPECT_EQ(first.address, "https://radio.example/live/seg7001.ts");
    EXPECT_EQ(first.title, "Band - Song");
    EXPECT_EQ(first.key.method, "NONE");
    const auto& second = media->segments[1];
    EXPECT_EQ(second.sequence, 7002u);
    EXPECT_TRUE(second.discontinuity);
    EXPECT_EQ(second.title, "");
    EXPECT_EQ(second.key.method, "AES-128");
    EXPECT_EQ(second.key.address, "https://radio.example/keys/k1");
    ASSERT_TRUE(second.key.iv);
    EXPECT_EQ((*second.key.iv)[0], 0x0F);
    EXPECT_EQ((*second.key.iv)[15], 0x00);
    const auto& third = media->segments[2];
    EXPECT_FALSE(third.discontinuity);
    EXPECT_EQ(third.key.method, "SAMPLE-AES");
    EXPECT_FALSE(third.key.iv);  // of the wrong length

    EXPECT_TRUE(HlsPlaylist::parse("#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\na.ts\n#EXT-X-ENDLIST\n", kBase)->ended);
    // A media sequence after the first segment does not number backwards.
    const auto renumbered = HlsPlaylist::parse(
        "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:120\n#EXTINF:2,\na.ts\n#EXT-X-MEDIA-SEQUENCE:1\nb.ts\n", kBase);
    ASSERT_EQ(renumbered->segments.size(), 2u);
    EXPECT_EQ(renumbered->segments[1].sequence, 121u);
}

TEST(HlsPlaylist, InitialisationSectionsHoldForTheSegmentsAfterThemWithTheKeyOfTheirPlace) {
    const std::optional<StreamUrl> base = StreamUrl::parse("http://host/radio/live.m3u8");
    ASSERT_TRUE(base);
    const std::optional<HlsPlaylist> playlist = HlsPlaylist::parse(
        "#EXTM3U\n#EXT-X-VERSION:7\n#EXT-X-TARGETDURATION:2\n"
        "#EXT-X-MAP:URI=\"init.mp4\"\n#EXTINF:2,\na.m4s\n#EXTINF:2,\nb.m4s\n"
        "#EXT-X-KEY:METHOD=AES-128,URI=\"k\",IV=0x0F0E0D0C0B0A09080706050403020100\n"
        "#EXT-X-MAP:URI=\"/all.mp4\",BYTERANGE=\"720@1024\"\n#EXTINF:2,\nc.m4s\n"
        "#EXT-X-MAP:URI=\"ftp://elsewhere/x\"\n#EXTINF:2,\nd.m4s\n",
        *base);
    ASSERT_TRUE(playlist);
    ASSERT_EQ(playlist->segments.size(), 4u);
    const auto& segments = playlist->segments;
    ASSERT_TRUE(segments[0].map && segments[1].map && segments[2].map);
    EXPECT_EQ(segments[0].map->address, "http://host/radio/init.mp4");
    EXPECT_TRUE(*segments[0].map == *segments[1].map) << "one section for the segments after it";
    EXPECT_EQ(segments[0].map->key.method, "NONE");
    EXPECT_EQ(segments[2].map->address, "http://host/all.mp4");
    EXPECT_EQ(segments[2].map->length, 720u);
    EXPECT_EQ(segments[2].map->offset, 1024u);
    EXPECT_EQ(segments[2].map->key.method, "AES-128") << "a section named after a key is encrypted with it";
    EXPECT_FALSE(segments[3].map.has_value()) << "an address we cannot fetch names no section";
}

TEST(HlsPlaylist, HostilePlaylistsParseInBoundedMemory) {
    std::string huge = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:5\n";
    for (int i = 0; i < 100000; ++i) {
        huge += "#EXTINF:2,\ns" + std::to_string(i) + ".ts\n";
    }
    huge += "#EXTINF:2,title=\"" + std::string(2 * HlsPlaylist::kMaxLineBytes, 'x') + "\"\n";
    huge += std::string(HlsPlaylist::kMaxLineBytes + 1, 'y') + "\n";
    const auto parsed = HlsPlaylist::parse(huge, kBase);
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->segments.size(), HlsPlaylist::kMaxSegments);
    // The newest are kept, numbered as the playlist numbers them.
    EXPECT_EQ(parsed->segments.back().sequence, 5u + 99999u);
    EXPECT_EQ(parsed->segments.back().address, "https://radio.example/live/s99999.ts");
    EXPECT_EQ(parsed->segments.front().sequence, 5u + 100000u - HlsPlaylist::kMaxSegments);

    std::string variants = "#EXTM3U\n";
    for (int i = 0; i < 1000; ++i) {
        variants += "#EXT-X-STREAM-INF:BANDWIDTH=" + std::to_string(i) + ",CODECS=\"unterminated\nv.m3u8\n";
    }
    EXPECT_EQ(HlsPlaylist::parse(variants, kBase)->variants.size(), HlsPlaylist::kMaxVariants);
}

}  // namespace
}  // namespace korvanel
