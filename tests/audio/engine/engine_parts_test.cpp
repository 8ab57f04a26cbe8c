// The engine's pure parts: addresses, answer heads, ICY metadata splitting,
// the byte ring between its threads, where metadata sits in the samples.

#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <thread>

#include "audio/engine/byte_ring.h"
#include "audio/engine/decoding_stream.h"
#include "audio/engine/stream_callbacks.h"
#include "stream/http_response_head.h"
#include "audio/engine/icy_metadata_splitter.h"
#include "stream/stream_url.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;

TEST(StreamUrl, SplitsHttpAndHttpsAddresses) {
    auto url = StreamUrl::parse("http://radio.example:8000/live.mp3?x=1#frag");
    ASSERT_TRUE(url);
    EXPECT_FALSE(url->tls);
    EXPECT_EQ(url->host, "radio.example");
    EXPECT_EQ(url->port, 8000);
    EXPECT_EQ(url->target, "/live.mp3?x=1");
    EXPECT_EQ(url->hostHeader(), "radio.example:8000");

    url = StreamUrl::parse("HTTPS://[::1]/");
    ASSERT_TRUE(url);
    EXPECT_TRUE(url->tls);
    EXPECT_EQ(url->host, "::1");
    EXPECT_EQ(url->port, 443);
    EXPECT_EQ(url->hostHeader(), "[::1]");

    url = StreamUrl::parse("http://host?q");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->target, "/?q");
}

TEST(StreamUrl, RefusesAddressesThatCouldBendTheRequest) {
    for (const char* text : {"", "ftp://host/", "http://", "http://host:0/", "http://host:65536/",
                             "http://host:8x/", "http://user:pw@host/", "http://host/a b",
                             "http://host/a\r\nX-Evil: 1", "http://[::1/", "mms://host/"}) {
        EXPECT_FALSE(StreamUrl::parse(text)) << text;
    }
    EXPECT_FALSE(StreamUrl::parse("http://host/" + std::string(StreamUrl::kMaxLength, 'a')));
}

TEST(StreamUrl, ResolvesRedirectLocations) {
    const StreamUrl base = *StreamUrl::parse("https://host:8443/dir/page?x=1");
    EXPECT_EQ(base.resolve("/root")->toString(), "https://host:8443/root");
    EXPECT_EQ(base.resolve("next.mp3")->toString(), "https://host:8443/dir/next.mp3");
    EXPECT_EQ(base.resolve("../keys/./k1?a=../b")->toString(), "https://host:8443/keys/k1?a=../b");
    EXPECT_EQ(base.resolve("../../../x/..")->toString(), "https://host:8443/");
    EXPECT_EQ(base.resolve("/a/b/../c/")->toString(), "https://host:8443/a/c/");
    EXPECT_EQ(base.resolve("//other/x")->toString(), "https://other/x");
    EXPECT_EQ(base.resolve("http://third:81/y")->toString(), "http://third:81/y");
    EXPECT_FALSE(base.resolve("file:///etc/passwd"));
    EXPECT_FALSE(base.resolve("/a\r\nSet-Cookie: x"));
    EXPECT_FALSE(base.resolve(""));
}

TEST(HttpResponseHead, ReadsIcyAndHttpStatusLinesWithEitherLineEnd) {
    const std::string icy = "ICY 200 OK\r\nicy-name:Radio\r\nicy-metaint: 16000 \r\n\r\nBODY";
    ASSERT_EQ(HttpResponseHead::findEnd(icy), icy.size() - 4);
    auto head = HttpResponseHead::parse(icy.substr(0, icy.size() - 4));
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status, 200);
    EXPECT_EQ(head->statusLine, "ICY 200 OK");
    EXPECT_EQ(head->lines, (std::vector<std::string>{"icy-name:Radio", "icy-metaint: 16000 "}));
    EXPECT_EQ(head->header("ICY-METAINT"), "16000");
    EXPECT_FALSE(head->header("icy-url"));

    const std::string bare = "HTTP/1.1 302 Found\nLocation: /x\n\n";
    EXPECT_EQ(HttpResponseHead::findEnd(bare), bare.size());
    head = HttpResponseHead::parse(bare);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status, 302);
    EXPECT_EQ(head->header("location"), "/x");
    EXPECT_EQ(HttpResponseHead::findEnd("HTTP/1.0 200 OK\r\nA: b\r\n"), 0u);
}

TEST(HttpResponseHead, RefusesWhatIsNoStreamAnswer) {
    for (const char* text : {"", "SSH-2.0-OpenSSH\r\n\r\n", "HTTP/2 200\r\n\r\n", "ICY 20 OK\r\n\r\n",
                             "HTTP/1.0 2000 OK\r\n\r\n", "HTTP/1.1200 OK\r\n\r\n"}) {
        EXPECT_FALSE(HttpResponseHead::parse(text)) << text;
    }
    std::string many = "HTTP/1.0 200 OK\r\n";
    for (std::size_t i = 0; i <= HttpResponseHead::kMaxLines; ++i) {
        many += "X-" + std::to_string(i) + ": y\r\n";
    }
    EXPECT_FALSE(HttpResponseHead::parse(many + "\r\n"));
    const auto withNul = HttpResponseHead::parse(std::string("ICY 200 OK\r\nicy-name:A\0B\r\n\r\n", 27));
    ASSERT_TRUE(withNul);
    EXPECT_EQ(withNul->header("icy-name"), "AB");
}

