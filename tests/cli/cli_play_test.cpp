// korvanel-cli play against a real icecast2 fed by ffmpeg, as a user would run it.
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "settings/settings_store.h"
#include "tests/support/audio_test_tones.h"
#include "tests/support/http_test_server.h"
#include "tests/support/icecast_server.h"
#include "tests/support/loudness_pieces.h"
#include "tests/support/process_runner.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::IcecastServer;

class CliPlayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(IcecastServer::available()) << "icecast2 and ffmpeg are needed (scripts/install-deps.sh)";
        ASSERT_TRUE(icecast_.start()) << icecast_.errorLog();
        ASSERT_TRUE(icecast_.startSource({"/tone.mp3", IcecastServer::Codec::Mp3, 440}))
            << icecast_.errorLog();
    }

    test::ProcessResult play(std::vector<std::string> arguments, std::chrono::milliseconds bound = 30s) {
        arguments.insert(arguments.begin(), "play");
        return test::runProcess(test::cliPath(), arguments,
                                {"KORVANEL_HOME=" + home_.path(), "KORVANEL_UPDATE_SERVER=http://127.0.0.1:1"},
                                bound);
    }

    double toneIn(const std::string& pcm) {
        return test::toneFrequency(test::channelSamples(pcm, 2, 0), 44100);
    }

    test::TempFolder home_;
    IcecastServer icecast_;
};

