// korvanel-cli record against a real icecast2: one file per title, each valid.
#include <filesystem>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/audio_file_tools.h"
#include "tests/support/icecast_server.h"
#include "tests/support/process_runner.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::IcecastServer;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST(CliRecord, RecordsOneValidFilePerTitleNamedByThePattern) {
    IcecastServer icecast;
    ASSERT_TRUE(icecast.start()) << icecast.errorLog();
    ASSERT_TRUE(icecast.startSource({"/rec.mp3", IcecastServer::Codec::Mp3, 440}));
    ASSERT_TRUE(icecast.setTitle("/rec.mp3", "First Song"));
    test::TempFolder home;
    const std::string folder = home.file("recordings");

    test::ProcessResult result;
    std::thread runner([&] {
        result = test::runProcess(test::cliPath(),
                                  {"record", "--seconds", "8", "--folder", folder, "--pattern",
                                   "%title% - %track%", icecast.url("/rec.mp3")},
                                  {"KORVANEL_HOME=" + home.path(), "KORVANEL_UPDATE_SERVER=http://127.0.0.1:1"},
                                  40s);
    });
    std::this_thread::sleep_for(3500ms);
    EXPECT_TRUE(icecast.setTitle("/rec.mp3", "Second: Song/Part"));
    runner.join();

    ASSERT_EQ(result.exitCode, 0) << result.err;
    auto files = linesOf(result.out);
    // The bytes before the stream's first title go to an untitled file.
    if (!files.empty() && files.front().find("untitled") != std::string::npos) {
        EXPECT_EQ(test::mp3valProblems(files.front()), "");
        files.erase(files.begin());
    }
    ASSERT_EQ(files.size(), 2u) << result.out << "\n" << result.err;
    EXPECT_EQ(std::filesystem::path(files[0]).filename(), "Korvanel Test Tone - First Song.mp3");
    // Characters that cannot stand in a file name are cleaned.
    EXPECT_EQ(std::filesystem::path(files[1]).parent_path(), std::filesystem::path(folder));
    EXPECT_NE(files[1].find("Second"), std::string::npos);
    for (const auto& file : files) {
        ASSERT_TRUE(std::filesystem::exists(file)) << file;
        EXPECT_GT(std::filesystem::file_size(file), 16000u) << file;
        EXPECT_EQ(test::mp3valProblems(file), "") << file;
    }
    // The settings file keeps the user's own recording settings.
    const std::string settings = test::readFile(home.file("korvanel.xml"));
    EXPECT_NE(settings.find("<Enabled type=\"bool\">false</Enabled>"), std::string::npos);
    EXPECT_EQ(settings.find(folder), std::string::npos);
}

}  // namespace
}  // namespace korvanel