struct Split {
    std::string audio;
    std::vector<std::string> metadata;
};

Split split(const std::string& stream, std::size_t interval, std::size_t chunk) {
    Split result;
    IcyMetadataSplitter splitter(interval);
    for (std::size_t offset = 0; offset < stream.size(); offset += chunk) {
        const std::string part = stream.substr(offset, chunk);
        splitter.feed(std::span(reinterpret_cast<const std::uint8_t*>(part.data()), part.size()),
                      [&](std::span<const std::uint8_t> bytes) { result.audio.append(bytes.begin(), bytes.end()); },
                      [&](std::string text) { result.metadata.push_back(std::move(text)); });
    }
    return result;
}

TEST(IcyMetadataSplitter, SeparatesBlocksWhateverTheReadSizes) {
    std::string title = "StreamTitle='A - B';";
    title.resize(32, '\0');
    std::string stream = "abcdefgh";
    stream += '\2' + title + "ijklmnop" + '\0' + "qrstuvwx" + '\2' + title + "yz";
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{9}, stream.size()}) {
        const Split result = split(stream, 8, chunk);
        EXPECT_EQ(result.audio, "abcdefghijklmnopqrstuvwxyz") << chunk;
        // The repeated block is not raised again.
        EXPECT_EQ(result.metadata, std::vector<std::string>{"StreamTitle='A - B';"}) << chunk;
    }
}

TEST(IcyMetadataSplitter, TakesTheLargestBlockAndAbsurdIntervalsMeanNone) {
    std::string stream = "ab";
    stream += '\xff';
    stream += std::string(4080, 'x') + "cd";
    const Split result = split(stream, 2, 100);
    EXPECT_EQ(result.audio, "abcd");
    ASSERT_EQ(result.metadata.size(), 1u);
    EXPECT_EQ(result.metadata[0].size(), 4080u);

    EXPECT_EQ(IcyMetadataSplitter::intervalFromHeader("16000"), 16000u);
    EXPECT_EQ(IcyMetadataSplitter::intervalFromHeader("1048576"), 1048576u);
    for (const char* absurd : {"0", "-1", "1048577", "4294967312", "12abc", "", " 5"}) {
        EXPECT_EQ(IcyMetadataSplitter::intervalFromHeader(std::string(absurd)), 0u) << absurd;
    }
    EXPECT_EQ(IcyMetadataSplitter::intervalFromHeader(std::nullopt), 0u);
    EXPECT_EQ(split("plain\x02stream", 0, 4).audio, "plain\x02stream");
}

TEST(DecodingStream, PlacesACompressedByteWithinTheDecodingStepThatTookIt) {
    using Progress = TitlePlacement::DecodeProgress;
    // One step took 418 compressed bytes and gave 4608 bytes of samples.
    const Progress before{1000, 20000};
    const Progress after{1418, 24608};
    EXPECT_EQ(TitlePlacement::placeInStep(1000, before, after, 4), 20000u);
    EXPECT_EQ(TitlePlacement::placeInStep(1209, before, after, 4), 22304u);
    EXPECT_EQ(TitlePlacement::placeInStep(1418, before, after, 4), 24608u);
    // A byte the step before took, or a step that took nothing: its start.
    EXPECT_EQ(TitlePlacement::placeInStep(10, before, after, 4), 20000u);
    EXPECT_EQ(TitlePlacement::placeInStep(1200, before, before, 4), 20000u);
    EXPECT_EQ(TitlePlacement::placeInStep(1001, before, after, 4) % 4, 0u);
}

TEST(StreamCallbacks, MetadataBeforeItsSyncIsGivenToTheFirstOneSetInOrder) {
    StreamCallbacks callbacks;
    callbacks.fire(audio::kSyncMeta, 1, {"StreamTitle='A';"});
    callbacks.fire(audio::kSyncMetaPlaced, 1, {}, 4096);
    callbacks.fire(audio::kSyncMeta, 2, {"StreamTitle='B';"});
    callbacks.fire(audio::kSyncEnd, 0);  // other kinds are not kept
    std::vector<std::string> seen;
    const auto note = [&](const char* kind) {
        return [&seen, kind](const SyncEvent& event) {
            seen.push_back(kind + std::to_string(event.data) + (event.texts.empty() ? "" : event.texts[0]) +
                           (event.position ? "@" + std::to_string(*event.position) : ""));
        };
    };
    callbacks.addSync(SyncId{1}, audio::kSyncMeta, note("meta"));
    callbacks.addSync(SyncId{2}, audio::kSyncMetaPlaced, note("placed"));
    callbacks.addSync(SyncId{3}, audio::kSyncEnd, note("end"));
    callbacks.fire(audio::kSyncMeta, 3, {"StreamTitle='C';"});
    EXPECT_EQ(seen, (std::vector<std::string>{"meta1StreamTitle='A';", "meta2StreamTitle='B';", "placed1@4096",
                                              "meta3StreamTitle='C';"}));
    // Caught up once: a second sync of the kind gets only what comes next.
    callbacks.addSync(SyncId{4}, audio::kSyncMeta, note("again"));
    EXPECT_EQ(seen.size(), 4u);
}

