// korvanel-cli playing a tone that turns from 440 Hz to 880 Hz exactly where
// the stream's title changes, served as icecast serves a live mount (a burst
// of 64 KiB, then real time), so seconds of sound are buffered when the new
// title arrives. The title must come with its sound at the card, while the
// recording still splits where the title sits in the stream.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/faults/fault_fixtures.h"
#include "tests/support/audio_test_tones.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::HttpTestServer;

constexpr std::size_t kBurstBytes = 64 * 1024;
constexpr double kLowSeconds = 6.0;
constexpr double kHighSeconds = 3.0;
constexpr double kCardBytesPerSecond = 44100.0 * 4;

// The burst at once, then the rest at the stream's own rate.
void sendLikeIcecast(HttpTestServer::Connection& connection, const std::string& head, const std::string& body,
                     double bytesPerSecond) {
    if (!connection.send(head) || !connection.send(std::string_view(body).substr(0, kBurstBytes))) {
        return;
    }
    const auto started = std::chrono::steady_clock::now();
    const auto slice = static_cast<std::size_t>(bytesPerSecond / 20);
    for (std::size_t sent = kBurstBytes; sent < body.size();) {
        const std::size_t count = std::min(slice, body.size() - sent);
        if (!connection.send(std::string_view(body).substr(sent, count))) {
            return;
        }
        sent += count;
        const auto due = started + std::chrono::milliseconds(
                                       static_cast<long>((sent - kBurstBytes) * 1000 / bytesPerSecond));
        const auto now = std::chrono::steady_clock::now();
        if (due > now && !connection.pause(std::chrono::duration_cast<std::chrono::milliseconds>(due - now))) {
            return;
        }
    }
    connection.pause(30s);
}

// Where the left channel first turns high after a low tone, in seconds of
// card samples; a negative value when it never does.
double highToneStarts(const std::string& pcm) {
    const std::vector<std::int16_t> left = test::channelSamples(pcm, 2, 0);
    constexpr std::size_t kWindow = 44100 / 50;
    bool lowSeen = false;
    for (std::size_t at = 0; at + kWindow <= left.size(); at += kWindow / 4) {
        const std::vector<std::int16_t> part(left.begin() + static_cast<std::ptrdiff_t>(at),
                                             left.begin() + static_cast<std::ptrdiff_t>(at + kWindow));
        if (test::peakLevel(part) < 2000) {
            continue;
        }
        const double frequency = test::toneFrequency(part, 44100);
        if (frequency < 660) {
            lowSeen = true;
        } else if (lowSeen) {
            return static_cast<double>(at) / 44100;
        }
    }
    return -1;
}

struct TitleRun {
    double titleShownAt = -1;  // card seconds when the log named the high tone
    double highToneAt = -1;    // card seconds where the high tone begins
    std::string err;
};

TitleRun playUntilTheHighTone(test::TempFolder& home, const std::string& url, const std::string& folder) {
    const std::string card = home.file("card.raw");
    test::ChildProcess cli(test::cliPath(),
                           {"play", "--seconds", "8", "--pcm-out", card, "--set", "Recording/Enabled=true", "--set",
                            "Recording/Path=" + folder, "--set", "Recording/FilePattern=%track%", url},
                           test::cliEnvironment(home));
    TitleRun run;
    if (cli.waitForErr(" :: High Tone\n", 20s)) {
        run.titleShownAt = static_cast<double>(std::filesystem::file_size(card)) / kCardBytesPerSecond;
    }
    cli.waitForExit(20s);
    run.err = cli.err();
    run.highToneAt = highToneStarts(test::readFile(card));
    return run;
}

class CliTitleTiming : public ::testing::Test {
protected:
    test::TempFolder home_;
    const std::string folder_ = home_.file("recordings");
};

TEST_F(CliTitleTiming, IcyTitleComesWithItsSoundAndTheRecordingSplitsWhereItSits) {
    const std::string low = test::mp3ToneFrames(home_, 440, kLowSeconds);
    const std::string high = test::mp3ToneFrames(home_, 880, kHighSeconds);
    ASSERT_FALSE(low.empty() || high.empty());
    // A few bytes between the tones, which a decoder skips, put a metadata
    // block right at the switch.
    const std::string audio = low + std::string((4 - low.size() % 4) % 4, '\0') + high;
    const std::size_t switchAt = audio.size() - high.size();
    const std::size_t interval = switchAt / 4;
    std::string body;
    for (std::size_t at = 0; at < audio.size(); at += interval) {
        body += audio.substr(at, interval);
        if (at + interval <= audio.size()) {
            body += test::icyMetadataBlock(std::string("StreamTitle='") +
                                           (at + interval < switchAt ? "Low Tone" : "High Tone") + "';");
        }
    }
    HttpTestServer station([&](HttpTestServer::Connection& connection, const std::string&) {
        sendLikeIcecast(connection, test::streamHead("audio/mpeg", interval), body,
                        static_cast<double>(audio.size()) / (kLowSeconds + kHighSeconds));
    });

    const TitleRun run = playUntilTheHighTone(home_, station.url("/tone.mp3"), folder_);
    ASSERT_GT(run.titleShownAt, 0) << run.err;
    ASSERT_GT(run.highToneAt, kLowSeconds - 0.5);
    EXPECT_NEAR(run.titleShownAt, run.highToneAt, 0.3) << run.err;
    RecordProperty("mp3_title_minus_sound_ms", static_cast<int>((run.titleShownAt - run.highToneAt) * 1000));

    // The first title was shown with the first sound, not a block later.
    EXPECT_NE(run.err.find(" :: Low Tone\n"), std::string::npos) << run.err;
    // The high tone's file begins with its first frame.
    const std::string recorded = test::readFile(folder_ + "/High Tone.mp3");
    ASSERT_GT(recorded.size(), 4096u) << run.err;
    EXPECT_EQ(recorded.compare(0, 4096, high, 0, 4096), 0);
    EXPECT_TRUE(std::filesystem::exists(folder_ + "/Low Tone.mp3"));
}

TEST_F(CliTitleTiming, ChainedOggTitleComesWithItsSound) {
    const std::string low = test::toneFileBytes("ogg", "libvorbis", 440, kLowSeconds, {"title=Low Tone"});
    const std::string high = test::toneFileBytes("ogg", "libvorbis", 880, kHighSeconds, {"title=High Tone"});
    ASSERT_FALSE(low.empty() || high.empty());
    const std::string body = low + high;
    HttpTestServer station([&](HttpTestServer::Connection& connection, const std::string&) {
        sendLikeIcecast(connection, "HTTP/1.0 200 OK\r\nContent-Type: application/ogg\r\n\r\n", body,
                        static_cast<double>(body.size()) / (kLowSeconds + kHighSeconds));
    });

    const TitleRun run = playUntilTheHighTone(home_, station.url("/tone.ogg"), folder_);
    ASSERT_GT(run.titleShownAt, 0) << run.err;
    ASSERT_GT(run.highToneAt, kLowSeconds - 0.5);
    EXPECT_NEAR(run.titleShownAt, run.highToneAt, 0.3) << run.err;
    RecordProperty("ogg_title_minus_sound_ms", static_cast<int>((run.titleShownAt - run.highToneAt) * 1000));
    EXPECT_TRUE(std::filesystem::exists(folder_ + "/High Tone.ogg"));
}

}  // namespace
}  // namespace korvanel
