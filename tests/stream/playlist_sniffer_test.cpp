#include "stream/playlist_sniffer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "stream/playlist_entries.h"

namespace korvanel {
namespace {

using Verdict = PlaylistSniffer::Verdict;

std::string utf16le(std::string_view ascii) {
    std::string out = "\xFF\xFE";
    for (const char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

struct Sample {
    const char* what;
    std::string bytes;
    std::optional<PlaylistForm> form;
};

std::vector<Sample> playlists() {
    return {
        {"pls", "[playlist]\nNumberOfEntries=1\nFile1=http://a/1\n", PlaylistForm::Pls},
        {"pls in capitals after blanks", "\r\n [Playlist]\r\nFile1=http://a/1\r\n", PlaylistForm::Pls},
        {"extended m3u", "#EXTM3U\n#EXTINF:-1,A\nstream.mp3\n", PlaylistForm::M3u},
        {"m3u of addresses", "\xEF\xBB\xBF# a comment\r\nhttp://a/1\r\nmms://b/2\r\n", PlaylistForm::M3u},
        {"asx", "<ASX version=\"3.0\"><Entry><Ref href=\"mms://a/\"/></Entry></ASX>", PlaylistForm::Asx},
        {"asx after an xml prologue", "<?xml version=\"1.0\"?>\n<asx version=\"3.0\"><entry/></asx>",
         PlaylistForm::Asx},
        {"xspf",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\">"
         "<trackList><track><location>http://a/1</location></track></trackList></playlist>",
         PlaylistForm::Xspf},
        {"16-bit pls", utf16le("[playlist]\r\nFile1=http://a/1\r\n"), PlaylistForm::Pls},
    };
}

TEST(PlaylistSniffer, FirstBytesNameTheFormWhateverTheTypeAndNoCutOfThemSaysNo) {
    for (const Sample& sample : playlists()) {
        SCOPED_TRACE(sample.what);
        for (const char* type : {"", "audio/mpeg", "text/plain", "application/octet-stream"}) {
            const PlaylistSniffer::Result whole = PlaylistSniffer::sniff(type, sample.bytes, true);
            EXPECT_EQ(whole.verdict, Verdict::Playlist) << type;
            EXPECT_EQ(whole.form, sample.form) << type;
        }
        // A first read may end anywhere: until the bytes decide, the
        // answer is "more", never "audio".
        for (std::size_t length = 0; length < sample.bytes.size(); ++length) {
            const PlaylistSniffer::Result cut = PlaylistSniffer::sniff("", sample.bytes.substr(0, length), false);
            EXPECT_NE(cut.verdict, Verdict::NotPlaylist) << length;
            if (cut.verdict == Verdict::Playlist) {
                EXPECT_EQ(cut.form, sample.form) << length;
            }
        }
    }
}

TEST(PlaylistSniffer, AudioIsDecidedByItsFirstByteWhateverTheServerCallsIt) {
    const std::string mp3 = std::string("\xFF\xFB\x90\x64\x00\x00\x00\x00", 8);
    const std::string asf("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C\x10\x00", 18);
    const std::vector<std::pair<std::string, std::string>> audio = {
        {"audio/mpeg", mp3},
        {"audio/x-scpls", mp3},
        {"audio/mpeg", std::string("ID3\x04\x00\x00\x00\x00\x00\x21", 10)},
        {"application/ogg", std::string("OggS\x00\x02", 6)},
        {"video/x-ms-asf", asf},
        {"audio/aacp", "\xFF\xF1\x50\x80\x2E\x7F\xFC"},
    };
    for (const auto& [type, bytes] : audio) {
        SCOPED_TRACE(type);
        // Two bytes are enough: the first sound never waits for the test.
        EXPECT_EQ(PlaylistSniffer::sniff(type, bytes.substr(0, 2), false).verdict, Verdict::NotPlaylist);
        EXPECT_EQ(PlaylistSniffer::sniff(type, bytes, true).verdict, Verdict::NotPlaylist);
    }
    EXPECT_TRUE(PlaylistSniffer::isAsfFile(asf));
    EXPECT_FALSE(PlaylistSniffer::isAsfFile(mp3));
    EXPECT_FALSE(PlaylistSniffer::isAsfFile(asf.substr(0, 15)));
}

TEST(PlaylistSniffer, TheTypeDecidesOnlyATextThatNamesNoFormAndAnAsxTypeNever) {
    const auto form = [](const char* type, const char* text) {
        const PlaylistSniffer::Result result = PlaylistSniffer::sniff(type, text, true);
        return result.verdict == Verdict::Playlist ? result.form : std::nullopt;
    };
    EXPECT_EQ(form("audio/x-scpls", "File1=http://a/1\n"), PlaylistForm::Pls);
    EXPECT_EQ(form("Audio/X-MpegURL; charset=utf-8", "stream.mp3\n"), PlaylistForm::M3u);
    EXPECT_EQ(form("application/xspf+xml", "<x/>"), PlaylistForm::Xspf);
    EXPECT_EQ(form("video/x-ms-asf", "hello"), std::nullopt);
    EXPECT_EQ(form("text/html", "<html><a href=\"http://a/1\">"), std::nullopt);
    EXPECT_EQ(form("", "not an address\nhttp://a/1\n"), std::nullopt);
    EXPECT_EQ(form("", "http://a/ is down\n"), std::nullopt);
    EXPECT_EQ(form("", "<?xml version=\"1.0\"?><!-- <asx> --><rss><playlist xmlns=\"http://xspf.org/ns/0/\"/></rss>"),
              std::nullopt)
        << "only the root element names the form";
    EXPECT_EQ(form("", "   \r\n"), std::nullopt);
    // A first read under such a type waits for the end, or for a byte
    // that makes it audio.
    EXPECT_EQ(PlaylistSniffer::sniff("audio/x-scpls", "ID", false).verdict, Verdict::NeedMore);
    EXPECT_EQ(PlaylistSniffer::sniff("audio/x-scpls", std::string("ID3\x04\x00", 5), false).verdict,
              Verdict::NotPlaylist);
    EXPECT_EQ(PlaylistSniffer::formOfMediaType("audio/mpeg"), std::nullopt);
    EXPECT_EQ(PlaylistSniffer::formOfMediaType(" audio/x-ms-wax "), PlaylistForm::Asx);
}

TEST(PlaylistSniffer, WaitsNoLongerThanItsBoundAndOnlyForWhatCanStillDecide) {
    // An XML prologue that never reaches its root element.
    const std::string prologue = "<?xml version=\"1.0\"?>\n<!--" + std::string(PlaylistSniffer::kDecisiveBytes, 'x');
    EXPECT_EQ(PlaylistSniffer::sniff("", prologue.substr(0, 100), false).verdict, Verdict::NeedMore);
    EXPECT_EQ(PlaylistSniffer::sniff("", prologue, false).verdict, Verdict::NotPlaylist);
    // An address without its line end may still be followed by a text line.
    EXPECT_EQ(PlaylistSniffer::sniff("", "http://a/1", false).verdict, Verdict::NeedMore);
    EXPECT_EQ(PlaylistSniffer::sniff("", "http://a/1", true).verdict, Verdict::Playlist);
    EXPECT_EQ(PlaylistSniffer::sniff("", "http://a/1\nhttp", false).verdict, Verdict::Playlist);
    EXPECT_EQ(PlaylistSniffer::sniff("", "http://a/1\nhello", false).verdict, Verdict::Playlist)
        << "the first whole line decides, so the rest cannot undo what a first read said";
    EXPECT_EQ(PlaylistSniffer::sniff("", "hello\nhttp://a/1\n", false).verdict, Verdict::NotPlaylist);
    EXPECT_EQ(PlaylistSniffer::sniff("", "<html>", false).verdict, Verdict::NotPlaylist);

    // Unmarked 16-bit text stays 16-bit only while no non-ASCII character
    // comes within the probe, so a first read waits until that is known.
    std::string wide = utf16le("[playlist]\r\nFile1=http://a/1\r\n").substr(2);
    const std::string unmarked = wide + std::string("\x00\x01", 2) + std::string(600, 'x');
    EXPECT_EQ(PlaylistSniffer::sniff("", unmarked.substr(0, 40), false).verdict, Verdict::NeedMore);
    EXPECT_EQ(PlaylistSniffer::sniff("", unmarked, true).verdict, Verdict::NotPlaylist);
    EXPECT_EQ(PlaylistSniffer::sniff("", unmarked.substr(0, 512), false).verdict, Verdict::NotPlaylist);
    wide += std::string(2, '\0');
    EXPECT_EQ(PlaylistSniffer::sniff("", wide, false).form, PlaylistForm::Pls) << "its end is known at a zero character";
}

TEST(PlaylistEntries, RelativeM3uAndXspfEntriesResolveAgainstThePlaylistsAddress) {
    const std::string m3u = "#EXTM3U\n#EXTINF:-1,One\nhttp://abs/1\nlive/2.mp3\n/root/3\n../up/4\n"
                            "C:\\music\\5.mp3\nfile:///6\nwith space\n";
    EXPECT_EQ(playlistLinkText(m3u, PlaylistForm::M3u, "https://host:8443/lists/now/list"),
              "#EXTM3U\n#EXTINF:-1,One\nhttp://abs/1\nhttps://host:8443/lists/now/live/2.mp3\n"
              "https://host:8443/root/3\nhttps://host:8443/lists/up/4\nC:\\music\\5.mp3\nfile:///6\nwith space\n");
    // A local playlist's relative entries name no stream.
    EXPECT_EQ(playlistLinkText(m3u, PlaylistForm::M3u, "/home/me/list.m3u"), m3u);

    const std::string xspf =
        "<?xml version=\"1.0\"?><playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\"><trackList>"
        "<track><location>http://a/s?x=1&amp;y=2</location><image>http://a/i.png</image></track>"
        "<track><location> rel/&#x41;&#66; </location><info>http://a/about</info></track>"
        "<track><xspf:location>http://b/</xspf:location><title>location</title></track>"
        "</trackList></playlist>";
    EXPECT_EQ(xspfLocations(xspf), "http://a/s?x=1&y=2\nrel/AB\nhttp://b/\n");
    EXPECT_EQ(playlistLinkText(xspf, PlaylistForm::Xspf, "http://h/dir/list.xspf"),
              "http://a/s?x=1&y=2\nhttp://h/dir/rel/AB\nhttp://b/\n");
    // Other forms are scraped as they are.
    EXPECT_EQ(playlistLinkText("[playlist]\nFile1=x\n", PlaylistForm::Pls, "http://h/"), "[playlist]\nFile1=x\n");
}

}  // namespace
}  // namespace korvanel