// Bytes downloaded while metadata waits for its sync wait with it, so a
// recorder still meets each title before the bytes that follow it.
TEST(StreamCallbacks, BytesBehindWaitingMetadataKeepTheirPlaceAndAreNeverLost) {
    const auto run = [](bool setMetaSync, std::size_t bigChunk) {
        StreamCallbacks callbacks;
        std::vector<std::string> seen;
        callbacks.setDownload([&](std::span<const std::uint8_t> bytes, bool finished) {
            seen.push_back("bytes" + std::to_string(bytes.size()) + (finished ? "end" : ""));
        });
        const std::vector<std::uint8_t> chunk(100);
        callbacks.download(chunk, false);  // before any metadata: goes at once
        callbacks.fire(audio::kSyncMeta, 0, {"StreamTitle='A';"});
        callbacks.download(chunk, false);
        callbacks.fire(audio::kSyncMeta, 1, {"StreamTitle='B';"});
        callbacks.download(std::vector<std::uint8_t>(bigChunk), false);
        callbacks.download({}, true);
        if (setMetaSync) {
            callbacks.addSync(SyncId{1}, audio::kSyncMeta,
                              [&](const SyncEvent& event) { seen.push_back(event.texts.at(0)); });
        }
        callbacks.releaseParked();
        return seen;
    };
    EXPECT_EQ(run(true, 200), (std::vector<std::string>{"bytes100", "StreamTitle='A';", "bytes100",
                                                        "StreamTitle='B';", "bytes200", "bytes0end"}));
    EXPECT_EQ(run(false, 200), (std::vector<std::string>{"bytes100", "bytes100", "bytes200", "bytes0end"}))
        << "a listener without a metadata sync gets the bytes at its first pull";
    // Beyond the bound the bytes go on at once, the waiting ones first.
    EXPECT_EQ(run(true, StreamCallbacks::kMaxParkedBytes),
              (std::vector<std::string>{"bytes100", "bytes100", "bytes1048576", "bytes0end", "StreamTitle='A';",
                                        "StreamTitle='B';"}));
}

TEST(ByteRing, KeepsOrderAcrossTheWrapAndEndsAfterTheLastByte) {
    ByteRing ring(10);
    std::vector<std::uint8_t> out(7);
    const std::vector<std::uint8_t> first{1, 2, 3, 4, 5, 6, 7};
    ASSERT_TRUE(ring.write(first));
    EXPECT_EQ(ring.read(std::span(out).first(5)), 5u);
    const std::vector<std::uint8_t> second{8, 9, 10, 11, 12, 13};
    ASSERT_TRUE(ring.write(second));  // wraps
    ring.finish();
    std::vector<std::uint8_t> rest(20);
    EXPECT_EQ(ring.readWait(rest, 10ms), 8);
    EXPECT_EQ(std::vector<std::uint8_t>(rest.begin(), rest.begin() + 8),
              (std::vector<std::uint8_t>{6, 7, 8, 9, 10, 11, 12, 13}));
    EXPECT_TRUE(ring.drained());
    EXPECT_EQ(ring.readWait(rest, 10ms), ByteRing::kEnded);
}

TEST(ByteRing, FullWriterWaitsForTheReaderAndCancelReleasesIt) {
    ByteRing ring(4096);
    std::vector<std::uint8_t> data(100000);
    std::iota(data.begin(), data.end(), 0);
    std::thread writer([&] {
        EXPECT_TRUE(ring.write(data));
        ring.finish();
    });
    std::vector<std::uint8_t> received;
    std::vector<std::uint8_t> buffer(1000);
    for (;;) {
        const long count = ring.readWait(buffer, 1s);
        if (count <= 0) {
            EXPECT_EQ(count, ByteRing::kEnded);
            break;
        }
        received.insert(received.end(), buffer.begin(), buffer.begin() + count);
    }
    writer.join();
    EXPECT_EQ(received, data);

    ByteRing blocked(8);
    std::thread stuck([&] { EXPECT_FALSE(blocked.write(data)); });
    std::this_thread::sleep_for(20ms);
    blocked.cancel();
    stuck.join();
    EXPECT_EQ(blocked.readWait(buffer, 10ms), ByteRing::kCancelled);
}

}  // namespace
}  // namespace korvanel
