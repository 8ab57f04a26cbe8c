// korvanel-cli record against a real icecast2: one file per title, each valid.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <cstring>
#include <optional>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "recording/adts_frame_header.h"

#include "tests/support/audio_file_tools.h"
#include "tests/support/icecast_server.h"
#include "tests/support/process_runner.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::linesOf;
using test::IcecastServer;

std::string fileNameOf(const std::string& path) { return std::filesystem::path(path).filename().string(); }

struct TitleChange {
    std::chrono::milliseconds at;  // after the recording started
    std::string title;
};

// Runs korvanel-cli record on the mount for `seconds`, changing the title
// on the way. The files it printed, in order.
struct Recording {
    test::ProcessResult result;
    std::vector<std::string> files;
};

Recording record(IcecastServer& icecast, const std::string& mount, const test::TempFolder& home,
                 const std::string& folder, const std::string& pattern, int seconds,
                 const std::vector<TitleChange>& changes, const std::vector<std::string>& extraArguments = {}) {
    std::vector<std::string> arguments = {"record", "--seconds", std::to_string(seconds), "--folder", folder,
                                          "--pattern", pattern};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    arguments.push_back(icecast.url(mount));
    Recording recording;
    const auto started = std::chrono::steady_clock::now();
    std::thread runner([&] {
        recording.result =
            test::runProcess(test::cliPath(), arguments,
                             {"KORVANEL_HOME=" + home.path(), "KORVANEL_UPDATE_SERVER=http://127.0.0.1:1"}, 40s);
    });
    for (const auto& change : changes) {
        std::this_thread::sleep_until(started + change.at);
        EXPECT_TRUE(icecast.setTitle(mount, change.title)) << change.title;
    }
    runner.join();
    recording.files = linesOf(recording.result.out);
    return recording;
}

// The bytes before the stream's first title may go to an untitled file,
// perhaps short; checked by `valid` and taken out of the list.
void dropUntitledStart(std::vector<std::string>& files,
                       const std::function<void(const std::string&, double)>& valid) {
    if (!files.empty() && files.front().find("untitled") != std::string::npos) {
        valid(files.front(), 0.0);
        files.erase(files.begin());
    }
}

std::uint32_t bigEndian32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

// An MPEG-1 Layer III frame header at `at`, read by the standard's table
// (independent of the recorder's own probe).
struct Mp3Frame {
    int kbps = 0;
    std::size_t bytes = 0;
};

std::optional<Mp3Frame> mpeg1Layer3FrameAt(const std::string& data, std::size_t at) {
    static constexpr int kKbps[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static constexpr int kRates[4] = {44100, 48000, 32000, 0};
    if (at + 4 > data.size()) {
        return std::nullopt;
    }
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(data[at + i]); };
    if (byte(0) != 0xFF || (byte(1) & 0xFE) != 0xFA) {  // sync, MPEG-1, Layer III
        return std::nullopt;
    }
    const int kbps = kKbps[byte(2) >> 4];
    const int rate = kRates[(byte(2) >> 2) & 3];
    if (kbps == 0 || rate == 0) {
        return std::nullopt;
    }
    const std::size_t padding = (byte(2) >> 1) & 1;
    return Mp3Frame{kbps, static_cast<std::size_t>(144 * kbps * 1000 / rate) + padding};
}

// The Ogg pages of a file, read independently of the recorder's parser.
struct OggPageInfo {
    unsigned char flags = 0;
    std::int64_t granule = 0;
    std::uint32_t serial = 0;
    std::uint32_t sequence = 0;
    std::string body;
};

std::vector<OggPageInfo> oggPagesOf(const std::string& data, std::string& problem) {
    std::vector<OggPageInfo> pages;
    std::size_t at = 0;
    while (at < data.size()) {
        if (data.compare(at, 4, "OggS") != 0 || at + 27 > data.size()) {
            problem = "no page at byte " + std::to_string(at);
            return pages;
        }
        const std::size_t segments = static_cast<unsigned char>(data[at + 26]);
        if (at + 27 + segments > data.size()) {
            problem = "cut page at byte " + std::to_string(at);
            return pages;
        }
        std::size_t bodyBytes = 0;
        for (std::size_t i = 0; i < segments; ++i) {
            bodyBytes += static_cast<unsigned char>(data[at + 27 + i]);
        }
        const std::size_t bodyAt = at + 27 + segments;
        if (bodyAt + bodyBytes > data.size()) {
            problem = "cut page body at byte " + std::to_string(at);
            return pages;
        }
        OggPageInfo page;
        page.flags = static_cast<unsigned char>(data[at + 5]);
        // Little-endian fields.
        for (int i = 3; i >= 0; --i) {
            page.serial = page.serial << 8 | static_cast<unsigned char>(data[at + 14 + static_cast<std::size_t>(i)]);
            page.sequence =
                page.sequence << 8 | static_cast<unsigned char>(data[at + 18 + static_cast<std::size_t>(i)]);
        }
        for (int i = 7; i >= 0; --i) {
            page.granule = static_cast<std::int64_t>(static_cast<std::uint64_t>(page.granule) << 8 |
                                                     static_cast<unsigned char>(data[at + 6 + static_cast<std::size_t>(i)]));
        }
        page.body = data.substr(bodyAt, bodyBytes);
        pages.push_back(std::move(page));
        at = bodyAt + bodyBytes;
    }
    return pages;
}

