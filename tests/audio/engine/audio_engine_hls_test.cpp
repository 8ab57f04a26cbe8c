// The engine playing HLS from a loopback server: segments made by ffmpeg's
// HLS muxer, packed audio with ID3 tags written here, encrypted segments,
// and playlists that stall, lose segments or lie.

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "audio/engine/audio_engine.h"
#include "stream/source_classification.h"
#include "tests/support/audio_test_tones.h"
#include "tests/support/hls_test_server.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::HlsTestServer;

constexpr double kBytesPerSecond = 44100.0 * 4;

// A decoding stream read as fast as it decodes, noting where in the samples
// the stream's title (the metadata tag at the read position) changes.
struct HlsListener {
    AudioEngine engine;
    AudioStream stream;
    AudioFailure failure;  // the open's, when it failed
    std::mutex lock;
    std::string downloaded;

    AudioError open(const std::string& url) {
        engine.init(audio::kNoSoundDevice, audio::kOutputFrequency);
        AudioResult<AudioStream> opened =
            engine.openUrl(url, 0, audio::kStreamDecode | audio::kStreamMeta,
                                        [this](std::span<const std::uint8_t> data, bool) {
                                            std::lock_guard<std::mutex> guard(lock);
                                            downloaded.append(data.begin(), data.end());
                                        });
        if (!opened) {
            failure = opened.error();
            return failure.kind;
        }
        stream = std::move(opened).value();
        return AudioError::Ok;
    }

    struct Heard {
        std::string pcm;
        std::vector<std::pair<double, std::string>> titles;  // seconds into the samples
        bool ended = false;
    };

    Heard readAll(std::chrono::milliseconds bound = 20s) {
        Heard heard;
        std::vector<std::uint8_t> buffer(4096);
        std::string title;
        for (const auto deadline = Clock::now() + bound; Clock::now() < deadline;) {
            const AudioResult<std::uint32_t> given = stream.read(buffer);
            if (!given) {
                heard.ended = true;
                break;
            }
            const std::uint32_t count = *given;
            if (count == 0) {
                std::this_thread::sleep_for(2ms);
                continue;
            }
            const auto tags = stream.tags(audio::kTagMeta);
            const std::string now = tags && !tags->empty() ? tags->front() : "";
            if (now != title) {
                heard.titles.emplace_back(static_cast<double>(heard.pcm.size()) / kBytesPerSecond, now);
                title = now;
            }
            heard.pcm.append(buffer.begin(), buffer.begin() + count);
        }
        return heard;
    }
};

// Seconds of sound and the longest run of silence within it.
struct Continuity {
    double seconds = 0;
    double longestSilence = 0;
    double frequency = 0;
};

Continuity continuity(const std::string& pcm, int rate = 44100) {
    const std::vector<std::int16_t> left = test::channelSamples(pcm, 2, 0);
    Continuity result;
    result.seconds = static_cast<double>(left.size()) / rate;
    result.longestSilence = test::longestGap(left, rate);
    result.frequency = test::toneFrequency(left, rate);
    return result;
}

std::string id3Frame(const std::string& id, const std::string& body) {
    const std::size_t size = body.size();
    return id + std::string{char(size >> 24), char(size >> 16 & 0xFF), char(size >> 8 & 0xFF), char(size & 0xFF)} +
           std::string(2, '\0') + body;
}

// An ID3v2.3 tag (sizes below 128 bytes, so plain and sync-safe agree).
std::string id3Tag(const std::vector<std::string>& frames) {
    std::string body;
    for (const std::string& frame : frames) {
        body += frame;
    }
    return std::string("ID3\x03\x00\x00", 6) +
           std::string{char(body.size() >> 21 & 0x7F), char(body.size() >> 14 & 0x7F), char(body.size() >> 7 & 0x7F),
                       char(body.size() & 0x7F)} +
           body;
}

