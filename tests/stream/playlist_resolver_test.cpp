#include "stream/playlist_resolver.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/stream/test_application.h"
#include "tests/support/http_test_server.h"

namespace korvanel {
namespace {

using test::HttpTestServer;
using test::TestApplication;
using Links = std::vector<std::string>;

std::string fixturePath(const std::string& name) {
    return std::string(KORVANEL_SOURCE_DIR) + "/tests/fixtures/playlists/" + name;
}

std::string fixture(const std::string& name) { return test::readFile(fixturePath(name)); }

// Serves the fixture of the same name for any path.
HttpTestServer::Handler servingFixtures() {
    return [](HttpTestServer::Connection& connection, const std::string& request) {
        const std::size_t start = request.find('/');
        const std::size_t end = request.find(' ', start);
        const std::string name = request.substr(start + 1, end - start - 1);
        connection.send(HttpTestServer::okResponse(fixture(name)));
    };
}

class PlaylistResolverTest : public ::testing::Test {
protected:
    PlaylistResolver& resolver() { return application_.app().playlistResolver(); }

    TestApplication application_;
};

TEST_F(PlaylistResolverTest, MovesWithinTheListAndStopsAtItsEnds) {
    EXPECT_EQ(resolver().currentAddress(), "");
    EXPECT_FALSE(resolver().needsResolving());
    EXPECT_FALSE(resolver().resolveCurrent());
    EXPECT_FALSE(resolver().hasNext() || resolver().hasPrevious());

    resolver().setSources({"http://a/1.mp3", "http://a/2.pls", "mms://a/3.asx"});
    EXPECT_FALSE(resolver().needsResolving());
    resolver().previous();
    EXPECT_EQ(resolver().currentAddress(), "http://a/1.mp3");
    resolver().next();
    EXPECT_TRUE(resolver().needsResolving());
    resolver().next();
    resolver().next();
    EXPECT_EQ(resolver().currentAddress(), "mms://a/3.asx");
    EXPECT_FALSE(resolver().needsResolving());
    EXPECT_FALSE(resolver().hasNext());
    EXPECT_TRUE(resolver().hasPrevious());

    resolver().clear();
    EXPECT_TRUE(resolver().isEmpty());
    EXPECT_EQ(resolver().currentAddress(), "");
}

TEST_F(PlaylistResolverTest, PlsLinksTakeThePlaylistsPlaceUntilRewind) {
    HttpTestServer server(servingFixtures());
    const std::string playlist = server.url("/station.pls");
    resolver().setSources({"http://first/", playlist, "http://after/"});
    resolver().next();

    ASSERT_TRUE(resolver().resolveCurrent());
    EXPECT_EQ(resolver().workingList(),
              (Links{"http://first/", "http://a.example:8000/", "http://b.example:8000/live", "http://after/"}));
    EXPECT_EQ(resolver().currentAddress(), "http://a.example:8000/");
    resolver().next();
    resolver().next();
    EXPECT_EQ(resolver().currentAddress(), "http://after/");

    resolver().rewind();
    EXPECT_EQ(resolver().workingList(), (Links{"http://first/", playlist, "http://after/"}));
    EXPECT_EQ(resolver().currentAddress(), "http://first/");
    // Fetched again after a rewind.
    resolver().next();
    ASSERT_TRUE(resolver().resolveCurrent());
    EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(PlaylistResolverTest, EveryPlaylistShapeYieldsItsStreamLinks) {
    HttpTestServer server(servingFixtures());
    struct Case {
        std::string name;
        Links links;
    };
    const Case cases[] = {
        {"extended.m3u", {"http://c.example:8080/stream.mp3", "http://d.example/ogg"}},
        {"station.asx", {"http://e.example/x.asf", "http://f.example/nested.pls", "mms://e.example/live"}},
        {"page.html",
         {"http://g.example/style.css?v=2", "http://g.example/listen.pls", "http://h.example:8000/stream",
          "mms://j.example/wm"}},
        {"utf16le.m3u", {"http://k.example/\xc3\xbc" "bertragung.mp3"}},
    };
    for (const Case& c : cases) {
        for (const std::string& source : {server.url("/" + c.name), "  " + fixturePath(c.name) + "\r\n"}) {
            resolver().setSource(source);
            ASSERT_TRUE(resolver().resolveCurrent()) << source;
            EXPECT_EQ(resolver().workingList(), c.links) << source;
        }
    }

    // The nested playlist is returned as it is; the player resolves it in turn.
    resolver().setSource(server.url("/station.asx"));
    ASSERT_TRUE(resolver().resolveCurrent());
    resolver().next();
    EXPECT_EQ(resolver().currentAddress(), "http://f.example/nested.pls");
    EXPECT_TRUE(resolver().needsResolving());
}

TEST_F(PlaylistResolverTest, FailuresLeaveTheListAsItWas) {
    std::mt19937_64 random(7);
    std::string noise(16 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < noise.size(); i += sizeof(std::uint64_t)) {
        const std::uint64_t word = random();
        std::memcpy(noise.data() + i, &word, sizeof word);
    }
    struct Case {
        std::string what;
        std::string response;
    };
    const Case cases[] = {
        {"not found", HttpTestServer::okResponse("File1=http://a/\n", "HTTP/1.1 404 Not Found")},
        {"redirect", "HTTP/1.0 302 Found\r\nLocation: http://a/b.pls\r\n\r\n"},
        {"empty body", HttpTestServer::okResponse("")},
        {"only pages and pictures",
         HttpTestServer::okResponse("<a href=\"http://a/x.html\"><img src=\"http://a/y.jpg\"></a>")},
        {"random bytes", HttpTestServer::okResponse(noise)},
    };
    for (const Case& c : cases) {
        HttpTestServer server(HttpTestServer::reply(c.response));
        const Links given{"http://before/", server.url("/list.pls"), "http://after/"};
        resolver().setSources(given);
        resolver().next();
        EXPECT_FALSE(resolver().resolveCurrent()) << c.what;
        EXPECT_EQ(resolver().workingList(), given) << c.what;
        EXPECT_EQ(resolver().currentAddress(), given[1]) << c.what;
    }

    const test::TempFolder& folder = application_.folder();
    for (const std::string& path : {folder.file("missing.pls"), folder.path(), std::string("/dev/zero"), std::string("")}) {
        resolver().setSource(path);
        EXPECT_FALSE(resolver().resolveCurrent()) << path;
        EXPECT_EQ(resolver().workingList(), Links{path});
    }
}

TEST_F(PlaylistResolverTest, LocalFilesAreBoundedLikeDownloads) {
    HttpLimits limits;
    limits.maxBodyBytes = 1000;
    application_.app().httpClient().setLimits(limits);
    const std::string path = application_.folder().file("big.m3u");
    test::writeFile(path, "http://a/1\n" + std::string(2000, '#'));
    resolver().setSource(path);
    EXPECT_FALSE(resolver().resolveCurrent());
}

TEST_F(PlaylistResolverTest, ARefillDuringTheDownloadWins) {
    PlaylistResolver& shared = resolver();
    HttpTestServer server([&shared](HttpTestServer::Connection& connection, const std::string&) {
        shared.setSources({"http://chosen/meanwhile"});
        connection.send(HttpTestServer::okResponse("File1=http://a/\n"));
    });
    resolver().setSource(server.url("/list.pls"));
    EXPECT_FALSE(resolver().resolveCurrent());
    EXPECT_EQ(resolver().workingList(), Links{"http://chosen/meanwhile"});
}

// An HLS playlist is a stream: a master gives way to the variant the
// bandwidth setting picks (its address resolved against where the master
// finally came from), a media playlist stays, and neither is resolved again.
TEST_F(PlaylistResolverTest, HlsPlaylistsBecomeTheStreamTheyNameWhileOrdinaryM3u8sStillResolve) {
    const std::string master =
        "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=64000\nlow/index.m3u8\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=128000\nmid/index.m3u8\n#EXT-X-STREAM-INF:BANDWIDTH=256000\nhigh/index.m3u8\n";
    const std::string media = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2.0,\nseg1.ts\n";
    HttpTestServer server([&](HttpTestServer::Connection& connection, const std::string& request) {
        if (request.starts_with("GET /old/")) {
            connection.send("HTTP/1.0 302 Found\r\nLocation: /radio/master.m3u8\r\n\r\n");
        } else if (request.starts_with("GET /radio/master.m3u8")) {
            connection.send(HttpTestServer::okResponse(master));
        } else if (request.starts_with("GET /plain.m3u8")) {
            connection.send(HttpTestServer::okResponse("#EXTM3U\n#EXTINF:-1,Station\nhttp://a/stream.mp3\n"));
        } else {
            connection.send(HttpTestServer::okResponse(media));
        }
    });
    const auto resolved = [&](const std::string& address) {
        resolver().setSource(address);
        EXPECT_TRUE(resolver().needsResolving());
        EXPECT_TRUE(resolver().resolveCurrent()) << address;
        return resolver().currentAddress();
    };
    const std::string base = server.url("/radio/");
    EXPECT_EQ(resolved(server.url("/old/list.m3u8")), base + "high/index.m3u8");
    EXPECT_FALSE(resolver().needsResolving()) << "the variant is opened, not resolved";
    application_.app().settings().setInt("Sound/HlsBandwidth", 200000);
    application_.app().settings().notifyChanged();
    EXPECT_EQ(resolved(server.url("/old/list.m3u8")), base + "mid/index.m3u8");
    application_.app().settings().setInt("Sound/HlsBandwidth", 1000);
    application_.app().settings().notifyChanged();
    EXPECT_EQ(resolved(server.url("/old/list.m3u8")), base + "low/index.m3u8") << "none fits: the lowest";

    EXPECT_EQ(resolved(server.url("/live/index.m3u8")), server.url("/live/index.m3u8"));
    EXPECT_FALSE(resolver().needsResolving());
    EXPECT_EQ(resolved(server.url("/plain.m3u8")), "http://a/stream.mp3");
}

// What a download is comes from its bytes: a playlist under a plain address
// (once the decoder has said so), the forms known by their extension only
// here, relative entries against the address that answered, and audio that
// merely carries a playlist's name.
TEST_F(PlaylistResolverTest, PlaylistsAreKnownByTheirBytesWhateverTheirAddress) {
    const std::string asf("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C\x10\x00\x00", 19);
    HttpTestServer server([&](HttpTestServer::Connection& connection, const std::string& request) {
        const auto reply = [&](const std::string& body) { connection.send(HttpTestServer::okResponse(body)); };
        if (request.starts_with("GET /moved ")) {
            connection.send("HTTP/1.0 302 Found\r\nLocation: /lists/now/listen\r\n\r\n");
        } else if (request.starts_with("GET /lists/now/listen ")) {
            reply("#EXTM3U\n#EXTINF:-1,Relative\nlive/high.mp3\n#EXTINF:-1,Absolute\nhttp://abs.example/low\n");
        } else if (request.starts_with("GET /station.WAX ")) {
            reply("<asx version=\"3.0\"><entry><ref href=\"mms://wm.example/live\"/>"
                  "<ref href=\"http://wm.example/live\"/></entry></asx>");
        } else if (request.starts_with("GET /tracks.xspf")) {
            reply("<?xml version=\"1.0\"?><playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\"><trackList>"
                  "<track><location>one.ogg</location><info>http://info.example/</info></track>"
                  "<track><location>http://x.example/two?a=1&amp;b=2</location></track></trackList></playlist>");
        } else if (request.starts_with("GET /audio.asx ")) {
            reply(asf + std::string(4096, '\x01'));
        } else {
            reply("not found");
        }
    });

    const std::string plain = server.url("/moved");
    resolver().setSources({plain, "http://after/"});
    EXPECT_FALSE(resolver().needsResolving()) << "nothing says so before the decoder looks";
    resolver().markCurrentAsPlaylist();
    EXPECT_TRUE(resolver().needsResolving());
    ASSERT_TRUE(resolver().resolveCurrent());
    EXPECT_EQ(resolver().workingList(),
              (Links{server.url("/lists/now/live/high.mp3"), "http://abs.example/low", "http://after/"}));
    EXPECT_FALSE(resolver().needsResolving());
    resolver().rewind();
    EXPECT_TRUE(resolver().needsResolving()) << "a retry does not open the playlist as audio again";
    resolver().setSources({plain});
    EXPECT_FALSE(resolver().needsResolving()) << "a new list forgets what the decoder said";

    for (const auto& [path, links] : std::vector<std::pair<std::string, Links>>{
             {"/station.WAX", {"http://wm.example/live", "mms://wm.example/live"}},
             {"/tracks.xspf?session=1", {server.url("/one.ogg"), "http://x.example/two?a=1&b=2"}}}) {
        resolver().setSource(server.url(path));
        EXPECT_TRUE(resolver().needsResolving()) << path;
        ASSERT_TRUE(resolver().resolveCurrent()) << path;
        EXPECT_EQ(resolver().workingList(), links) << path;
    }

    const std::string audio = server.url("/audio.asx");
    resolver().setSource(audio);
    EXPECT_TRUE(resolver().needsResolving());
    ASSERT_TRUE(resolver().resolveCurrent());
    EXPECT_EQ(resolver().workingList(), Links{audio});
    EXPECT_FALSE(resolver().needsResolving()) << "audio under a playlist's name is opened, not scraped again";
}

// A hostile server cannot keep the player resolving: a playlist naming
// itself gives no link, and an endless chain of playlists ends.
TEST_F(PlaylistResolverTest, PlaylistsThatNameThemselvesOrEachOtherForEverEnd) {
    HttpTestServer server([](HttpTestServer::Connection& connection, const std::string& request) {
        const std::size_t start = request.find(' ') + 1;
        const std::string path = request.substr(start, request.find(' ', start) - start);
        if (path == "/self.m3u") {
            connection.send(HttpTestServer::okResponse("#EXTM3U\nself.m3u\n"));
        } else {
            // /chain/N.m3u names /chain/N+1.m3u.
            const int n = std::stoi(path.substr(7));
            connection.send(HttpTestServer::okResponse("#EXTM3U\n" + std::to_string(n + 1) + ".m3u\n"));
        }
    });
    resolver().setSource(server.url("/self.m3u"));
    EXPECT_FALSE(resolver().resolveCurrent());
    EXPECT_EQ(resolver().workingList(), Links{server.url("/self.m3u")});

    resolver().setSource(server.url("/chain/0.m3u"));
    int resolved = 0;
    while (resolver().needsResolving() && resolver().resolveCurrent()) {
        ASSERT_LE(++resolved, PlaylistResolver::kMaxResolutions);
    }
    EXPECT_EQ(resolved, PlaylistResolver::kMaxResolutions);
    EXPECT_EQ(resolver().currentAddress(), server.url("/chain/16.m3u"));
    resolver().rewind();
    EXPECT_TRUE(resolver().resolveCurrent()) << "a rewound list may resolve again";
}

}  // namespace
}  // namespace korvanel
