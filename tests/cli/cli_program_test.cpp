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

TEST_F(CliProgramTest, StationListsMoveInAndOutAndOtherPlayersOpenWhatGoesOut) {
    test::writeFile(home_.file("favorites.xml"),
                    "<Favorites>\n   <Station title=\"Kept\" url=\"\"><Source>http://127.0.0.1:1/kept</Source></Station>\n"
                    "</Favorites>\n");
    test::writeFile(home_.file("list.pls"),
                    "[playlist]\nFile1=http://127.0.0.1:1/kept\nTitle1=Twice\nFile2=http://127.0.0.1:1/caf%C3%A9\n"
                    "Title2=Caf\xE9 & Co\nFile3=ftp://127.0.0.1/old\nFile4=nested/more.m3u\nTitle4=More\n"
                    "NumberOfEntries=4\n");
    const auto imported = runProcess(cliPath(), {"favorites", "import", "--group", "Mine", home_.file("list.pls")}, env());
    ASSERT_EQ(imported.exitCode, 0) << imported.err;
    EXPECT_NE(imported.out.find("imported 2 stations into group 'Mine'"), std::string::npos) << imported.out;
    EXPECT_NE(imported.out.find("1 stations were in the favourites already"), std::string::npos) << imported.out;
    EXPECT_NE(imported.out.find("1 entries were skipped"), std::string::npos) << imported.out;
    const std::string listed = "   1  Kept\n[Mine]\n     2  Caf\xC3\xA9 & Co\n     3  More\n";
    EXPECT_EQ(runProcess(cliPath(), {"list", "favorites"}, env()).out, listed);

    // Each form opens in another player with the same entries, and comes
    // back in as the same stations.
    const std::string local = home_.file("nested/more.m3u");
    for (const std::string format : {"m3u", "pls", "xspf"}) {
        SCOPED_TRACE(format);
        const std::string file = home_.file("out." + format);
        const auto exported =
            runProcess(cliPath(), {"favorites", "export", "--format", format, "--group", "Mine", file}, env());
        ASSERT_EQ(exported.exitCode, 0) << exported.err;
        EXPECT_EQ(exported.out, "wrote 2 stations to " + file + "\n");
        if (format == "xspf") {
            const auto read = runProcess("/usr/bin/python3",
                                         {"-c",
                                          "import sys, xml.etree.ElementTree as E\n"
                                          "n = {'x': 'http://xspf.org/ns/0/'}\n"
                                          "for t in E.parse(sys.argv[1]).getroot().iterfind('x:trackList/x:track', n):\n"
                                          "    print(t.findtext('x:location', namespaces=n), t.findtext('x:title', namespaces=n))\n",
                                          file});
            EXPECT_EQ(read.out, "http://127.0.0.1:1/caf%C3%A9 Caf\xC3\xA9 & Co\nfile://" + local + " More\n") << read.err;
        } else {
            const auto mpv = runProcess("/usr/bin/mpv", {"--no-config", "--ao=null", "--vo=null", "--frames=0",
                                                        "--playlist=" + file},
                                        {}, std::chrono::seconds(20));
            EXPECT_NE(mpv.out.find("Playing: http://127.0.0.1:1/caf%C3%A9\n"), std::string::npos) << mpv.out << mpv.err;
            EXPECT_NE(mpv.out.find("Playing: " + local + "\n"), std::string::npos) << mpv.out << mpv.err;
        }
        test::writeFile(home_.file("favorites.xml"), "<Favorites/>");
        ASSERT_EQ(runProcess(cliPath(), {"favorites", "import", "--group", "Mine", file}, env()).exitCode, 0);
        EXPECT_EQ(runProcess(cliPath(), {"list", "favorites"}, env()).out,
                  "[Mine]\n     1  Caf\xC3\xA9 & Co\n     2  More\n");
        test::writeFile(home_.file("favorites.xml"),
                        "<Favorites><Group title=\"Mine\"><Station title=\"Caf\xC3\xA9 &amp; Co\"><Source>"
                        "http://127.0.0.1:1/caf%C3%A9</Source></Station><Station title=\"More\"><Source>" + local +
                        "</Source></Station></Group></Favorites>");
    }

    const auto missing = runProcess(cliPath(), {"favorites", "import", home_.file("none.m3u")}, env());
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("none.m3u cannot be read"), std::string::npos) << missing.err;
    EXPECT_EQ(runProcess(cliPath(), {"favorites", "export", home_.file("x.m3u")}, env()).exitCode, 2);
    EXPECT_EQ(runProcess(cliPath(), {"favorites", "export", "--format", "asx", home_.file("x")}, env()).exitCode, 2);
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