std::string endedPlaylist(const std::vector<std::string>& lines, int target = 2) {
    std::string text = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:" + std::to_string(target) +
                       "\n#EXT-X-MEDIA-SEQUENCE:0\n";
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

std::string encrypted(const std::string& clear, const std::string& key, const std::string& iv) {
    std::string out(clear.size() + 16, '\0');
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    int written = 0;
    int last = 0;
    EVP_EncryptInit_ex(context, EVP_aes_128_cbc(), nullptr, reinterpret_cast<const unsigned char*>(key.data()),
                       reinterpret_cast<const unsigned char*>(iv.data()));
    EVP_EncryptUpdate(context, reinterpret_cast<unsigned char*>(out.data()), &written,
                      reinterpret_cast<const unsigned char*>(clear.data()), static_cast<int>(clear.size()));
    EVP_EncryptFinal_ex(context, reinterpret_cast<unsigned char*>(out.data()) + written, &last);
    EVP_CIPHER_CTX_free(context);
    out.resize(static_cast<std::size_t>(written + last));
    return out;
}

TEST(AudioEngineHls, TransportSegmentsOfAnEndedPlaylistPlayWholeAsElementaryAudio) {
    for (const HlsTestServer::Codec codec : {HlsTestServer::Codec::Aac, HlsTestServer::Codec::Mp3}) {
        HlsTestServer server;
        ASSERT_TRUE(server.makeSegments(440, 3, 2.0, codec));
        HlsListener listener;
        ASSERT_EQ(listener.open(server.url("vod.m3u8")), AudioError::Ok);
        const HlsListener::Heard heard = listener.readAll();
        EXPECT_TRUE(heard.ended) << "an ended playlist ends like a file";
        const Continuity sound = continuity(heard.pcm);
        EXPECT_NEAR(sound.seconds, 6.0, 0.25);
        EXPECT_LT(sound.longestSilence, 0.01) << "no gap at the segment joins (codec " << int(codec) << ")";
        EXPECT_NEAR(sound.frequency, 440, 5);
        // The recorder gets the frames themselves, not the transport stream.
        std::lock_guard<std::mutex> guard(listener.lock);
        ASSERT_GE(listener.downloaded.size(), 2u);
        const auto second = static_cast<std::uint8_t>(listener.downloaded[1]);
        EXPECT_EQ(static_cast<std::uint8_t>(listener.downloaded[0]), 0xFF);
        EXPECT_EQ(codec == HlsTestServer::Codec::Aac ? (second & 0xF6) : (second & 0xE0),
                  codec == HlsTestServer::Codec::Aac ? 0xF0 : 0xE0);
        const auto info = listener.stream.info();
        ASSERT_TRUE(info);
        EXPECT_EQ(info->channelType, codec == HlsTestServer::Codec::Aac ? channel_type::kAacStream : channel_type::kMp3Stream);
    }
}

TEST(AudioEngineHls, TitlesFromId3TagsAndPlaylistLinesComeWhereTheirAudioBegins) {
    const std::string adts = test::toneFileBytes("aac", "aac", 440, 6.2);
    const std::vector<std::string> parts = test::adtsParts(adts, 2.0);
    ASSERT_GE(parts.size(), 3u);
    HlsTestServer server;
    // UTF-16 with a byte order mark for the first title, ISO-8859-1 for the third.
    const std::string utf16Title = std::string("\x01\xFF\xFE", 3) + std::string("S\0o\0n\0g\0", 8);
    server.put("a.aac", id3Tag({id3Frame("TPE1", std::string("\x03", 1) + "Artist One"), id3Frame("TIT2", utf16Title),
                                id3Frame("TRSN", std::string("\x03", 1) + "Loopback FM")}) +
                            parts[0]);
    server.put("b.aac", parts[1]);
    server.put("c.aac", id3Tag({id3Frame("TIT2", std::string("\x00", 1) + "Caf\xE9")}) + parts[2]);
    server.put("list.m3u8", endedPlaylist({"#EXTINF:2.0,", "a.aac", "#EXTINF:2.0,title=\"Second\",artist=\"B & C;\"",
                                           "b.aac", "#EXTINF:2.0,", "c.aac", "#EXT-X-ENDLIST"}));
    HlsListener listener;
    ASSERT_EQ(listener.open(server.url("list.m3u8")), AudioError::Ok);
    const HlsListener::Heard heard = listener.readAll();
    ASSERT_EQ(heard.titles.size(), 3u);
    // The station's name from the first tag stays with every later title.
    EXPECT_EQ(heard.titles[0].second, "StreamTitle='Artist One - Song';StreamName='Loopback FM';");
    EXPECT_NEAR(heard.titles[0].first, 0.0, 0.01);
    EXPECT_EQ(heard.titles[1].second, "StreamTitle='B &#38; C&#59; - Second';StreamName='Loopback FM';");
    EXPECT_EQ(heard.titles[2].second, "StreamTitle='Caf\xC3\xA9';StreamName='Loopback FM';");
    // Each where its segment's audio starts, within a frame or two of decoder delay.
    EXPECT_NEAR(heard.titles[1].first, 2.0, 0.1);
    EXPECT_NEAR(heard.titles[2].first, 4.0, 0.1);
    EXPECT_LT(continuity(heard.pcm).longestSilence, 0.01);
}

// A packed segment whose tag and first frame come in pieces cut anywhere
// is told and read as one that comes at once.
TEST(AudioEngineHls, PackedAudioInPiecesCutAnywhereIsToldAndReadAlike) {
    const std::vector<std::string> parts = test::adtsParts(test::toneFileBytes("aac", "aac", 440, 2.2), 2.0);
    ASSERT_FALSE(parts.empty());
    const std::string tag = id3Tag({id3Frame("TIT2", std::string("\x03", 1) + "Slow")});
    const std::size_t tagBytes = tag.size();
    const std::string segment = tag + parts[0];
    test::HttpTestServer server([&](test::HttpTestServer::Connection& connection, const std::string& request) {
        if (request.starts_with("GET /list.m3u8")) {
            connection.send(test::HttpTestServer::okResponse(endedPlaylist({"#EXTINF:2.0,", "slow.aac", "#EXT-X-ENDLIST"})));
            return;
        }
        connection.send("HTTP/1.0 200 OK\r\nContent-Type: audio/aac\r\n\r\n");
        // Cut inside the mark, inside the header, after the tag, and after the frame's first byte.
        std::size_t at = 0;
        for (const std::size_t cut : {std::size_t{2}, std::size_t{9}, tagBytes, tagBytes + 1}) {
            if (!connection.send(segment.substr(at, cut - at)) || !connection.pause(30ms)) {
                return;
            }
            at = cut;
        }
        connection.send(segment.substr(at));
    });
    HlsListener listener;
    ASSERT_EQ(listener.open(server.url("/list.m3u8")), AudioError::Ok);
    const HlsListener::Heard heard = listener.readAll();
    ASSERT_EQ(heard.titles.size(), 1u);
    EXPECT_EQ(heard.titles[0].second, "StreamTitle='Slow';");
    EXPECT_NEAR(continuity(heard.pcm).seconds, 2.0, 0.15);
}

TEST(AudioEngineHls, Aes128SegmentsAreDecryptedAndKeysOrMethodsWeCannotUseFailTheOpen) {
    HlsTestServer server;
    ASSERT_TRUE(server.makeSegments(660, 2, 2.0));
    const std::string key = "0123456789abcdef";
    const std::string iv = "fedcba9876543210";
    std::string sequenceIv(16, '\0');
    sequenceIv[15] = 1;  // the second segment's number
    server.put("s0.ts", encrypted(test::readFile(server.file("part0.ts")), key, iv));
    server.put("s1.ts", encrypted(test::readFile(server.file("part1.ts")), key, sequenceIv));
    server.put("key.bin", key);
    server.put("short.bin", key.substr(1));
    const std::string ivHex = "0x66656463626139383736353433323130";
    server.put("aes.m3u8", endedPlaylist({"#EXT-X-KEY:METHOD=AES-128,URI=\"key.bin\",IV=" + ivHex, "#EXTINF:2.0,",
                                          "s0.ts", "#EXT-X-KEY:METHOD=AES-128,URI=\"key.bin\"", "#EXTINF:2.0,", "s1.ts",
                                          "#EXT-X-ENDLIST"}));
    HlsListener listener;
    ASSERT_EQ(listener.open(server.url("aes.m3u8")), AudioError::Ok);
    const HlsListener::Heard heard = listener.readAll();
    const Continuity sound = continuity(heard.pcm);
    EXPECT_NEAR(sound.seconds, 4.0, 0.25);
    EXPECT_NEAR(sound.frequency, 660, 5);
    EXPECT_LT(sound.longestSilence, 0.01);

    server.put("short.m3u8", endedPlaylist({"#EXT-X-KEY:METHOD=AES-128,URI=\"short.bin\"", "#EXTINF:2.0,", "s0.ts",
                                            "#EXT-X-ENDLIST"}));
    server.put("sample.m3u8", endedPlaylist({"#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"key.bin\"", "#EXTINF:2.0,", "s0.ts",
                                             "#EXT-X-ENDLIST"}));
    // The failure names what we cannot use, for the log line.
    for (const auto& [name, detail] : {std::pair{"short.m3u8", "the HLS key is not 16 bytes long"},
                                       std::pair{"sample.m3u8", "HLS encryption SAMPLE-AES is not supported"}}) {
        HlsListener refused;
        EXPECT_EQ(refused.open(server.url(name)), AudioError::FileFormat) << name;
        EXPECT_EQ(refused.failure.detail, detail);
    }
}

TEST(AudioEngineHls, FragmentedMp4SegmentsPlayClearOrEncryptedBehindTheirInitialisationSection) {
    HlsTestServer server;
    ASSERT_TRUE(server.makeSegments(550, 3, 2.0, HlsTestServer::Codec::Aac, HlsTestServer::Segments::Fragmented));
    const std::string key = "0123456789abcdef";
    const std::string iv = "fedcba9876543210";
    const std::string ivHex = "0x66656463626139383736353433323130";
    server.put("key.bin", key);
    server.put("init.enc", encrypted(test::readFile(server.file("init.mp4")), key, iv));
    // The section once in a file of its own, once as a range of a larger one.
    const std::string init = test::readFile(server.file("init.mp4"));
    server.put("ranged.bin", std::string(100, 'x') + init + std::string(50, 'y'));
    std::vector<std::string> clear = {"#EXT-X-MAP:URI=\"ranged.bin\",BYTERANGE=\"" + std::to_string(init.size()) + "@100\""};
    std::vector<std::string> secret = {"#EXT-X-KEY:METHOD=AES-128,URI=\"key.bin\",IV=" + ivHex, "#EXT-X-MAP:URI=\"init.enc\""};
    for (int i = 0; i < 3; ++i) {
        const std::string name = "part" + std::to_string(i) + ".m4s";
        server.put("e" + name, encrypted(test::readFile(server.file(name)), key, iv));
        clear.insert(clear.end(), {"#EXTINF:2.0,", name});
        secret.insert(secret.end(), {"#EXTINF:2.0,", "e" + name});
    }
    clear.push_back("#EXT-X-ENDLIST");
    secret.push_back("#EXT-X-ENDLIST");
    server.put("clear.m3u8", endedPlaylist(clear));
    server.put("secret.m3u8", endedPlaylist(secret));
    for (const char* name : {"clear.m3u8", "secret.m3u8"}) {
        SCOPED_TRACE(name);
        HlsListener listener;
        ASSERT_EQ(listener.open(server.url(name)), AudioError::Ok) << listener.failure.detail;
        const Continuity sound = continuity(listener.readAll().pcm);
        EXPECT_NEAR(sound.seconds, 6.0, 0.25);
        EXPECT_LT(sound.longestSilence, 0.01) << "no gap at the fragment joins";
        EXPECT_NEAR(sound.frequency, 550, 5);
        const auto info = listener.stream.info();
        ASSERT_TRUE(info);
        EXPECT_EQ(info->channelType, channel_type::kAacStream) << "recorded as ADTS, as a transport stream's AAC";
    }

    // Fragments without their section, or with one naming audio we cannot play.
    server.put("bare.m3u8", endedPlaylist({"#EXTINF:2.0,", "part0.m4s", "#EXT-X-ENDLIST"}));
    HlsListener bare;
    EXPECT_EQ(bare.open(server.url("bare.m3u8")), AudioError::FileFormat);
    server.put("noinit.m3u8", endedPlaylist({"#EXT-X-MAP:URI=\"missing.mp4\"", "#EXTINF:2.0,", "part0.m4s", "#EXT-X-ENDLIST"}));
    HlsListener missing;
    EXPECT_NE(missing.open(server.url("noinit.m3u8")), AudioError::Ok);
    server.put("junk.mp4", std::string(300, 'j'));
    server.put("junk.m3u8", endedPlaylist({"#EXT-X-MAP:URI=\"junk.mp4\"", "#EXTINF:2.0,", "part0.m4s", "#EXT-X-ENDLIST"}));
    HlsListener junk;
    EXPECT_EQ(junk.open(server.url("junk.m3u8")), AudioError::FileFormat);
    EXPECT_EQ(junk.failure.detail, "the HLS initialisation section names no audio track");
}

TEST(AudioEngineHls, OpusAndFlacFragmentsBecomeOneOggStreamAcrossSegments) {
    for (const auto& [codec, type] : {std::pair{HlsTestServer::Codec::Opus, channel_type::kOggOpusStream},
                                      std::pair{HlsTestServer::Codec::Flac, channel_type::kOggFlacStream}}) {
        SCOPED_TRACE(type);
        HlsTestServer server;
        ASSERT_TRUE(server.makeSegments(440, 3, 2.0, codec, HlsTestServer::Segments::Fragmented));
        HlsListener listener;
        ASSERT_EQ(listener.open(server.url("vod.m3u8")), AudioError::Ok) << listener.failure.detail;
        const auto info = listener.stream.info();
        ASSERT_TRUE(info);
        EXPECT_EQ(info->channelType, type);
        EXPECT_EQ(info->frequency, codec == HlsTestServer::Codec::Opus ? 48000u : 44100u);
        const Continuity sound = continuity(listener.readAll().pcm, static_cast<int>(info->frequency));
        EXPECT_NEAR(sound.seconds, 6.0, 0.25);
        EXPECT_LT(sound.longestSilence, 0.01) << "no gap at the segment joins";
        EXPECT_NEAR(sound.frequency, 440, 5);
        // The recorder gets Ogg pages, the stream's first page first.
        std::lock_guard<std::mutex> guard(listener.lock);
        ASSERT_GE(listener.downloaded.size(), 6u);
        EXPECT_EQ(listener.downloaded.substr(0, 4), "OggS");
        EXPECT_EQ(listener.downloaded[5] & 0x02, 0x02);
    }
}

TEST(AudioEngineHls, ALivePlaylistThatStallsOrLosesASegmentEndsAsADroppedStream) {
    HlsTestServer server;
    ASSERT_TRUE(server.makeSegments(440, 3, 1.0));
    const std::string head = "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXT-X-MEDIA-SEQUENCE:7\n";
    server.put("stalled.m3u8", head + "#EXTINF:1.0,\npart0.ts\n#EXTINF:1.0,\npart1.ts\n#EXTINF:1.0,\npart2.ts\n");
    {
        HlsListener listener;
        const auto started = Clock::now();
        ASSERT_EQ(listener.open(server.url("stalled.m3u8")), AudioError::Ok);
        const HlsListener::Heard heard = listener.readAll(15s);
        const double took = std::chrono::duration<double>(Clock::now() - started).count();
        EXPECT_TRUE(heard.ended);
        EXPECT_NEAR(continuity(heard.pcm).seconds, 3.0, 0.25) << "the three segments, then the end";
        EXPECT_LT(took, 6.0) << "three target durations without a new segment is a drop";
    }
    server.put("lost.m3u8", head + "#EXTINF:1.0,\npart0.ts\n#EXTINF:1.0,\nmissing.ts\n#EXTINF:1.0,\npart2.ts\n");
    {
        HlsListener listener;
        ASSERT_EQ(listener.open(server.url("lost.m3u8")), AudioError::Ok);
        const HlsListener::Heard heard = listener.readAll(15s);
        EXPECT_TRUE(heard.ended);
        EXPECT_NEAR(continuity(heard.pcm).seconds, 1.0, 0.25) << "a segment that fails twice drops the stream";
        const std::vector<std::string> lines = server.requestLines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "GET /missing.ts HTTP/1.0"), 2);
    }
}