// One complete Vorbis stream: the three header packets first, one logical
// stream, numbered pages from 0, end-of-stream on the last page only.
void expectCompleteVorbisStream(const std::string& path, double minSeconds = 1.0) {
    SCOPED_TRACE(path);
    const std::string data = test::readFile(path);
    std::string problem;
    const std::vector<OggPageInfo> pages = oggPagesOf(data, problem);
    ASSERT_EQ(problem, "");
    ASSERT_GE(pages.size(), 3u);
    EXPECT_EQ(pages.front().flags & 0x02, 0x02) << "the first page begins the stream";
    EXPECT_EQ(pages.front().body.compare(0, 7, "\x01vorbis"), 0) << "identification header first";
    // The comment and setup headers follow on the next pages, before any audio.
    const std::size_t comment = pages[1].body.find("\x03vorbis");
    EXPECT_EQ(comment, 0u);
    bool setupFound = false;
    for (std::size_t i = 1; i < pages.size() && i < 4 && !setupFound; ++i) {
        setupFound = pages[i].body.find("\x05vorbis") != std::string::npos;
    }
    EXPECT_TRUE(setupFound) << "setup header in the first pages";
    for (std::size_t i = 0; i < pages.size(); ++i) {
        EXPECT_EQ(pages[i].serial, pages.front().serial) << "page " << i;
        EXPECT_EQ(pages[i].sequence, i) << "page " << i;
        EXPECT_EQ((pages[i].flags & 0x04) != 0, i + 1 == pages.size()) << "end-of-stream flag, page " << i;
        if (i > 0) {
            EXPECT_EQ(pages[i].flags & 0x02, 0) << "page " << i;
        }
    }
    EXPECT_EQ(test::ogginfoProblems(path), "");
    const auto probed = test::probeStream(path);
    EXPECT_EQ(probed.count("codec_name") ? probed.at("codec_name") : "", "vorbis");
    EXPECT_GE(test::decodedSeconds(path), minSeconds);
}

void expectValidMp3(const std::string& path, double minSeconds = 1.0) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(test::mp3valProblems(path), "");
    const auto probed = test::probeStream(path);
    EXPECT_EQ(probed.count("codec_name") ? probed.at("codec_name") : "", "mp3");
    EXPECT_GE(test::decodedSeconds(path), minSeconds);
}

class CliRecord : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(IcecastServer::available()) << "icecast2 and ffmpeg are needed (scripts/install-deps.sh)";
        ASSERT_TRUE(icecast_.start()) << icecast_.errorLog();
    }

    IcecastServer icecast_;
    test::TempFolder home_;
};

