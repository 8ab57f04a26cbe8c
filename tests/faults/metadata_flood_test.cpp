// korvanel-cli recording a station whose ICY title changes twenty times a
// second: every title is a new file, so the recorder opens and closes files
// as fast as the stream can name them. The titles must be reported, and the
// files together must hold the stream as it came, whole frames only.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>

#include "tests/faults/fault_fixtures.h"
#include "tests/support/audio_file_tools.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::linesOf;
using test::HttpTestServer;

constexpr std::size_t kTitlesPerSecond = 20;
constexpr std::size_t kMetaInterval = test::kMp3BytesPerSecond / kTitlesPerSecond;

std::string titleOf(std::size_t block) {
    char text[32];
    std::snprintf(text, sizeof text, "Flood Title %04zu", block + 1);
    return text;
}

// The byte length of the MPEG-1 Layer III frame at `at` (the standard's
// table, independent of the recorder's), or 0 when none starts there.
std::size_t frameBytesAt(const std::string& data, std::size_t at) {
    static constexpr int kKbps[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static constexpr int kRates[4] = {44100, 48000, 32000, 0};
    if (at + 4 > data.size()) {
        return 0;
    }
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(data[at + i]); };
    if (byte(0) != 0xFF || (byte(1) & 0xFE) != 0xFA) {
        return 0;
    }
    const int kbps = kKbps[byte(2) >> 4];
    const int rate = kRates[(byte(2) >> 2) & 3];
    if (kbps == 0 || rate == 0) {
        return 0;
    }
    return static_cast<std::size_t>(144 * kbps * 1000 / rate) + ((byte(2) >> 1) & 1);
}

// mp3val calls a file of a frame or two unlikely to be MPEG audio; that is
// all it may say about them.
std::string withoutShortFileWarning(const std::string& problems) {
    std::string kept;
    for (const auto& line : linesOf(problems)) {
        if (line.find("Too few MPEG frames") == std::string::npos) {
            kept += line + "\n";
        }
    }
    return kept;
}

TEST(MetadataFlood, TwentyTitlesASecondAreReportedAndRecordedWithoutLoss) {
    test::TempFolder home;
    const std::string audio = test::mp3ToneFrames(home, 440, 6.0);
    ASSERT_FALSE(audio.empty());
    HttpTestServer station([&](HttpTestServer::Connection& connection, const std::string&) {
        connection.send(test::streamHead("audio/mpeg", kMetaInterval));
        test::sendPaced(connection, audio, test::kMp3BytesPerSecond, kMetaInterval, titleOf);
        // The run is stopped before the audio ends.
    });
    const std::string folder = home.file("recordings");

    test::ChildProcess cli(test::cliPath(),
                           {"record", "--folder", folder, "--pattern", "%track%", station.url("/flood.mp3")},
                           test::cliEnvironment(home));
    // Three seconds of titles, then the user stops it in the middle of one.
    ASSERT_TRUE(cli.waitForOut(".mp3\n", 15s, 3 * kTitlesPerSecond)) << cli.out() << cli.err();
    const test::Interruption interruption = test::interrupt(cli);
    ASSERT_TRUE(interruption.exitCode.has_value()) << cli.err();
    ASSERT_EQ(*interruption.exitCode, 0) << cli.err();
    EXPECT_LT(interruption.took, test::kStopBound);
    RecordProperty("stop_during_flood_ms", static_cast<int>(interruption.took.count()));
    test::ProcessResult result;
    result.out = cli.out();
    result.err = cli.err();

    // Reported: the log names the titles in stream order as they are heard,
    // at most one per sound card period (the PCM tap's is 100 ms), so it
    // skips some of twenty a second.
    std::vector<std::string> reported;
    for (const auto& line : linesOf(result.err)) {
        const std::size_t at = line.find(" :: Flood Title ");
        if (at != std::string::npos) {
            reported.push_back(line.substr(at + 4));
        }
    }
    EXPECT_GE(reported.size(), 10u) << result.err;
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end())) << result.err;

    // Recorded: one file per title, each printed once it was opened.
    const std::vector<std::string> files = linesOf(result.out);
    ASSERT_GE(files.size(), 3 * kTitlesPerSecond) << result.out << result.err;
    std::string joined;
    std::size_t titled = 0;
    for (const auto& file : files) {
        SCOPED_TRACE(file);
        ASSERT_TRUE(std::filesystem::exists(file));
        const std::string data = test::readFile(file);
        // Whole frames from the first byte to the last: nothing half-written.
        std::size_t at = 0;
        while (const std::size_t frame = frameBytesAt(data, at)) {
            at += frame;
        }
        EXPECT_EQ(at, data.size());
        EXPECT_EQ(withoutShortFileWarning(test::mp3valProblems(file)), "");
        titled += std::filesystem::path(file).filename().string().rfind("Flood Title ", 0) == 0 ? 1 : 0;
        joined += data;
    }
    EXPECT_GE(titled + 1, files.size()) << "only the start may be untitled";
    // Together the files are the stream from its first frame on, nothing
    // left out between them and nothing twice. The last file printed had
    // just begun when the stop came: the stream up to its start at least.
    const double secondsBeforeLastTitle = (3.0 * kTitlesPerSecond - 1) / kTitlesPerSecond;
    ASSERT_GE(static_cast<double>(joined.size()), secondsBeforeLastTitle * test::kMp3BytesPerSecond);
    EXPECT_TRUE(audio.compare(0, joined.size(), joined) == 0)
        << "the files differ from the stream at byte "
        << std::distance(joined.begin(), std::mismatch(joined.begin(), joined.end(), audio.begin()).first);
    const std::string whole = home.file("joined.mp3");
    test::writeFile(whole, joined);
    EXPECT_EQ(test::mp3valProblems(whole), "");
    EXPECT_GE(test::decodedSeconds(whole), secondsBeforeLastTitle - 0.05);
    RecordProperty("files_recorded", static_cast<int>(files.size()));
    RecordProperty("titles_logged", static_cast<int>(reported.size()));
}

}  // namespace
}  // namespace korvanel

