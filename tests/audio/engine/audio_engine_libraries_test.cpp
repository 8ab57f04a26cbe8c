// FFmpeg and SDL are loaded at run time: without them the engine must fail
// only what needs them, with an error code instead of a crash, and go on with
// the rest. Live MPEG streams are decoded without libavformat, and must come
// out exactly as through it.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <optional>
#include <thread>

#include "base/shared_library.h"
#include "audio/engine/audio_engine.h"
#include "tests/support/audio_test_tones.h"
#include "tests/support/http_test_server.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::HttpTestServer;

// One generated MP3 file for the whole suite.
const std::string& toneMp3() {
    static const std::string bytes = test::toneFileBytes("mp3", "libmp3lame", 1000, 2.0);
    return bytes;
}

AudioEngine::Libraries withoutFfmpeg() {
    AudioEngine::Libraries libraries;
    libraries.ffmpeg.avcodec = "libavcodec-missing.so.0";
    return libraries;
}

AudioEngine::Libraries withoutAvformat() {
    AudioEngine::Libraries libraries;
    libraries.ffmpeg.avformat = "libavformat-missing.so.0";
    return libraries;
}

// A live answer (no length) or a file answer (with one) for the body.
std::string answer(const std::string& body, const std::string& contentType, bool live) {
    return (live ? "ICY 200 OK\r\n" : "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n") +
           "Content-Type: " + contentType + "\r\n\r\n" + body;
}

// Every sample the engine decodes from the address until the stream ends;
// why not when it does not open.
AudioResult<std::string> decodeAll(AudioEngine& engine, const std::string& url) {
    engine.init(audio::kNoSoundDevice, audio::kOutputFrequency);
    AudioResult<AudioStream> opened = engine.openUrl(url, 0, audio::kStreamDecode, nullptr);
    if (!opened) {
        return fail(opened.error());
    }
    AudioStream stream = std::move(opened).value();
    std::string pcm;
    std::array<std::uint8_t, 16384> buffer{};
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    for (;;) {
        const AudioResult<std::uint32_t> given = stream.read(buffer);
        if (!given || std::chrono::steady_clock::now() > deadline) {
            break;
        }
        const std::uint32_t count = *given;
        pcm.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(count));
        if (count == 0) {
            std::this_thread::sleep_for(2ms);
        }
    }
    stream.free();
    return pcm;
}

TEST(AudioEngineLibraries, LiveMpegStreamsDecodeWithoutLibavformatExactlyAsWithIt) {
    const std::string tone = toneMp3();
    ASSERT_FALSE(tone.empty());
    // An ID3v2 tag full of what look like frame headers, as some servers
    // put before a stream: it must be skipped, not decoded.
    std::string fakeFrames;
    for (int i = 0; i < 300; ++i) {
        fakeFrames += std::string("\xFF\xFB\x90\x64", 4) + std::string(20, static_cast<char>(i));
    }
    const std::uint32_t tagSize = static_cast<std::uint32_t>(fakeFrames.size());
    std::string tag = std::string("ID3\x04\x00\x00", 6);
    for (int shift : {21, 14, 7, 0}) {
        tag.push_back(static_cast<char>((tagSize >> shift) & 0x7F));
    }
    tag += fakeFrames;

    HttpTestServer file(HttpTestServer::reply(answer(tone, "audio/mpeg", false)));
    AudioEngine withDemuxer;
    const AudioResult<std::string> expected = decodeAll(withDemuxer, file.url("/tone.mp3"));
    ASSERT_TRUE(expected);
    ASSERT_GT(expected->size(), 44100u * 4);  // most of the two seconds

    AudioEngine withoutDemuxer(withoutAvformat());
    for (const std::string& body : {tone, tag + tone}) {
        HttpTestServer live(HttpTestServer::reply(answer(body, "audio/mpeg", true)));
        const AudioResult<std::string> decoded = decodeAll(withoutDemuxer, live.url("/radio"));
        ASSERT_TRUE(decoded) << static_cast<int>(failureKind(decoded));
        // A file's end padding is known only to a demuxer that reads its
        // header as a file's: a live stream keeps it (under one frame).
        const bool tagged = body.size() > tone.size();
        ASSERT_GE(decoded->size(), expected->size()) << "with tag: " << tagged;
        EXPECT_LT(decoded->size(), expected->size() + 1152 * 4) << "with tag: " << tagged;
        EXPECT_TRUE(decoded->compare(0, expected->size(), *expected) == 0) << "with tag: " << tagged;
    }

    // What only libavformat can open fails as not available, not as a crash.
    HttpTestServer oggLive(HttpTestServer::reply(answer("OggS", "application/ogg", true)));
    EXPECT_EQ(failureKind(decodeAll(withoutDemuxer, oggLive.url("/radio.ogg"))), AudioError::NotAvailable);
    EXPECT_EQ(failureKind(decodeAll(withoutDemuxer, file.url("/tone.mp3"))), AudioError::NotAvailable);
}