TEST_F(CliPlayTest, PlaysAMountToPcmOutWithItsStationName) {
    const std::string out = home_.file("out.raw");
    const auto result = play({"--seconds", "3", "--pcm-out", out, icecast_.url("/tone.mp3")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string pcm = test::readFile(out);
    // About three seconds, paced like a card (the burst does not race ahead).
    EXPECT_GT(pcm.size(), 2u * 44100 * 2 * 2);
    EXPECT_LT(pcm.size(), 6u * 44100 * 2 * 2);
    EXPECT_NEAR(toneIn(pcm), 440.0, 440.0 * 0.02);
    EXPECT_NE(result.err.find(" :: Connecting to " + icecast_.url("/tone.mp3")), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(" :: Korvanel Test Tone\n"), std::string::npos) << result.err;

    // The station is in the play history the next start reads.
    SettingsStore saved;
    ASSERT_TRUE(saved.load(home_.file("korvanel.xml")));
    EXPECT_EQ(saved.getString("Session/History/H00_Source"), icecast_.url("/tone.mp3"));
    EXPECT_EQ(saved.getString("Session/History/H00_Title"), "Korvanel Test Tone");
}

TEST_F(CliPlayTest, PlaylistWithADeadAddressFallsThroughToTheMount) {
    test::HttpTestServer pages(test::HttpTestServer::reply(test::HttpTestServer::okResponse(
        "[playlist]\r\nNumberOfEntries=2\r\nFile1=http://127.0.0.1:1/dead.mp3\r\nFile2=" +
        icecast_.url("/tone.mp3") + "\r\n")));
    const std::string out = home_.file("out.raw");
    const auto result = play({"--seconds", "2", "--pcm-out", out, pages.url("/station.pls")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("Retrieving playlist, " + pages.url("/station.pls")), std::string::npos);
    EXPECT_NE(result.err.find("Connect error: "), std::string::npos) << result.err;
    EXPECT_NEAR(toneIn(test::readFile(out)), 440.0, 440.0 * 0.02);
}

// Playlists served under addresses that do not say so, in each form and
// under the types real servers use, are resolved by their bytes and play.
TEST_F(CliPlayTest, PlaylistsUnderPlainAddressesAreKnownByTheirBytes) {
    const std::string tone = icecast_.url("/tone.mp3");
    const auto answer = [](const std::string& type, const std::string& body) {
        return "HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\n\r\n" + body;
    };
    const std::map<std::string, std::string> routes = {
        {"/listen", answer("application/octet-stream", "[playlist]\r\nNumberOfEntries=1\r\nFile1=" + tone + "\r\n")},
        {"/hls-typed", answer("audio/x-mpegurl", tone + "\n")},
        {"/station.wax", answer("video/x-ms-asf", "<asx version=\"3.0\"><entry><ref href=\"" + tone +
                                                      "\"/></entry></asx>")},
        {"/tracks", answer("application/xspf+xml",
                           "<?xml version=\"1.0\"?>\n<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\">"
                           "<trackList><track><location>" + tone + "</location></track></trackList></playlist>")},
    };
    test::HttpTestServer pages([&routes](test::HttpTestServer::Connection& connection, const std::string& request) {
        const std::size_t start = request.find(' ') + 1;
        const auto route = routes.find(request.substr(start, request.find(' ', start) - start));
        connection.send(route != routes.end() ? route->second : "HTTP/1.1 404 Not Found\r\n\r\n");
    });
    std::vector<std::pair<std::string, test::ProcessResult>> runs;
    for (const auto& [path, response] : routes) {
        runs.emplace_back(path, test::ProcessResult{});
    }
    std::vector<std::thread> players;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        players.emplace_back([&, i] {
            runs[i].second = test::runProcess(
                test::cliPath(), {"play", "--seconds", "2", "--pcm-out", home_.file("out" + std::to_string(i)),
                                  pages.url(runs[i].first)},
                {"KORVANEL_HOME=" + home_.file("home" + std::to_string(i)), "KORVANEL_UPDATE_SERVER=http://127.0.0.1:1"},
                30s);
        });
    }
    for (std::thread& player : players) {
        player.join();
    }
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const auto& [path, result] = runs[i];
        SCOPED_TRACE(path);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_NE(result.err.find("Retrieving playlist, " + pages.url(path)), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("Connect error: "), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(" :: Connecting to " + tone), std::string::npos) << result.err;
        EXPECT_NEAR(toneIn(test::readFile(home_.file("out" + std::to_string(i)))), 440.0, 440.0 * 0.02);
    }
}

TEST_F(CliPlayTest, TheDirectorysFirstStationPlaysAndThePlayIsReported) {
    const std::string answer = "[{\"stationuuid\":\"tone-uuid\",\"name\":\"Directory Tone\",\"url\":\"" +
                               icecast_.url("/tone.mp3") + "\",\"codec\":\"MP3\",\"bitrate\":128}]";
    test::HttpTestServer directory(test::HttpTestServer::reply(test::HttpTestServer::okResponse(answer)));
    std::string server = directory.url("/");
    server.pop_back();
    const std::string out = home_.file("out.raw");
    std::vector<std::string> arguments = {"--set", "Directory/Server=" + server, "play", "--seconds", "2",
                                          "--pcm-out", out, "--search", "tone"};
    const auto result = test::runProcess(test::cliPath(), arguments,
                                         {"KORVANEL_HOME=" + home_.path(), "KORVANEL_UPDATE_SERVER=http://127.0.0.1:1"},
                                         30s);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NEAR(toneIn(test::readFile(out)), 440.0, 440.0 * 0.02);
    const auto requests = directory.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0].find("&limit=1&name=tone "), std::string::npos) << requests[0];
    EXPECT_EQ(requests[1].rfind("GET /json/url/tone-uuid ", 0), 0u) << requests[1];

    const auto listed = test::runProcess(test::cliPath(), {"--set", "Directory/Server=" + server, "search", "tone"},
                                         {"KORVANEL_HOME=" + home_.path()}, 30s);
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.out, "   1  Directory Tone  [, MP3 128 kbps]  " + icecast_.url("/tone.mp3") + "\n");
}