namespace korvanel {
namespace {

// The same flood played: with the server's burst, seconds of titles wait
// for their sound at once. They are shown in order, each with its sound,
// and waiting for them does not grow the program.
TEST(MetadataFlood, TwentyTitlesASecondPlayedAreShownInOrderWithTheirSound) {
    test::TempFolder home;
    const std::string audio = test::mp3ToneFrames(home, 440, 14.0);
    ASSERT_FALSE(audio.empty());
    constexpr std::size_t kBurstBytes = 64 * 1024;
    HttpTestServer station([&](HttpTestServer::Connection& connection, const std::string&) {
        connection.send(test::streamHead("audio/mpeg", kMetaInterval));
        const std::size_t burstBlocks = kBurstBytes / kMetaInterval;
        std::string burst;
        for (std::size_t block = 0; block < burstBlocks; ++block) {
            burst += audio.substr(block * kMetaInterval, kMetaInterval);
            burst += test::icyMetadataBlock("StreamTitle='" + titleOf(block) + "';");
        }
        connection.send(burst);
        test::sendPaced(connection, audio.substr(burstBlocks * kMetaInterval), test::kMp3BytesPerSecond,
                        kMetaInterval, [&](std::size_t block) { return titleOf(block + burstBlocks); });
    });
    test::ChildProcess cli(test::cliPath(), {"play", "--seconds", "11", "--pcm-out", home.file("card.raw"),
                                             station.url("/flood.mp3")},
                           test::cliEnvironment(home));
    ASSERT_TRUE(cli.waitForErr(" :: Flood Title ", 15s)) << cli.err();
    std::this_thread::sleep_for(2s);
    const long early = cli.residentKib();
    std::this_thread::sleep_for(7s);
    const long late = cli.residentKib();
    ASSERT_EQ(cli.waitForExit(15s), 0) << cli.err();
    if (test::kResidentSizesTell) {
        EXPECT_LT(late - early, 4 * 1024) << "KiB grown while titles waited";
    }
    RecordProperty("resident_growth_kib", static_cast<int>(late - early));

    std::vector<std::string> shown;
    for (const auto& line : linesOf(cli.err())) {
        const std::size_t at = line.find(" :: Flood Title ");
        if (at != std::string::npos) {
            shown.push_back(line.substr(at + 4));
        }
    }
    ASSERT_FALSE(shown.empty()) << cli.err();
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end())) << cli.err();
    // At the stop the card had played 11 s: the title shown last is that
    // second's, not one that had only arrived (four seconds further on).
    const int last = std::stoi(shown.back().substr(std::string("Flood Title ").size()));
    EXPECT_NEAR(last, 11 * static_cast<int>(kTitlesPerSecond), 10) << cli.err();
}

}  // namespace
}  // namespace korvanel
