// korvanel-cli against loopback servers that misbehave: one that accepts and
// then never answers, one that stalls after some audio, one that sends
// garbage under a plausible answer. The program must neither crash nor hang,
// must say what went wrong, and must end within a second when told to.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <random>
#include <thread>

#include "tests/faults/fault_fixtures.h"
#include "tests/support/audio_test_tones.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::HttpTestServer;

// Holds every connection open without a word until the server stops.
void neverAnswer(HttpTestServer::Connection& connection, const std::string&) { connection.pause(120s); }

class HostileServer : public ::testing::Test {
protected:
    ChildProcess startCli(std::vector<std::string> arguments) {
        return ChildProcess(test::cliPath(), arguments, test::cliEnvironment(home_));
    }

    test::TempFolder home_;
};

TEST_F(HostileServer, SilentServerTimesOutIntoAllFailedAndStopCutsTheWaitShort) {
    HttpTestServer silent(neverAnswer);
    const std::string address = silent.url("/silent.mp3");

    // Left alone: the one attempt times out and the player gives up.
    const auto started = std::chrono::steady_clock::now();
    ChildProcess alone = startCli({"play", "--pcm-out", home_.file("alone.raw"), address});
    const std::optional<int> status = alone.waitForExit(20s);
    const auto took = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(status.has_value()) << alone.err();
    EXPECT_EQ(*status, 1) << alone.err();
    EXPECT_NE(alone.err().find(" :: Connect error: "), std::string::npos) << alone.err();
    EXPECT_NE(alone.err().find(" :: All sources failed, giving up!"), std::string::npos) << alone.err();
    // The open's 5 s time-out, not the 15 s of a silent stream after its head.
    EXPECT_GE(took, 4500ms);
    EXPECT_LT(took, 9s);
    RecordProperty("silent_server_gave_up_ms",
                   static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));

    // Interrupted while the connection hangs: out within the stop bound.
    ChildProcess stopped = startCli({"play", "--pcm-out", home_.file("stopped.raw"), address});
    ASSERT_TRUE(stopped.waitForErr(" :: Connecting to " + address, 10s)) << stopped.err();
    std::this_thread::sleep_for(500ms);  // well into the wait for the answer
    const test::Interruption interruption = test::interrupt(stopped);
    ASSERT_TRUE(interruption.exitCode.has_value()) << stopped.err();
    EXPECT_EQ(*interruption.exitCode, 0) << stopped.err();
    EXPECT_LT(interruption.took, test::kStopBound) << stopped.err();
    EXPECT_NE(stopped.err().find(" :: Stopped.."), std::string::npos) << stopped.err();
    RecordProperty("stop_during_silent_open_ms", static_cast<int>(interruption.took.count()));
}

TEST_F(HostileServer, SilentPlaylistServerIsCutShortByStop) {
    HttpTestServer silent(neverAnswer);
    const std::string address = silent.url("/station.pls");
    ChildProcess cli = startCli({"play", "--pcm-out", home_.file("out.raw"), address});
    ASSERT_TRUE(cli.waitForErr(" :: Retrieving playlist, " + address, 10s)) << cli.err();
    std::this_thread::sleep_for(500ms);  // well into the download's wait

    const test::Interruption interruption = test::interrupt(cli);
    ASSERT_TRUE(interruption.exitCode.has_value()) << cli.err();
    EXPECT_EQ(*interruption.exitCode, 0) << cli.err();
    EXPECT_LT(interruption.took, test::kStopBound) << cli.err();
    EXPECT_NE(cli.err().find(" :: Stopped.."), std::string::npos) << cli.err();
    RecordProperty("stop_during_playlist_download_ms", static_cast<int>(interruption.took.count()));
}

