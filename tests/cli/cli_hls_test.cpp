// korvanel-cli with a live HLS station: ffmpeg's HLS muxer writing a tone in
// real time behind a master playlist with a relative variant, heard at SDL's
// disk driver, resolved and recorded.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <thread>

#include "tests/support/audio_file_tools.h"
#include "tests/support/audio_test_tones.h"
#include "tests/support/child_process.h"
#include "tests/support/hls_test_server.h"
#include "tests/support/process_runner.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::HlsTestServer;

// The files a recording left, in any of its folders.
std::vector<std::string> filesUnder(const std::string& folder) {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path().string());
        }
    }
    return files;
}

TEST(CliHls, LiveStationBehindAMasterPlaysWithoutAGapResolvesAndRecordsAdts) {
    HlsTestServer server;
    ASSERT_TRUE(server.startLiveTone(440));
    server.put("master.m3u8", "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=140000,CODECS=\"mp4a.40.2\"\nlive.m3u8\n");
    test::TempFolder home;
    const std::vector<std::string> environment = {"KORVANEL_HOME=" + home.path(), "SDL_AUDIODRIVER=disk",
                                                  "SDL_DISKAUDIOFILE=" + home.file("card.raw")};

    const test::ProcessResult resolved = test::runProcess(test::cliPath(), {"resolve", server.url("master.m3u8")},
                                                          environment);
    EXPECT_EQ(resolved.exitCode, 0) << resolved.err;
    EXPECT_NE(resolved.out.find(server.url("live.m3u8")), std::string::npos) << resolved.out;

    // 8 s of 1 s segments: six reloads of the live playlist at least.
    const test::ProcessResult played =
        test::runProcess(test::cliPath(), {"play", "--seconds", "8", server.url("master.m3u8")}, environment, 40s);
    EXPECT_EQ(played.exitCode, 0) << played.err;
    const std::vector<std::int16_t> left = test::channelSamples(test::readFile(home.file("card.raw")), 2, 0);
    EXPECT_GT(static_cast<double>(left.size()) / 44100, 7.0) << played.err;
    EXPECT_LT(test::longestGap(left, 44100), 0.05) << "the tone runs on across segments and reloads";
    EXPECT_NEAR(test::toneFrequency(left, 44100), 440, 5);
    const std::vector<std::string> requests = server.requestLines();
    EXPECT_GE(std::count(requests.begin(), requests.end(), "GET /live.m3u8 HTTP/1.0"), 6);

    const std::string folder = home.file("recorded");
    const test::ProcessResult recorded = test::runProcess(
        test::cliPath(), {"record", "--seconds", "3", "--folder", folder, server.url("master.m3u8")}, environment, 30s);
    EXPECT_EQ(recorded.exitCode, 0) << recorded.err;
    const std::vector<std::string> files = filesUnder(folder);
    ASSERT_EQ(files.size(), 1u) << recorded.err;
    EXPECT_TRUE(files[0].ends_with(".aac")) << files[0];
    const std::string bytes = test::readFile(files[0]);
    ASSERT_GT(bytes.size(), 30000u) << "about 3 s at 128 kbit/s";
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[0]), 0xFF);
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[1]) & 0xF6, 0xF0) << "whole ADTS frames from the first byte";
}

// Titles on the segments' playlist lines split the recording where each
// segment begins: one whole ADTS file per title, named by it, and each
// title logged once.
TEST(CliHls, TitledSegmentsRecordOneFilePerTitle) {
    const std::vector<std::string> parts = test::adtsParts(test::toneFileBytes("aac", "aac", 440, 6.2), 2.0);
    ASSERT_GE(parts.size(), 3u);
    HlsTestServer server;
    std::string playlist = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n";
    const std::vector<std::string> titles = {"One", "Two", "Three"};
    for (std::size_t i = 0; i < titles.size(); ++i) {
        server.put("p" + std::to_string(i) + ".aac", parts[i]);
        playlist += "#EXTINF:2.0,title=\"" + titles[i] + "\",artist=\"Band\"\np" + std::to_string(i) + ".aac\n";
    }
    server.put("titled.m3u8", playlist + "#EXT-X-ENDLIST\n");
    test::TempFolder home;
    const std::string folder = home.file("recorded");
    const test::ProcessResult recorded = test::runProcess(
        test::cliPath(), {"record", "--seconds", "8", "--folder", folder, "--pattern", "%track%", server.url("titled.m3u8")},
        {"KORVANEL_HOME=" + home.path()}, 30s);
    EXPECT_EQ(recorded.exitCode, 0) << recorded.err;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            names.push_back(entry.path().filename().string());
            const std::string bytes = test::readFile(entry.path().string());
            EXPECT_GT(bytes.size(), 20000u) << names.back();
        }
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Band - One.aac", "Band - Three.aac", "Band - Two.aac"})) << recorded.err;
    for (const std::string& title : titles) {
        EXPECT_EQ(test::countOf(recorded.err, "Band - " + title + "\n"), 1u) << recorded.err;
    }
}