TEST(AudioEngineLibraries, LiveOggStreamsDecodeWithoutLibavformatAsThroughIt) {
    AudioEngine withDemuxer;
    AudioEngine withoutDemuxer(withoutAvformat());
    for (const char* codec : {"libvorbis", "libopus"}) {
        SCOPED_TRACE(codec);
        const std::string tone = test::toneFileBytes("ogg", codec, 1000, 2.0, {"title=Ogg Tone"});
        ASSERT_FALSE(tone.empty());
        HttpTestServer file(HttpTestServer::reply(answer(tone, "application/ogg", false)));
        const AudioResult<std::string> expected = decodeAll(withDemuxer, file.url("/tone.ogg"));
        ASSERT_TRUE(expected);
        ASSERT_GT(expected->size(), 44100u * 4);

        HttpTestServer live(HttpTestServer::reply(answer(tone, "application/ogg", true)));
        const AudioResult<std::string> decoded = decodeAll(withoutDemuxer, live.url("/radio.ogg"));
        ASSERT_TRUE(decoded) << static_cast<int>(failureKind(decoded));
        // The last page's length in samples is a file's to tell: a live
        // stream plays its last packet whole.
        ASSERT_GE(decoded->size(), expected->size());
        EXPECT_LT(decoded->size(), expected->size() + 2048 * 4);
        EXPECT_TRUE(decoded->compare(0, expected->size(), *expected) == 0);
    }
}

TEST(AudioEngineLibraries, LiveAdtsStreamsDecodeWithoutLibavformatAsThroughIt) {
    const std::string tone = test::toneFileBytes("aac", "aac", 1000, 2.0);
    ASSERT_FALSE(tone.empty());
    HttpTestServer file(HttpTestServer::reply(answer(tone, "audio/aac", false)));
    AudioEngine withDemuxer;
    const AudioResult<std::string> expected = decodeAll(withDemuxer, file.url("/tone.aac"));
    ASSERT_TRUE(expected);
    ASSERT_GT(expected->size(), 44100u * 4);
    HttpTestServer live(HttpTestServer::reply(answer(tone, "audio/aacp", true)));
    AudioEngine withoutDemuxer(withoutAvformat());
    const AudioResult<std::string> decoded = decodeAll(withoutDemuxer, live.url("/radio"));
    ASSERT_TRUE(decoded) << static_cast<int>(failureKind(decoded));
    EXPECT_EQ(decoded->size(), expected->size());
    EXPECT_TRUE(*decoded == *expected);
}

TEST(AudioEngineLibraries, LiveOggOfAnotherCodecStartsOverThroughLibavformat) {
    const std::string tone = test::toneFileBytes("ogg", "flac", 1000, 1.0);
    ASSERT_FALSE(tone.empty());
    HttpTestServer live(HttpTestServer::reply(answer(tone, "application/ogg", true)));
    AudioEngine engine;
    const AudioResult<std::string> decoded = decodeAll(engine, live.url("/radio.ogg"));
    ASSERT_TRUE(decoded) << static_cast<int>(failureKind(decoded));
    // The whole second: the bytes read before the codec was known were not lost.
    EXPECT_EQ(decoded->size(), 44100u * 4);
    EXPECT_NEAR(test::toneFrequency(test::channelSamples(*decoded, 2, 0), 44100), 1000.0, 5.0);
}