TEST_F(CliPlayTest, FavouriteNumberPlaysThatStationAsTheMenuWould) {
    test::writeFile(home_.file("favorites.xml"),
                    "<F><Station title=\"Other\"><s>http://127.0.0.1:1/x</s></Station>"
                    "<Group title=\"G\"><Station title=\"Test Mount\" url=\"http://site/\"><s>" +
                        icecast_.url("/tone.mp3") + "</s></Station></Group></F>");
    const std::string out = home_.file("out.raw");
    const auto result = play({"--seconds", "2", "--pcm-out", out, "--favorite", "2"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find(" :: Connecting to " + icecast_.url("/tone.mp3")), std::string::npos);
    EXPECT_EQ(result.err.find("127.0.0.1:1/x"), std::string::npos);
    EXPECT_NEAR(toneIn(test::readFile(out)), 440.0, 440.0 * 0.02);

    const auto missing = play({"--favorite", "3"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("no favourite number 3"), std::string::npos) << missing.err;
}

TEST_F(CliPlayTest, DroppedSourceIsReconnectedAndTheToneComesBack) {
    const std::string out = home_.file("out.raw");
    test::ProcessResult result;
    std::thread runner([&] { result = play({"--seconds", "18", "--pcm-out", out, icecast_.url("/tone.mp3")}, 40s); });
    std::this_thread::sleep_for(3s);
    icecast_.stopSource("/tone.mp3");
    std::this_thread::sleep_for(2s);
    ASSERT_TRUE(icecast_.startSource({"/tone.mp3", IcecastServer::Codec::Mp3, 660})) << icecast_.errorLog();
    runner.join();
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto lost = result.err.find(" :: Connection lost..");
    const auto reconnect = result.err.find(" :: Trying to reconnect..");
    ASSERT_NE(lost, std::string::npos) << result.err;
    ASSERT_NE(reconnect, std::string::npos) << result.err;
    EXPECT_LT(lost, reconnect);
    EXPECT_GE(std::count(std::string_view(result.err).begin(), std::string_view(result.err).end(), '\n'), 5);
    const std::string pcm = test::readFile(out);
    // The new source's tone is at the end of what was played.
    const std::string lastSecond = pcm.substr(pcm.size() - 44100 * 4);
    EXPECT_NEAR(toneIn(lastSecond), 660.0, 660.0 * 0.02) << result.err;
}

TEST_F(CliPlayTest, MountThatNeverComesBackEndsInAllSourcesFailed) {
    std::thread stopper([this] {
        std::this_thread::sleep_for(2s);
        icecast_.stopSource("/tone.mp3");
    });
    const auto result = play({"--pcm-out", home_.file("out.raw"), icecast_.url("/tone.mp3")}, 40s);
    stopper.join();
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_NE(result.err.find(" :: All sources failed, giving up!"), std::string::npos) << result.err;
}

TEST_F(CliPlayTest, ANewHomeLevelsTheStationLogsItsGainAndRemembersIt) {
    const std::string out = home_.file("out.raw");
    // The test tone is near -18 LUFS already: a lower target shows the cut.
    const auto result = play({"--set", "Sound/LevellingTarget=-24", "--seconds", "5", "--pcm-out", out,
                              icecast_.url("/tone.mp3")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::size_t logged = result.err.find(" :: Levelled at -");
    ASSERT_NE(logged, std::string::npos) << result.err;
    EXPECT_NE(result.err.find(" dB\n", logged), std::string::npos) << result.err;
    const std::optional<test::Loudness> heard = test::measureLoudness(test::readFile(out), 44100, 2, 3.5);
    ASSERT_TRUE(heard);
    EXPECT_NEAR(heard->integratedLufs, -24.0, 1.5);
    EXPECT_NE(test::readFile(home_.file("loudness.txt")).find("\t" + icecast_.url("/tone.mp3") + "\n"),
              std::string::npos);

    // Switched off for one run: nothing levelled, and the setting stays on.
    const auto off = play({"--set", "Sound/Levelling=false", "--seconds", "4", "--pcm-out", out,
                           icecast_.url("/tone.mp3")});
    ASSERT_EQ(off.exitCode, 0) << off.err;
    EXPECT_EQ(off.err.find("Levelled"), std::string::npos) << off.err;
    SettingsStore saved;
    ASSERT_TRUE(saved.load(home_.file("korvanel.xml")));
    EXPECT_TRUE(saved.getBool("Sound/Levelling"));
}

}  // namespace
}  // namespace korvanel