TEST(AudioEngineHls, HostilePlaylistsAndSegmentsFailTheOpenQuicklyInBoundedMemory) {
    HlsTestServer server;
    ASSERT_TRUE(server.makeSegments(440, 1, 1.0));
    std::string many = "#EXTM3U\n#EXT-X-TARGETDURATION:1\n";
    for (int i = 0; i < 100000; ++i) {
        many += "#EXTINF:1.0,\ngone" + std::to_string(i) + ".ts\n";
    }
    server.put("many.m3u8", many);  // 2.2 MB: over the playlist bound
    server.put("longline.m3u8", "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1.0," + std::string(1000000, 'x') +
                                    "\npart0.ts\n#EXT-X-ENDLIST\n");
    server.put("self.m3u8", "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1000\nself.m3u8\n");
    server.put("page.ts", "<html><body>Not here</body></html>");
    server.put("html.m3u8", endedPlaylist({"#EXTINF:1.0,", "page.ts", "#EXT-X-ENDLIST"}));
    const std::vector<std::pair<std::string, AudioError>> cases = {
        {"many.m3u8", AudioError::FileFormat},
        {"self.m3u8", AudioError::FileFormat},
        {"html.m3u8", AudioError::FileFormat},
    };
    for (const auto& [name, error] : cases) {
        HlsListener listener;
        const auto started = Clock::now();
        EXPECT_EQ(listener.open(server.url(name)), error) << name;
        EXPECT_LT(Clock::now() - started, 3s) << name;
    }
    // A line over the parser's bound is left out; the rest still plays.
    HlsListener listener;
    ASSERT_EQ(listener.open(server.url("longline.m3u8")), AudioError::Ok);
    EXPECT_NEAR(continuity(listener.readAll().pcm).seconds, 1.0, 0.2);
}

