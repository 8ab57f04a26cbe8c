#include "stream/source_classification.h"

#include <gtest/gtest.h>

#include <string>

namespace korvanel {
namespace {

TEST(StringHelpers, AreByteWiseAndCaseSensitive) {
    EXPECT_TRUE(startsWith("http://a", "http://"));
    EXPECT_FALSE(startsWith("HTTP://a", "http://"));
    EXPECT_FALSE(startsWith(" http://a", "http://"));  // no trimming
    EXPECT_FALSE(startsWith("http:", "http://"));
    EXPECT_TRUE(startsWith("", ""));

    EXPECT_TRUE(contains("a.m3u/x", ".m3u"));
    EXPECT_FALSE(contains("a.M3U", ".m3u"));

    EXPECT_TRUE(endsWith("index.html", ".html"));
    EXPECT_FALSE(endsWith("html", ".html"));
    EXPECT_FALSE(endsWith("index.html ", ".html"));

    // Embedded zero bytes are ordinary bytes.
    const std::string withNul("ab\0.pls", 7);
    EXPECT_TRUE(contains(withNul, ".pls"));
    EXPECT_TRUE(endsWith(withNul, ".pls"));
}

TEST(NeedsResolving, PlaylistMarksAnywhereButNotForWindowsMediaSchemes) {
    EXPECT_TRUE(needsResolving("http://host/radio.pls"));
    EXPECT_TRUE(needsResolving("http://host/x.m3u"));
    EXPECT_TRUE(needsResolving("http://host/listen.asx"));
    EXPECT_TRUE(needsResolving("http://host/listen.php?id=3"));
    EXPECT_TRUE(needsResolving("http://host/default.asp"));
    EXPECT_TRUE(needsResolving("http://host/a.m3u/x"));
    EXPECT_TRUE(needsResolving("/home/me/list.pls"));

    EXPECT_FALSE(needsResolving("http://host/x.M3U"));
    EXPECT_FALSE(needsResolving("http://host/stream.mp3"));
    EXPECT_FALSE(needsResolving("mms://host/live.asx"));
    EXPECT_FALSE(needsResolving("rtsp://host/a.pls"));
    EXPECT_FALSE(needsResolving(""));
    // Only a prefix counts for the Windows Media schemes.
    EXPECT_TRUE(needsResolving(" mms://host/live.asx"));
}

TEST(OpenRoute, FollowsSchemeThenWindowsMediaMarks) {
    EXPECT_EQ(openRoute("mms://host/live.asx"), OpenRoute::WindowsMedia);
    EXPECT_EQ(openRoute("rtsp://host/live"), OpenRoute::WindowsMedia);
    EXPECT_EQ(openRoute("http://host/a.wma"), OpenRoute::WindowsMedia);
    EXPECT_EQ(openRoute("http://host/a.asf?x=1"), OpenRoute::WindowsMedia);
    EXPECT_EQ(openRoute("http://host/a.mp3"), OpenRoute::HttpStream);
    EXPECT_EQ(openRoute("http://host/x.M3U"), OpenRoute::HttpStream);
    EXPECT_EQ(openRoute("http://host/a.WMA"), OpenRoute::HttpStream);
    EXPECT_EQ(openRoute("https://host/a.mp3"), OpenRoute::HttpStream);
    EXPECT_EQ(openRoute("https://host/a.wma"), OpenRoute::WindowsMedia);

    EXPECT_EQ(openRoute(""), OpenRoute::NotNetwork);
    EXPECT_EQ(openRoute("HTTP://host/a.mp3"), OpenRoute::NotNetwork);
    EXPECT_EQ(openRoute("c:\\music\\a.mp3"), OpenRoute::NotNetwork);
    EXPECT_EQ(openRoute("/music/a.wma"), OpenRoute::NotNetwork);
    EXPECT_EQ(openRoute("HTTPS://host/a.mp3"), OpenRoute::NotNetwork);
    EXPECT_EQ(openRoute("ftp://host/a.mp3"), OpenRoute::NotNetwork);
}

TEST(KindOfChannel, MapsOnlyTheThreeKnownTypes) {
    EXPECT_EQ(kindOfChannel(0x10005), StreamKind::Mp3);
    EXPECT_EQ(kindOfChannel(0x10002), StreamKind::OggVorbis);
    EXPECT_EQ(kindOfChannel(0x10300), StreamKind::WindowsMedia);
    EXPECT_EQ(kindOfChannel(0), StreamKind::Other);
    EXPECT_EQ(kindOfChannel(0x10003), StreamKind::Other);
    EXPECT_EQ(kindOfChannel(0x10301), StreamKind::Other);
    EXPECT_EQ(static_cast<unsigned>(StreamKind::Mpeg2Layer3), 8u);
}

}  // namespace
}  // namespace korvanel