// A station packaged as fragmented MP4 (CMAF) behind its initialisation
// section plays across reloads as its MPEG-TS form does, and records as
// whole ADTS frames.
TEST(CliHls, LiveFragmentedMp4StationPlaysAcrossReloadsAndRecordsAdts) {
    HlsTestServer server;
    ASSERT_TRUE(server.startLiveTone(660, HlsTestServer::Codec::Aac, HlsTestServer::Segments::Fragmented));
    ASSERT_NE(test::readFile(server.file("live.m3u8")).find("#EXT-X-MAP:URI=\"init.mp4\""), std::string::npos);
    server.put("master.m3u8", "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=140000,CODECS=\"mp4a.40.2\"\nlive.m3u8\n");
    test::TempFolder home;
    const std::vector<std::string> environment = {"KORVANEL_HOME=" + home.path(), "SDL_AUDIODRIVER=disk",
                                                  "SDL_DISKAUDIOFILE=" + home.file("card.raw")};
    const test::ProcessResult played =
        test::runProcess(test::cliPath(), {"play", "--seconds", "6", server.url("master.m3u8")}, environment, 40s);
    EXPECT_EQ(played.exitCode, 0) << played.err;
    const std::vector<std::int16_t> left = test::channelSamples(test::readFile(home.file("card.raw")), 2, 0);
    EXPECT_GT(static_cast<double>(left.size()) / 44100, 5.0) << played.err;
    EXPECT_LT(test::longestGap(left, 44100), 0.05) << "the tone runs on across segments and reloads";
    EXPECT_NEAR(test::toneFrequency(left, 44100), 660, 5);
    const std::vector<std::string> requests = server.requestLines();
    // The section is fetched once per connection, not once per segment.
    const auto segments = std::count_if(requests.begin(), requests.end(),
                                        [](const std::string& line) { return line.find(".m4s ") != std::string::npos; });
    EXPECT_GE(segments, 5);
    EXPECT_LE(std::count(requests.begin(), requests.end(), "GET /init.mp4 HTTP/1.0"), 2);

    const std::string folder = home.file("recorded");
    const test::ProcessResult recorded = test::runProcess(
        test::cliPath(), {"record", "--seconds", "3", "--folder", folder, server.url("master.m3u8")}, environment, 30s);
    EXPECT_EQ(recorded.exitCode, 0) << recorded.err;
    const std::vector<std::string> files = filesUnder(folder);
    ASSERT_EQ(files.size(), 1u) << recorded.err;
    EXPECT_TRUE(files[0].ends_with(".aac")) << files[0];
    const std::string bytes = test::readFile(files[0]);
    ASSERT_GT(bytes.size(), 2u);
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[0]), 0xFF);
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[1]) & 0xF6, 0xF0) << "whole ADTS frames from the first byte";
    EXPECT_GT(test::decodedSeconds(files[0]), 2.5);
}

// A timed-metadata box (emsg) with an ID3 title before each fragment: each
// title begins its file where its fragment does.
std::string emsgWithTitle(const std::string& title) {
    const auto bigEndian = [](std::uint32_t value) {
        return std::string{static_cast<char>(value >> 24), static_cast<char>(value >> 16 & 0xFF),
                           static_cast<char>(value >> 8 & 0xFF), static_cast<char>(value & 0xFF)};
    };
    const std::string frame = std::string(1, '\x03') + title;  // UTF-8 text
    const std::string tit2 = "TIT2" + bigEndian(static_cast<std::uint32_t>(frame.size())) + std::string(2, '\0') + frame;
    const std::string id3 = std::string("ID3\x04\x00\x00", 6) + std::string{0, 0, 0, static_cast<char>(tit2.size())} + tit2;
    const std::string body = std::string(4, '\0') + "https://aomedia.org/emsg/ID3" + '\0' + '\0' +
                             bigEndian(1000) + bigEndian(0) + bigEndian(0xFFFFFFFF) + bigEndian(1) + id3;
    return bigEndian(static_cast<std::uint32_t>(8 + body.size())) + "emsg" + body;
}

