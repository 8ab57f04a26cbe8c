#include "audio/stream_info.h"

#include <gtest/gtest.h>

#include <thread>

namespace korvanel {
namespace {

TEST(StreamInfo, StringSettersTrimWhiteSpaceAndEverySetterStampsTheChange) {
    std::int64_t now = 10;
    StreamInfo info([&] { return now; });
    EXPECT_EQ(info.lastChange(), 10);
    now = 20;
    info.setStationName(" \t My Station\r\n ");
    EXPECT_EQ(info.stationName(), "My Station");
    EXPECT_EQ(info.lastChange(), 20);
    now = 30;
    info.setStationUrl("\nhttp://radio.example/ ");
    info.setSource("  http://host:8000/live  ");
    info.setTitle("\t\t");
    EXPECT_EQ(info.stationUrl(), "http://radio.example/");
    EXPECT_EQ(info.source(), "http://host:8000/live");
    EXPECT_EQ(info.title(), "");
    now = 40;
    info.setBitrate(128);
    EXPECT_EQ(info.lastChange(), 40);
    now = 50;
    info.setKind(StreamKind::OggVorbis);
    EXPECT_EQ(info.lastChange(), 50);
}

TEST(StreamInfo, ClearingTheStreamKeepsTheStationAndResetClearsBoth) {
    StreamInfo info;
    info.setStationName("Name");
    info.setStationUrl("http://x/");
    info.setSource("http://x/live");
    info.setTitle("Song");
    info.setBitrate(64);
    info.setKind(StreamKind::Mp3);
    info.clearStream();
    const StreamInfo::Snapshot cleared = info.snapshot();
    EXPECT_EQ(cleared.stationName, "Name");
    EXPECT_EQ(cleared.stationUrl, "http://x/");
    EXPECT_EQ(cleared.source, "");
    EXPECT_EQ(cleared.title, "");
    EXPECT_EQ(cleared.bitrate, 0);
    EXPECT_EQ(cleared.kind, StreamKind::Other);
    info.reset();
    EXPECT_EQ(info.stationName(), "");
    EXPECT_EQ(info.stationUrl(), "");
}

TEST(StreamInfo, TitleChangeTestComparesTheTrimmedTitle) {
    StreamInfo info;
    EXPECT_TRUE(info.setTitleIfChanged(" Artist - Song "));
    EXPECT_FALSE(info.setTitleIfChanged("Artist - Song"));
    EXPECT_FALSE(info.setTitleIfChanged("Artist - Song\n"));
    EXPECT_TRUE(info.setTitleIfChanged(""));
    EXPECT_FALSE(info.setTitleIfChanged(""));
}

TEST(StreamInfo, DescribeNamesTheKindWithTheBitrateWhenKnown) {
    StreamInfo info;
    info.setKind(StreamKind::Mp3);
    EXPECT_EQ(info.describe(), "Streaming MP3 Audio");
    info.setBitrate(128);
    EXPECT_EQ(info.describe(), "128 kbps, Streaming MP3 Audio");
    EXPECT_EQ(StreamInfo::describe(StreamKind::OggVorbis, 0), "Streaming Ogg Vorbis Audio");
    EXPECT_EQ(StreamInfo::describe(StreamKind::WindowsMedia, 32),
              "32 kbps, Streaming Windows Media Audio");
    EXPECT_EQ(StreamInfo::describe(StreamKind::MpegLayer1, 0), "Streaming MPEG Layer 1");
    EXPECT_EQ(StreamInfo::describe(StreamKind::MpegLayer2, 0), "Streaming MPEG Layer 2");
    EXPECT_EQ(StreamInfo::describe(StreamKind::Mpeg2Layer1, 0), "Streaming MPEG-2 Layer 1");
    EXPECT_EQ(StreamInfo::describe(StreamKind::Mpeg2Layer2, 0), "Streaming MPEG-2 Layer 2");
    EXPECT_EQ(StreamInfo::describe(StreamKind::Mpeg2Layer3, 0), "Streaming MPEG-2 Layer 3");
    // An unknown kind says nothing at all, not even the bitrate.
    EXPECT_EQ(StreamInfo::describe(StreamKind::Other, 128), "");
    EXPECT_EQ(StreamInfo::describe(StreamKind::Aac, 64), "64 kbps, Streaming AAC Audio");
    EXPECT_EQ(StreamInfo::describe(StreamKind::OggOpus, 96), "96 kbps, Streaming Ogg Opus Audio");
    EXPECT_EQ(StreamInfo::describe(StreamKind::OggFlac, 0), "Streaming Ogg FLAC Audio");
    EXPECT_EQ(StreamInfo::describe(static_cast<StreamKind>(12), 128), "");
}

TEST(StreamInfo, ReadersOnOtherThreadsNeverSeeATornTitle) {
    StreamInfo info;
    const std::string a(300, 'a');
    const std::string b(500, 'b');
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            info.setTitle(i % 2 == 0 ? a : b);
        }
    });
    for (int i = 0; i < 2000; ++i) {
        const std::string title = info.title();
        EXPECT_TRUE(title.empty() || title == a || title == b);
    }
    writer.join();
}

}  // namespace
}  // namespace korvanel
