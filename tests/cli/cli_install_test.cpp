// The programs installed into a prefix of the test's own, as a package would
// install them, and started from there by a user with a home of their own.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "settings/settings_store.h"
#include "tests/support/process_runner.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class CliInstall : public ::testing::Test {
protected:
    void SetUp() override {
        const auto installed = test::runProcess(KORVANEL_CMAKE_COMMAND, {"--install", KORVANEL_BUILD_DIR, "--prefix", prefix_}, {}, 60s);
        ASSERT_EQ(installed.exitCode, 0) << installed.out << installed.err;
    }

    // The installed korvanel-cli as a user whose settings live in `config`
    // (empty: the default under their home).
    test::ProcessResult runInstalled(const std::vector<std::string>& arguments, const std::string& config = {}) {
        return test::runProcess(prefix_ + "/bin/korvanel-cli", arguments,
                                {"HOME=" + home_, "XDG_CONFIG_HOME=" + config, "KORVANEL_HOME=",
                                 "KORVANEL_UPDATE_SERVER=http://127.0.0.1:1"},
                                30s);
    }

    test::TempFolder root_;
    const std::string prefix_ = root_.file("prefix");
    const std::string home_ = root_.file("home");
};

TEST_F(CliInstall, PutsEachFileWhereTheDesktopLooksForItAndTheDataValidates) {
    for (const char* file :
         {"bin/korvanel", "bin/korvanel-cli", "share/korvanel/presets.xml", "share/korvanel/favorites.xml",
          "share/korvanel/languages/lang.default.xml", "share/korvanel/languages/lang.de.xml",
          "share/applications/korvanel.desktop", "share/metainfo/org.korvanel.Korvanel.metainfo.xml",
          "share/icons/hicolor/scalable/apps/korvanel.svg", "share/icons/hicolor/16x16/apps/korvanel.png",
          "share/icons/hicolor/128x128/apps/korvanel.png"}) {
        EXPECT_TRUE(fs::exists(prefix_ + "/" + file)) << file;
    }
    const auto desktop = test::runProcess("/usr/bin/desktop-file-validate", {prefix_ + "/share/applications/korvanel.desktop"});
    EXPECT_EQ(desktop.exitCode, 0) << desktop.out << desktop.err;
    const auto appstream = test::runProcess(
        "/usr/bin/appstreamcli", {"validate", "--no-net", prefix_ + "/share/metainfo/org.korvanel.Korvanel.metainfo.xml"});
    EXPECT_EQ(appstream.exitCode, 0) << appstream.out << appstream.err;
}

TEST_F(CliInstall, TheInstalledProgramKeepsEachUsersFilesInTheirOwnFolder) {
    const auto listed = runInstalled({"list", "presets"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_FALSE(listed.out.empty());

    // Seeded from what is shipped, with the settings written at the exit.
    const std::string folder = home_ + "/.config/korvanel/";
    for (const char* file : {"presets.xml", "favorites.xml", "languages/lang.fr.xml", "korvanel.xml"}) {
        EXPECT_TRUE(fs::exists(folder + file)) << file;
    }
    SettingsStore saved;
    ASSERT_TRUE(saved.load(folder + "korvanel.xml"));
    EXPECT_EQ(saved.getString("Recording/Path"), home_ + "/Music/Korvanel");
    // Nothing was written beside the programs.
    std::set<std::string> bin;
    for (const auto& entry : fs::directory_iterator(prefix_ + "/bin")) {
        bin.insert(entry.path().filename().string());
    }
    EXPECT_EQ(bin, (std::set<std::string>{"korvanel", "korvanel-cli"}));

    // What the user changed stays theirs on the next start.
    const std::string mine = test::readFile(folder + "favorites.xml") + "<!-- mine -->\n";
    test::writeFile(folder + "favorites.xml", mine);
    const auto again = runInstalled({"list", "favorites"});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(test::readFile(folder + "favorites.xml"), mine);

    // XDG_CONFIG_HOME moves the folder.
    const std::string config = root_.file("config");
    ASSERT_EQ(runInstalled({"list", "presets"}, config).exitCode, 0);
    EXPECT_TRUE(fs::exists(config + "/korvanel/korvanel.xml"));
}

}  // namespace
}  // namespace korvanel
