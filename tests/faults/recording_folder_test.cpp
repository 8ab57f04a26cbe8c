// korvanel-cli recording a station one file per title while the user moves
// the recording folder away, and later deletes it, under the recorder's feet.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "tests/faults/fault_fixtures.h"
#include "tests/support/audio_file_tools.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::HttpTestServer;
namespace fs = std::filesystem;

// A title every two seconds: "Song 1" from the first second on.
std::string songOf(std::size_t block) { return "Song " + std::to_string(block / 2 + 1); }

// Whole MPEG frames from the first byte to the last, by the standard's
// table, and the seconds ffmpeg decodes from the file without an error.
void expectCompleteMp3(const std::string& path, double minSeconds) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(fs::exists(path));
    const std::string data = test::readFile(path);
    std::size_t at = 0;
    while (at + 4 <= data.size() && static_cast<unsigned char>(data[at]) == 0xFF &&
           (static_cast<unsigned char>(data[at + 1]) & 0xFE) == 0xFA) {
        static constexpr int kKbps[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
        const auto third = static_cast<unsigned char>(data[at + 2]);
        const int kbps = kKbps[third >> 4];
        if (kbps == 0 || ((third >> 2) & 3) != 0) {
            break;  // only 44.1 kHz is sent
        }
        at += static_cast<std::size_t>(144 * kbps * 1000 / 44100) + ((third >> 1) & 1);
    }
    EXPECT_EQ(at, data.size()) << "not whole frames";
    EXPECT_EQ(test::mp3valProblems(path), "");
    EXPECT_GE(test::decodedSeconds(path), minSeconds);
}

TEST(RecordingFolder, MovedThenDeletedFolderKeepsFinishedFilesAndRecordingGoesOn) {
    test::TempFolder home;
    const std::string audio = test::mp3ToneFrames(home, 440, 14.0);
    ASSERT_FALSE(audio.empty());
    HttpTestServer station([&](HttpTestServer::Connection& connection, const std::string&) {
        connection.send(test::streamHead("audio/mpeg", test::kMp3BytesPerSecond));
        test::sendPaced(connection, audio, test::kMp3BytesPerSecond, test::kMp3BytesPerSecond, songOf);
    });
    const std::string folder = home.file("rec");
    const std::string moved = home.file("rec-moved");
    ChildProcess cli(test::cliPath(),
                     {"record", "--folder", folder, "--pattern", "%track%", station.url("/songs.mp3")},
                     test::cliEnvironment(home));

    // Song 1 is finished once Song 2 begins; the user moves the folder away.
    ASSERT_TRUE(cli.waitForOut("/Song 2.mp3\n", 10s)) << cli.out() << cli.err();
    fs::rename(folder, moved);
    // The next title makes the folder again; the user deletes it with the
    // file being written.
    ASSERT_TRUE(cli.waitForOut(folder + "/Song 3.mp3\n", 5s)) << cli.out() << cli.err();
    std::this_thread::sleep_for(700ms);
    fs::remove_all(folder);
    ASSERT_TRUE(cli.waitForOut(folder + "/Song 4.mp3\n", 5s)) << cli.out() << cli.err();
    std::this_thread::sleep_for(1500ms);
    const test::Interruption interruption = test::interrupt(cli);
    ASSERT_TRUE(interruption.exitCode.has_value());
    EXPECT_EQ(*interruption.exitCode, 0) << cli.err();
    EXPECT_LT(interruption.took, test::kStopBound);
    RecordProperty("stop_while_recording_ms", static_cast<int>(interruption.took.count()));

    // What was finished before stays whole where the user moved it; the file
    // open during the move went on there to its end.
    expectCompleteMp3(moved + "/Song 1.mp3", 1.5);
    expectCompleteMp3(moved + "/Song 2.mp3", 1.5);
    // The deleted file is reported, not silently written into nowhere.
    EXPECT_NE(cli.err().find(" :: Recording stopped: the file " + folder + "/Song 3.mp3 could not be written."),
              std::string::npos)
        << cli.err();
    // Recording went on with the next title, in the folder made again.
    expectCompleteMp3(folder + "/Song 4.mp3", 1.0);
    for (const auto& entry : fs::directory_iterator(folder)) {
        expectCompleteMp3(entry.path().string(), 0.0);
    }
}

}  // namespace
}  // namespace korvanel