TEST(AudioEngineLibraries, OggStreamsThatNeverFinishTheirHeadersFailCleanly) {
    // 50,000 logical streams, each begun by a Vorbis identification packet
    // and broken off by the next.
    std::string pages;
    for (std::uint32_t serial = 1; serial <= 50000; ++serial) {
        std::string page("OggS\0\x02", 6);
        page.append(8, '\0');  // granule position
        for (int shift : {0, 8, 16, 24}) {
            page.push_back(static_cast<char>((serial >> shift) & 0xFF));
        }
        page.append(8, '\0');  // sequence number and checksum
        page += std::string("\x01\x1E", 2);  // one segment of 30 bytes
        page += std::string("\x01vorbis", 7) + std::string(23, '\x01');
        pages += page;
    }
    HttpTestServer live(HttpTestServer::reply(answer(pages, "application/ogg", true)));
    AudioEngine engine;
    EXPECT_EQ(failureKind(decodeAll(engine, live.url("/radio.ogg"))), AudioError::FileFormat);
}

AudioEngine::Libraries withoutSdl() {
    AudioEngine::Libraries libraries;
    libraries.sdl = "libSDL2-missing.so.0";
    return libraries;
}

TEST(SharedLibrary, LoadsAndResolvesFunctionsAndRefusesWhatIsMissing) {
    EXPECT_FALSE(SharedLibrary::open("libkorvanel-no-such-library.so.1"));
    const std::optional<SharedLibrary> math = SharedLibrary::open("libm.so.6");
    ASSERT_TRUE(math);
    double (*cosine)(double) = nullptr;
    ASSERT_TRUE(math->resolve("cos", cosine));
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    int (*missing)(int) = nullptr;
    EXPECT_FALSE(math->resolve("korvanel_no_such_function", missing));
    EXPECT_EQ(missing, nullptr);
}

TEST(AudioEngineLibraries, WithoutFfmpegStreamsFailAsNotAvailableAndPushStreamsStillPlay) {
    const std::string tone = toneMp3();
    ASSERT_FALSE(tone.empty());
    HttpTestServer server(HttpTestServer::reply(HttpTestServer::okResponse(tone)));
    AudioEngine engine(withoutFfmpeg());
    ASSERT_TRUE(engine.init(audio::kNoSoundDevice, audio::kOutputFrequency));

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(failureKind(engine.openUrl(server.url("/tone.mp3"), 0, audio::kStreamDecode, nullptr)), AudioError::NotAvailable);
    EXPECT_EQ(failureKind(engine.openWindowsMedia(server.url("/tone.wma"), audio::kStreamDecode)), AudioError::NotAvailable);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

    // A stream fed by the caller needs no decoder.
    AudioResult<AudioStream> pushed = engine.openOutput(
        audio::kOutputFrequency, 2, 0, [](std::span<std::uint8_t> buffer) {
            std::fill(buffer.begin(), buffer.end(), std::uint8_t{0x11});
            return static_cast<std::uint32_t>(buffer.size());
        });
    ASSERT_TRUE(pushed);
    EXPECT_TRUE(pushed->play());
    EXPECT_TRUE(pushed->free());
}

TEST(AudioEngineLibraries, WithoutSdlOnlySoundCardsFailAndStreamsStillDecode) {
    const std::string tone = toneMp3();
    ASSERT_FALSE(tone.empty());
    HttpTestServer server(HttpTestServer::reply(HttpTestServer::okResponse(tone)));
    AudioEngine engine(withoutSdl());
    EXPECT_EQ(failureKind(engine.init(audio::kDefaultDevice, audio::kOutputFrequency)), AudioError::Driver);
    EXPECT_FALSE(engine.deviceDescription(audio::kDefaultDevice));

    const AudioResult<std::string> decoded = decodeAll(engine, server.url("/tone.mp3"));
    ASSERT_TRUE(decoded) << static_cast<int>(failureKind(decoded));
    // The decoded tone comes out, well away from silence.
    EXPECT_GT(test::peakLevel(test::channelSamples(*decoded, 2, 0)), 1000);
}

}  // namespace
}  // namespace korvanel