TEST_F(CliRecord, RecordsOneValidFilePerTitleNamedByThePattern) {
    ASSERT_TRUE(icecast_.startSource({"/rec.mp3", IcecastServer::Codec::Mp3, 440})) << icecast_.errorLog();
    ASSERT_TRUE(icecast_.setTitle("/rec.mp3", "First Song"));
    const std::string folder = home_.file("recordings");

    Recording recording = record(icecast_, "/rec.mp3", home_, folder, "%title% - %track%", 9,
                                 {{2500ms, "Second: Song/Part"}, {4500ms, "Third"}, {6500ms, "Fourth"}});
    ASSERT_EQ(recording.result.exitCode, 0) << recording.result.err;
    auto& files = recording.files;
    dropUntitledStart(files, expectValidMp3);
    ASSERT_EQ(files.size(), 4u) << recording.result.out << "\n" << recording.result.err;
    EXPECT_EQ(fileNameOf(files[0]), "Korvanel Test Tone - First Song.mp3");
    // Characters that cannot stand in a file name are cleaned.
    EXPECT_EQ(std::filesystem::path(files[1]).parent_path(), std::filesystem::path(folder));
    EXPECT_NE(files[1].find("Second"), std::string::npos);
    EXPECT_EQ(fileNameOf(files[2]), "Korvanel Test Tone - Third.mp3");
    EXPECT_EQ(fileNameOf(files[3]), "Korvanel Test Tone - Fourth.mp3");
    double total = 0;
    for (const auto& file : files) {
        expectValidMp3(file);
        // Every file begins at a frame and holds whole frames only.
        const std::string data = test::readFile(file);
        std::size_t at = 0;
        while (const auto frame = mpeg1Layer3FrameAt(data, at)) {
            at += frame->bytes;
        }
        EXPECT_EQ(at, data.size()) << file;
        total += test::decodedSeconds(file);
    }
    // Nothing large was lost between the files.
    EXPECT_GT(total, 5.0);
    // The settings file keeps the user's own recording settings.
    const std::string settings = test::readFile(home_.file("korvanel.xml"));
    EXPECT_NE(settings.find("<Enabled type=\"bool\">false</Enabled>"), std::string::npos);
    EXPECT_EQ(settings.find(folder), std::string::npos);
}

TEST_F(CliRecord, AacMountGivesOneWholeAdtsFilePerTitle) {
    ASSERT_TRUE(icecast_.startSource({"/rec.aac", IcecastServer::Codec::Aac, 440})) << icecast_.errorLog();
    const std::string folder = home_.file("recordings");
    Recording recording = record(icecast_, "/rec.aac", home_, folder, "%track%", 9,
                                 {{1000ms, "First Song"}, {3500ms, "Second"}, {6000ms, "Third"}});
    ASSERT_EQ(recording.result.exitCode, 0) << recording.result.err;
    auto& files = recording.files;
    const auto valid = [](const std::string& path, double minSeconds) {
        SCOPED_TRACE(path);
        // Whole ADTS frames from the first byte to the last, none lost
        // inside: decoding meets no error.
        const std::string data = test::readFile(path);
        std::size_t at = 0;
        while (const auto frame = parseAdtsFrameHeader(reinterpret_cast<const unsigned char*>(data.data()) + at,
                                                        data.size() - at)) {
            at += frame->frameBytes;
        }
        EXPECT_EQ(at, data.size());
        const auto probed = test::probeStream(path);
        EXPECT_EQ(probed.count("codec_name") ? probed.at("codec_name") : "", "aac");
        EXPECT_GE(test::decodedSeconds(path), minSeconds);
    };
    dropUntitledStart(files, valid);
    std::vector<std::string> names;
    std::transform(files.begin(), files.end(), std::back_inserter(names), fileNameOf);
    EXPECT_EQ(names, (std::vector<std::string>{"First Song.aac", "Second.aac", "Third.aac"}))
        << recording.result.out << "\n"
        << recording.result.err;
    double total = 0;
    for (const auto& file : files) {
        valid(file, 1.0);
        total += test::decodedSeconds(file);
    }
    EXPECT_GT(total, 6.0);
}

TEST_F(CliRecord, OggMountGivesOneCompleteVorbisFilePerTitle) {
    ASSERT_TRUE(icecast_.startSource({"/rec.ogg", IcecastServer::Codec::OggVorbis, 440})) << icecast_.errorLog();
    const std::string folder = home_.file("recordings");

    // Each title begins a new logical stream of the mount.
    Recording recording = record(icecast_, "/rec.ogg", home_, folder, "%track%", 9,
                                 {{2000ms, "First Song"}, {4000ms, "Second"}, {6000ms, "Third"}});
    ASSERT_EQ(recording.result.exitCode, 0) << recording.result.err;
    auto& files = recording.files;
    dropUntitledStart(files, expectCompleteVorbisStream);
    std::vector<std::string> names;
    std::transform(files.begin(), files.end(), std::back_inserter(names), fileNameOf);
    EXPECT_EQ(names, (std::vector<std::string>{"First Song.ogg", "Second.ogg", "Third.ogg"}))
        << recording.result.out << "\n"
        << recording.result.err;
    for (const auto& file : files) {
        expectCompleteVorbisStream(file);
    }
}

// A station that sends one logical stream per title: three 3-second
// chains of the codec, looped by a source client of the test's own.
struct ChainedStation {
    const char* codec;  // ffmpeg's encoder
    const char* extension;
    int rate;
    std::vector<std::string> ffmpegOptions;
};