// A stop abandons a segment fetch in flight at once, however slow the server.
TEST(AudioEngineHls, FreeingTheStreamCutsASegmentThatNeverFinishesShort) {
    HlsTestServer files;
    ASSERT_TRUE(files.makeSegments(440, 1, 1.0));
    const std::string segment = test::readFile(files.file("part0.ts"));
    test::HttpTestServer server([&](test::HttpTestServer::Connection& connection, const std::string& request) {
        if (request.starts_with("GET /live.m3u8")) {
            connection.send(test::HttpTestServer::okResponse(
                "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1.0,\nfirst.ts\n#EXTINF:1.0,\nslow.ts\n"));
        } else if (request.starts_with("GET /first.ts")) {
            connection.send(test::HttpTestServer::okResponse(segment));
        } else {
            connection.send("HTTP/1.0 200 OK\r\nContent-Type: video/mp2t\r\n\r\n" + segment.substr(0, 188));
            connection.pause(30s);
        }
    });
    HlsListener listener;
    ASSERT_EQ(listener.open(server.url("/live.m3u8")), AudioError::Ok);
    std::this_thread::sleep_for(300ms);  // on to the slow segment
    const auto started = Clock::now();
    EXPECT_TRUE(listener.stream.free());
    EXPECT_LT(Clock::now() - started, 300ms);
}

}  // namespace
}  // namespace korvanel