TEST_F(HostileServer, StreamThatStallsIsLostThenReconnectedAndStopEndsItAtOnce) {
    const std::string audio = test::mp3ToneFrames(home_, 440, 2.0);
    ASSERT_FALSE(audio.empty());
    std::atomic<int> connections{0};
    // The first listener gets two seconds of audio, then nothing ever again;
    // later ones wait behind it without an answer.
    HttpTestServer stalling([&](HttpTestServer::Connection& connection, const std::string&) {
        if (connections++ == 0) {
            connection.send(test::streamHead("audio/mpeg"));
            connection.send(audio);
        }
        connection.pause(120s);
    });
    const std::string address = stalling.url("/stall.mp3");
    const std::string out = home_.file("out.raw");
    ChildProcess cli = startCli({"play", "--pcm-out", out, address});

    // Playing: the station's name is the line that says so.
    ASSERT_TRUE(cli.waitForErr(" :: Fault Radio\n", 10s)) << cli.err();
    const auto playing = std::chrono::steady_clock::now();
    // The silence runs out the stream's 10 s bound, counted from the last
    // byte: the stream counts as lost and the player tries again by itself.
    ASSERT_TRUE(cli.waitForErr(" :: Connection lost..", 25s)) << cli.err();
    const auto silentFor = std::chrono::steady_clock::now() - playing;
    EXPECT_GE(silentFor, 9500ms);
    EXPECT_LT(silentFor, 14s);
    ASSERT_TRUE(cli.waitForErr(" :: Trying to reconnect..", 2s)) << cli.err();
    ASSERT_TRUE(cli.waitForErr(" :: Connecting to " + address, 2s, 2)) << cli.err();
    std::this_thread::sleep_for(500ms);

    const test::Interruption interruption = test::interrupt(cli);
    ASSERT_TRUE(interruption.exitCode.has_value()) << cli.err();
    EXPECT_EQ(*interruption.exitCode, 0) << cli.err();
    EXPECT_LT(interruption.took, test::kStopBound) << cli.err();
    RecordProperty("stop_during_reconnect_ms", static_cast<int>(interruption.took.count()));
    // The two seconds that came were played, in tune.
    const std::string pcm = test::readFile(out);
    EXPECT_GT(pcm.size(), 1u * 44100 * 4);
    EXPECT_NEAR(test::toneFrequency(test::channelSamples(pcm, 2, 0), 44100), 440.0, 440.0 * 0.02);
}