bool makeChains(const ChainedStation& station, const test::TempFolder& folder, const std::string& path) {
    const std::vector<std::pair<std::string, std::string>> titles = {
        {"", "First Song"}, {"Artist B", "Second"}, {"", "Third"}};
    std::string chained;
    for (std::size_t i = 0; i < titles.size(); ++i) {
        const std::string part = folder.file("part" + std::to_string(i) + station.extension);
        std::vector<std::string> arguments = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi",
                                              "-i", "sine=frequency=" + std::to_string(440 + 110 * i) +
                                                        ":sample_rate=" + std::to_string(station.rate) + ":duration=3",
                                              "-ac", "2", "-c:a", station.codec};
        arguments.insert(arguments.end(), station.ffmpegOptions.begin(), station.ffmpegOptions.end());
        arguments.insert(arguments.end(), {"-metadata", "title=" + titles[i].second, "-serial_offset",
                                           std::to_string(1000 * (i + 1)), "-f", "ogg", part});
        if (!titles[i].first.empty()) {
            arguments.insert(arguments.end() - 1, {"-metadata", "artist=" + titles[i].first});
        }
        if (test::runTool(arguments).exitCode != 0) {
            return false;
        }
        chained += test::readFile(part);
    }
    test::writeFile(path, chained);
    return true;
}

// The "KEY=value" comments of the file's comment header, keys in capitals.
std::map<std::string, std::string> fileComments(const std::vector<OggPageInfo>& pages) {
    std::map<std::string, std::string> comments;
    for (const OggPageInfo& page : pages) {
        for (const char* key : {"TITLE=", "ARTIST=", "ORGANIZATION="}) {
            const std::size_t at = page.body.find(key);
            if (at != std::string::npos && at >= 4) {
                const std::uint32_t length = static_cast<unsigned char>(page.body[at - 4]) |
                                             static_cast<unsigned char>(page.body[at - 3]) << 8;
                const std::size_t keyBytes = std::strlen(key);
                comments[std::string(key, keyBytes - 1)] = page.body.substr(at + keyBytes, length - keyBytes);
            }
        }
        if (page.granule > 0) {
            break;  // past the headers
        }
    }
    return comments;
}

TEST_F(CliRecord, OpusAndFlacStationsGiveOneValidTaggedFilePerTitle) {
    const std::vector<ChainedStation> stations = {
        {"libopus", ".opus", 48000, {"-b:a", "64k"}},
        {"flac", ".oga", 44100, {}},
    };
    for (const ChainedStation& station : stations) {
        SCOPED_TRACE(station.codec);
        const std::string chains = home_.file(std::string("chains") + station.extension);
        ASSERT_TRUE(makeChains(station, home_, chains));
        const std::string mount = std::string("/chains") + station.extension;
        ASSERT_TRUE(icecast_.startChainedSource(mount, chains, station.rate)) << icecast_.errorLog();
        const std::string folder = home_.file(std::string("recordings") + station.extension);
        Recording recording = record(icecast_, mount, home_, folder, "%track%", 7, {});
        icecast_.stopSource(mount);
        ASSERT_EQ(recording.result.exitCode, 0) << recording.result.err;

        // Joined somewhere in a chain, then a file for each title that follows.
        const std::vector<std::string> order = {"First Song", "Artist B - Second", "Third"};
        auto& files = recording.files;
        ASSERT_GE(files.size(), 3u) << recording.result.out << recording.result.err;
        std::size_t next = order.size();
        for (std::size_t i = 0; i < files.size(); ++i) {
            SCOPED_TRACE(files[i]);
            const std::string name = fileNameOf(files[i]);
            ASSERT_TRUE(name.ends_with(station.extension));
            // A title heard again gets a numbered name of its own.
            std::string stem = name.substr(0, name.size() - std::strlen(station.extension));
            if (stem.ends_with("]") && stem.rfind('[') != std::string::npos) {
                stem.erase(stem.rfind('['));
            }
            const auto known = std::find(order.begin(), order.end(), stem);
            ASSERT_NE(known, order.end());
            const auto index = static_cast<std::size_t>(known - order.begin());
            if (next != order.size()) {
                EXPECT_EQ(index, next) << "the titles in the stream's order";
            }
            next = (index + 1) % order.size();

            const std::string data = test::readFile(files[i]);
            std::string problem;
            const std::vector<OggPageInfo> pages = oggPagesOf(data, problem);
            ASSERT_EQ(problem, "");
            ASSERT_GE(pages.size(), 3u);
            EXPECT_EQ(pages.front().flags & 0x02, 0x02) << "the file begins its stream";
            const std::map<std::string, std::string> comments = fileComments(pages);
            const std::string title = *known;
            EXPECT_EQ(comments.count("TITLE") ? comments.at("TITLE") : "", index == 1 ? "Second" : title);
            EXPECT_EQ(comments.count("ARTIST") ? comments.at("ARTIST") : "", index == 1 ? "Artist B" : "");
            EXPECT_EQ(comments.count("ORGANIZATION") ? comments.at("ORGANIZATION") : "", "Korvanel Test Chains");

            // Its own time from 0: the last granule is the audio it holds.
            const double seconds = test::decodedSeconds(files[i]);
            const bool last = i + 1 == files.size();
            EXPECT_GE(seconds, last ? 0.0 : 0.3);
            if (!last) {
                const std::int64_t preSkip = station.rate == 48000 ? 312 : 0;
                EXPECT_NEAR(static_cast<double>(pages.back().granule - preSkip) / station.rate, seconds, 0.1);
            }
            const test::ToolResult checked = station.rate == 48000 ? test::runTool({"opusinfo", files[i]})
                                                                   : test::runTool({"flac", "-t", "-s", files[i]});
            EXPECT_EQ(checked.exitCode, 0) << checked.output;
            // A live encoder leaves the whole stream's MD5 unset; every other warning counts.
            std::string warnings = checked.output;
            const std::string unsetMd5 = "WARNING, cannot check MD5 signature since it was unset";
            for (std::size_t at; (at = warnings.find(unsetMd5)) != std::string::npos;) {
                warnings.erase(at, unsetMd5.size());
            }
            EXPECT_EQ(warnings.find("WARNING"), std::string::npos) << checked.output;
        }
    }
}

