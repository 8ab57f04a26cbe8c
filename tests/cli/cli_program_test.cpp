// korvanel-cli as a user runs it: a real process, a real program folder.
#include <gtest/gtest.h>

#include "settings/settings_store.h"
#include "tests/support/http_test_server.h"
#include "tests/support/process_runner.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using test::cliPath;
using test::runProcess;

class CliProgramTest : public ::testing::Test {
protected:
    std::vector<std::string> env(const std::string& updateServer = "http://127.0.0.1:1") {
        return {"KORVANEL_HOME=" + home_.path(), "KORVANEL_UPDATE_SERVER=" + updateServer};
    }
    test::TempFolder home_;
};

TEST_F(CliProgramTest, ListsStationsAsTheMenusNumberThem) {
    test::writeFile(home_.file("favorites.xml"),
                    "<F><Group title=\"Jazz\"><Station title=\"One\"><s>a</s></Station></Group><Separator/>"
                    "<Station title=\"Two\"><s>b</s></Station></F>");
    const auto result = runProcess(cliPath(), {"list", "favorites"}, env());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "[Jazz]\n     1  One\n------\n   2  Two\n");

    const auto missing = runProcess(cliPath(), {"list", "presets"}, env());
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("presets.xml"), std::string::npos);
}

TEST_F(CliProgramTest, ListsTheSoundDevicesByTheNumbersDevicesTakes) {
    std::vector<std::string> variables = env();
    variables.push_back("SDL_AUDIODRIVER=disk");
    const auto result = runProcess(cliPath(), {"list", "devices"}, variables);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out.rfind("SDL: disk\n0  No sound\n1  Default output\n", 0), 0u) << result.out;
}

TEST_F(CliProgramTest, AddsAFavouriteThatTheListThenNumbers) {
    test::writeFile(home_.file("favorites.xml"),
                    "<F><Group title=\"Jazz\"><Station title=\"One\"><Source>a</Source></Station></Group></F>");
    auto added = runProcess(cliPath(), {"favorites", "add", "--group", "Jazz", "--title", "Two", "https://b/"}, env());
    EXPECT_EQ(added.exitCode, 0) << added.err;
    EXPECT_EQ(runProcess(cliPath(), {"list", "favorites"}, env()).out, "[Jazz]\n     1  One\n     2  Two\n");
    added = runProcess(cliPath(), {"favorites", "add", "https://b/"}, env());
    EXPECT_EQ(added.exitCode, 0);
    EXPECT_NE(added.out.find("already"), std::string::npos);
    const auto missing = runProcess(cliPath(), {"favorites", "add", "--group", "Rock", "http://c/"}, env());
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("no group 'Rock'"), std::string::npos);
    EXPECT_EQ(runProcess(cliPath(), {"favorites", "remove", "x"}, env()).exitCode, 2);
}

TEST_F(CliProgramTest, BadUsageExitsTwoWithOneLine) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"play"}, std::vector<std::string>{"bogus"},
          std::vector<std::string>{"--set", "No/SuchKey=1", "list", "favorites"}}) {
        const auto result = runProcess(cliPath(), arguments, env());
        EXPECT_EQ(result.exitCode, 2) << arguments[0];
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
    const auto help = runProcess(cliPath(), {"--help"}, env());
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("update-presets"), std::string::npos);
}

TEST_F(CliProgramTest, OverridesHoldForTheRunOnlyAndSettingsAreSaved) {
    const auto result = runProcess(cliPath(), {"--set", "General/ReconnectRetries=9", "list", "presets"}, env());
    EXPECT_EQ(result.exitCode, 1);
    SettingsStore saved;
    ASSERT_TRUE(saved.load(home_.file("korvanel.xml")));
    EXPECT_EQ(saved.getInt("General/ReconnectRetries"), 3);
    EXPECT_EQ(saved.entries().size(), 43u);
}

TEST_F(CliProgramTest, UpdatePresetsFetchesFromTheConfiguredServer) {
    const std::string list = "<P><Station title=\"Fresh\"><s>http://fresh/</s></Station></P>";
    test::HttpTestServer server([&list](test::HttpTestServer::Connection& connection, const std::string& request) {
        if (request.rfind("GET /update.php?check=presets ", 0) == 0) {
            connection.send(test::HttpTestServer::okResponse("3"));
        } else {
            connection.send(test::HttpTestServer::okResponse(list));
        }
    });
    const auto result = runProcess(cliPath(), {"update-presets"}, env(server.url("")));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find(":: Presets successfully updated from server!"), std::string::npos) << result.err;
    EXPECT_EQ(test::readFile(home_.file("presets.xml")), list);

    const auto again = runProcess(cliPath(), {"update-presets"}, env(server.url("")));
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_NE(again.out.find("up to date"), std::string::npos);

    const auto unreachable = runProcess(cliPath(), {"update-presets"}, env());
    EXPECT_EQ(unreachable.exitCode, 1);
    EXPECT_NE(unreachable.err.find("did not answer"), std::string::npos);
}

}  // namespace
}  // namespace korvanel