// Random bytes, the same in every run.
std::string randomBytes(std::size_t count, std::uint32_t seed) {
    std::string bytes(count, '\0');
    std::mt19937 random(seed);
    for (char& c : bytes) {
        c = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

// The same without a byte that could begin an MPEG frame header.
std::string headerlessBytes(std::size_t count, std::uint32_t seed) {
    std::string bytes = randomBytes(count, seed);
    std::replace(bytes.begin(), bytes.end(), '\xFF', '\x7F');
    return bytes;
}

// An ID3v2 tag whose payload is these bytes, as a server may put before
// the audio.
std::string id3Tag(const std::string& payload) {
    std::string tag = "ID3\x03\x00\x00";
    for (const int shift : {21, 14, 7, 0}) {
        tag.push_back(static_cast<char>((payload.size() >> shift) & 0x7F));  // seven bits a byte
    }
    return tag + payload;
}

constexpr std::size_t kGarbageBytes = 10 * 1024 * 1024;

// korvanel-cli's environment for a memory measurement: freed blocks held
// back by the address sanitizer would look like growth.
std::vector<std::string> measuringEnvironment(const test::TempFolder& home) {
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    std::vector<std::string> environment = test::cliEnvironment(home);
    environment.push_back("ASAN_OPTIONS=" + std::string(sanitizer ? sanitizer : "") + (sanitizer ? ":" : "") +
                          "quarantine_size_mb=1");
    return environment;
}

TEST_F(HostileServer, GarbageAfterAudioIsReportedWithBoundedMemoryAndACleanLog) {
    const std::string audio = test::mp3ToneFrames(home_, 440, 2.0);
    ASSERT_FALSE(audio.empty());
    const std::string garbage = randomBytes(kGarbageBytes, 20240611);
    // Garbage without a byte that could begin a frame: a decoder looking
    // for the next frame finds none, however much it reads.
    const std::string headerless = headerlessBytes(kGarbageBytes, 20240611);
    std::atomic<int> connections{0};
    // The first listener gets two seconds of audio, 10 MB of garbage, then
    // up to 100 MB of the headerless kind; the others 10 MB of that alone.
    HttpTestServer server([&](HttpTestServer::Connection& connection, const std::string&) {
        connection.send("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n");
        if (connections++ > 0) {
            connection.send(headerless);
            return;
        }
        connection.send(audio);
        connection.send(garbage);
        for (int i = 0; i < 10 && connection.send(headerless); ++i) {
        }
    });
    const std::string address = server.url("/garbage.mp3");
    const std::string out = home_.file("out.raw");
    ChildProcess cli(test::cliPath(), {"play", "--pcm-out", out, address}, measuringEnvironment(home_));

    ASSERT_TRUE(cli.waitForErr(" :: Playing\n", 10s)) << cli.err();
    const long residentPlaying = cli.residentKib();
    // The garbage ends the stream as far as the player can tell: lost, and
    // the player tries again by itself.
    ASSERT_TRUE(cli.waitForErr(" :: Connection lost..", 20s)) << cli.err();
    // The garbage alone is refused at the open, and the list starts over
    // after its wait.
    ASSERT_TRUE(cli.waitForErr(" :: Connect error: ", 10s)) << cli.err();
    ASSERT_TRUE(cli.waitForErr(" :: Reconnecting from scratch in 10 seconds..", 5s)) << cli.err();
    std::this_thread::sleep_for(300ms);

    const test::Interruption interruption = test::interrupt(cli);
    ASSERT_TRUE(interruption.exitCode.has_value()) << cli.err();
    EXPECT_EQ(*interruption.exitCode, 0) << cli.err();
    EXPECT_LT(interruption.took, test::kStopBound);
    RecordProperty("stop_during_restart_wait_ms", static_cast<int>(interruption.took.count()));
    // Up to 120 MB of garbage came. A decoder that keeps what it cannot
    // frame holds twice that; a bounded one some 8 MB, which allocators
    // (a sanitizer's more so) may hold several times over.
    const long growthKib = cli.peakResidentKib() - residentPlaying;
    if (test::kResidentSizesTell) {
        EXPECT_LT(growthKib, 64 * 1024) << "peak " << cli.peakResidentKib() << " KiB";
    }
    RecordProperty("garbage_peak_growth_kib", static_cast<int>(growthKib));
    // The log holds the program's own lines only, not a decoder's complaint
    // about every damaged frame.
    const std::string log = cli.err();
    std::size_t lines = 0;
    for (std::size_t at = 0; at < log.size(); at = log.find('\n', at) + 1) {
        ++lines;
        EXPECT_EQ(log.compare(at + 8, 4, " :: "), 0) << log.substr(at, log.find('\n', at) - at);
        if (lines > 20) {
            break;
        }
    }
    EXPECT_LT(lines, 20u) << log.substr(0, 2000);
    const std::string pcm = test::readFile(out);
    EXPECT_NEAR(test::toneFrequency(test::channelSamples(pcm, 2, 0), 44100), 440.0, 440.0 * 0.02);
}

TEST_F(HostileServer, StreamOpeningWithTensOfMegabytesOfNothingIsRefusedWithBoundedMemory) {
    const std::string audio = test::mp3ToneFrames(home_, 440, 2.0);
    ASSERT_FALSE(audio.empty());
    struct Run {
        test::ProcessResult result;
        long peakKib = 0;
    };
    // The same station behind a small tag and behind a 40 MB one, which the
    // decoder reads through before it could find a frame. Sanitizers and
    // allocators keep memory of their own, so the two runs are compared.
    const auto run = [&](std::size_t tagBytes) {
        HttpTestServer server(HttpTestServer::reply("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n" +
                                                    id3Tag(std::string(tagBytes, '\0')) + audio));
        ChildProcess cli(test::cliPath(),
                         {"play", "--seconds", "1", "--pcm-out", home_.file("peak.raw"), server.url("/tagged.mp3")},
                         measuringEnvironment(home_));
        Run done;
        done.result.exitCode = cli.waitForExit(20s).value_or(-1);
        done.result.err = cli.err();
        done.peakKib = cli.peakResidentKib();
        return done;
    };
    const Run small = run(64 * 1024);
    EXPECT_EQ(small.result.exitCode, 0) << small.result.err;
    EXPECT_NEAR(test::toneFrequency(test::channelSamples(test::readFile(home_.file("peak.raw")), 2, 0), 44100),
                440.0, 440.0 * 0.02);
    const Run huge = run(4 * kGarbageBytes);
    EXPECT_EQ(huge.result.exitCode, 1) << huge.result.err;
    EXPECT_NE(huge.result.err.find(" :: Connect error: Unsupported file format"), std::string::npos)
        << huge.result.err;
    if (test::kResidentSizesTell) {
        EXPECT_LT(huge.peakKib - small.peakKib, 24 * 1024)
            << "peak " << small.peakKib << " KiB behind a small tag, " << huge.peakKib << " behind 40 MB";
    }
    RecordProperty("tag_40mb_peak_growth_kib", static_cast<int>(huge.peakKib - small.peakKib));
}

}  // namespace
}  // namespace korvanel