TEST_F(CliRecord, OggMountEncodedToMp3AtTheSetBitrateWithAnInfoFrame) {
    ASSERT_TRUE(icecast_.startSource({"/enc.ogg", IcecastServer::Codec::OggVorbis, 440})) << icecast_.errorLog();
    const std::string folder = home_.file("recordings");

    Recording recording =
        record(icecast_, "/enc.ogg", home_, folder, "%track%", 7, {{1500ms, "First Song"}, {4000ms, "Second"}},
               {"--set", "Recording/LameEncodeOgg=true", "--set", "Recording/LameBitrate=96"});
    ASSERT_EQ(recording.result.exitCode, 0) << recording.result.err;
    auto& files = recording.files;
    dropUntitledStart(files, expectValidMp3);
    ASSERT_EQ(files.size(), 2u) << recording.result.out << "\n" << recording.result.err;
    EXPECT_EQ(fileNameOf(files[0]), "First Song.mp3");
    EXPECT_EQ(fileNameOf(files[1]), "Second.mp3");
    for (const auto& file : files) {
        SCOPED_TRACE(file);
        expectValidMp3(file);
        const auto probed = test::probeStream(file);
        ASSERT_EQ(probed.count("bit_rate"), 1u);
        EXPECT_NEAR(std::stod(probed.at("bit_rate")), 96000, 96000 * 0.02);

        // The first frame carries the info tag with this file's own counts.
        const std::string data = test::readFile(file);
        const auto first = mpeg1Layer3FrameAt(data, 0);
        ASSERT_TRUE(first.has_value());
        const std::string firstFrame = data.substr(0, first->bytes);
        std::size_t tag = firstFrame.find("Info");
        tag = tag == std::string::npos ? firstFrame.find("Xing") : tag;
        ASSERT_NE(tag, std::string::npos) << "no Xing/Info tag in the first frame";
        ASSERT_LE(tag + 16, firstFrame.size());
        const std::uint32_t flags = bigEndian32(firstFrame, tag + 4);
        ASSERT_EQ(flags & 3u, 3u) << "frame and byte counts present";
        std::size_t audioFrames = 0;
        std::size_t at = first->bytes;
        while (const auto frame = mpeg1Layer3FrameAt(data, at)) {
            EXPECT_EQ(frame->kbps, 96) << "frame at byte " << at;
            at += frame->bytes;
            ++audioFrames;
        }
        EXPECT_EQ(at, data.size()) << "whole frames only";
        EXPECT_GT(audioFrames, 20u);
        EXPECT_EQ(bigEndian32(firstFrame, tag + 8), audioFrames);
        EXPECT_EQ(bigEndian32(firstFrame, tag + 12), data.size());
    }
}

}  // namespace
}  // namespace korvanel