TEST(CliHls, TimedId3InFragmentsSplitsTheRecordingWhereEachFragmentBeginsForEveryCodec) {
    struct Case {
        HlsTestServer::Codec codec;
        const char* extension;
    };
    for (const Case& test : {Case{HlsTestServer::Codec::Aac, ".aac"}, Case{HlsTestServer::Codec::Opus, ".opus"},
                             Case{HlsTestServer::Codec::Flac, ".oga"}}) {
        SCOPED_TRACE(test.extension);
        HlsTestServer server;
        ASSERT_TRUE(server.makeSegments(440, 3, 2.0, test.codec, HlsTestServer::Segments::Fragmented));
        std::string playlist = "#EXTM3U\n#EXT-X-VERSION:7\n#EXT-X-TARGETDURATION:2\n#EXT-X-MAP:URI=\"init.mp4\"\n";
        const std::vector<std::string> titles = {"One", "Two", "Three"};
        for (std::size_t i = 0; i < titles.size(); ++i) {
            const std::string name = "part" + std::to_string(i) + ".m4s";
            server.put("t" + name, emsgWithTitle("Band - " + titles[i]) + test::readFile(server.file(name)));
            playlist += "#EXTINF:2.0,\nt" + name + "\n";
        }
        server.put("timed.m3u8", playlist + "#EXT-X-ENDLIST\n");
        test::TempFolder home;
        const std::string folder = home.file("recorded");
        const test::ProcessResult recorded =
            test::runProcess(test::cliPath(),
                             {"record", "--seconds", "8", "--folder", folder, "--pattern", "%track%", server.url("timed.m3u8")},
                             {"KORVANEL_HOME=" + home.path()}, 30s);
        EXPECT_EQ(recorded.exitCode, 0) << recorded.err;
        for (const std::string& title : titles) {
            const std::string file = folder + "/Band - " + title + test.extension;
            ASSERT_TRUE(std::filesystem::exists(file)) << recorded.out << recorded.err;
            EXPECT_NEAR(test::decodedSeconds(file), 2.0, 0.1) << title;
            if (test.codec != HlsTestServer::Codec::Aac) {
                const test::ToolResult checked = test.codec == HlsTestServer::Codec::Opus
                                                     ? test::runTool({"opusinfo", file})
                                                     : test::runTool({"flac", "-t", "-s", file});
                EXPECT_EQ(checked.exitCode, 0) << checked.output;
                EXPECT_EQ(checked.output.find("WARNING, cannot"), checked.output.find("WARNING")) << checked.output;
            }
        }
    }
}

// The packager stops (the playlist stands still) and starts again with a
// new tone and its numbering from 0: the player carries on, by itself,
// with the new tone.
TEST(CliHls, APackagerThatStopsAndStartsOverIsFollowed) {
    HlsTestServer server;
    ASSERT_TRUE(server.startLiveTone(440));
    test::TempFolder home;
    const std::string card = home.file("card.raw");
    test::ChildProcess cli(test::cliPath(),
                           {"play", "--seconds", "60", "--pcm-out", card, "--set", "Sound/BufferSize=2000",
                            server.url("live.m3u8")},
                           {"KORVANEL_HOME=" + home.path()});
    ASSERT_TRUE(cli.waitForErr("Playing", 15s)) << cli.err();
    std::this_thread::sleep_for(4s);
    server.stopLiveTone();
    std::this_thread::sleep_for(2s);
    ASSERT_TRUE(server.startLiveTone(880));
    // The new tone reaches the card.
    bool heard = false;
    for (const auto deadline = std::chrono::steady_clock::now() + 30s; !heard && std::chrono::steady_clock::now() < deadline;) {
        std::this_thread::sleep_for(500ms);
        const std::string pcm = test::readFile(card);
        const std::size_t tail = std::min<std::size_t>(pcm.size(), 44100 * 4 / 2);
        heard = test::toneFrequency(test::channelSamples(pcm.substr(pcm.size() - tail), 2, 0), 44100) > 800;
    }
    EXPECT_TRUE(heard) << cli.err();
    EXPECT_EQ(cli.err().find("All sources failed"), std::string::npos) << cli.err();
    cli.signal(SIGTERM);
    cli.waitForExit(10s);
}

}  // namespace
}  // namespace korvanel
