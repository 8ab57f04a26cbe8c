#include "stations/preset_updater.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "app/application.h"
#include "stations/station_list.h"
#include "stream/http_client.h"
#include "tests/support/capturing_window.h"
#include "tests/support/http_test_server.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using test::HttpTestServer;
using test::readFile;
using test::writeFile;

const std::string kOldList = "<Presets><Station title=\"Old\"><s>http://old/</s></Station></Presets>";
const std::string kNewList =
    "<Presets><Group title=\"New\"><Station title=\"Fresh\"><s>http://fresh/</s></Station></Group></Presets>";

// Serves the version check and the list as the test sets them.
struct UpdateServer {
    std::mutex lock;
    std::string versionReply = HttpTestServer::okResponse("5");
    std::string listReply = HttpTestServer::okResponse(kNewList);
    HttpTestServer server{[this](HttpTestServer::Connection& connection, const std::string& request) {
        std::lock_guard<std::mutex> guard(lock);
        if (request.find("GET /update.php?check=presets ") == 0) {
            connection.send(versionReply);
        } else if (request.find("GET /update.php?fetch=presets ") == 0) {
            connection.send(listReply);
        } else {
            connection.send("HTTP/1.0 404 Not Found\r\n\r\n");
        }
    }};

    int fetches() const {
        int count = 0;
        for (const auto& request : server.requests()) {
            count += request.find("fetch=presets") != std::string::npos;
        }
        return count;
    }
};

class PresetUpdaterTest : public ::testing::Test {
protected:
    PresetUpdaterTest()
        : homeEnv_("KORVANEL_HOME", home_.path()),
          serverEnv_(PresetUpdater::kServerVariable, server_.server.url("")),
          app_([this](Application&) {
              auto window = std::make_unique<test::CapturingWindow>();
              window_ = window.get();
              return window;
          }),
          http_(app_.settings(), app_.events()),
          updater_(app_.settings(), http_, home_.file("presets.xml")) {}

    // One whole update as the window's worker would drive it.
    PresetUpdater::Result runUpdate() {
        updater_.check();
        std::optional<WindowEvent> event = window_->next();
        if (!event) {
            ADD_FAILURE() << "no answer to the version check";
            return PresetUpdater::Result::CheckFailed;
        }
        if (event->kind == EventKind::PresetsCheckFailed) {
            return updater_.onCheckFailed();
        }
        EXPECT_EQ(event->kind, EventKind::PresetsVersion);
        const PresetUpdater::Result result = updater_.onVersion(event->text);
        if (result != PresetUpdater::Result::Downloading) {
            return result;
        }
        event = window_->next();
        if (!event) {
            ADD_FAILURE() << "no answer to the download";
            return PresetUpdater::Result::NothingDue;
        }
        return event->kind == EventKind::PresetsUpdated ? updater_.onDownloaded()
                                                                : updater_.onDownloadFailed();
    }

    int lastUpdate() { return app_.settings().getInt(PresetUpdater::kLastUpdateKey); }

    test::TempFolder home_;
    test::ScopedEnv homeEnv_;
    UpdateServer server_;
    test::ScopedEnv serverEnv_;
    test::CapturingWindow* window_ = nullptr;
    Application app_;
    HttpClient http_;
    PresetUpdater updater_;
};

TEST_F(PresetUpdaterTest, SameVersionWithPresetsPresentDownloadsNothing) {
    writeFile(home_.file("presets.xml"), kOldList);
    app_.settings().setInt(PresetUpdater::kLastUpdateKey, 5);
    EXPECT_EQ(runUpdate(), PresetUpdater::Result::NothingDue);
    EXPECT_EQ(server_.fetches(), 0);
    EXPECT_EQ(readFile(home_.file("presets.xml")), kOldList);
}

TEST_F(PresetUpdaterTest, MissingPresetsAreDownloadedWhateverTheVersion) {
    app_.settings().setInt(PresetUpdater::kLastUpdateKey, 9);
    EXPECT_EQ(runUpdate(), PresetUpdater::Result::Updated);
    EXPECT_EQ(readFile(home_.file("presets.xml")), kNewList);
    EXPECT_FALSE(std::filesystem::exists(updater_.downloadPath()));
}

TEST_F(PresetUpdaterTest, NewerVersionIsDownloadedStoredAndLoadable) {
    writeFile(home_.file("presets.xml"), kOldList);
    app_.settings().setInt(PresetUpdater::kLastUpdateKey, 4);
    EXPECT_EQ(runUpdate(), PresetUpdater::Result::Updated);
    EXPECT_EQ(lastUpdate(), 5);
    StationList presets;
    presets.setPath(home_.file("presets.xml"));
    presets.load();
    EXPECT_EQ(presets.lookup(1), (std::vector<std::string>{"http://fresh/"}));
    EXPECT_STREQ(PresetUpdater::messageKey(PresetUpdater::Result::Updated), "Main/Message/PresetsOk");

    // The next check finds nothing newer.
    EXPECT_EQ(runUpdate(), PresetUpdater::Result::NothingDue);
    EXPECT_EQ(server_.fetches(), 1);
}

TEST_F(PresetUpdaterTest, FailedOrBogusDownloadsKeepTheOldList) {
    writeFile(home_.file("presets.xml"), kOldList);
    {
        std::lock_guard<std::mutex> guard(server_.lock);
        server_.listReply = "HTTP/1.0 500 Internal Server Error\r\n\r\noops";
    }
    EXPECT_EQ(runUpdate(), PresetUpdater::Result::Failed);
    EXPECT_EQ(lastUpdate(), 5);  // stored before the download: not retried at once
    EXPECT_EQ(readFile(home_.file("presets.xml")), kOldList);
    EXPECT_STREQ(PresetUpdater::messageKey(PresetUpdater::Result::Failed), "Main/Message/PresetsFailed");

    for (const std::string& bogus : {std::string("<html><body>Maintenance</body></html>"),
                                     std::string("<Presets><Station><s>untitled</s></Station></Presets>"),
                                     std::string("not xml")}) {
        {
            std::lock_guard<std::mutex> guard(server_.lock);
            server_.versionReply = HttpTestServer::okResponse(std::to_string(lastUpdate() + 1));
            server_.listReply = HttpTestServer::okResponse(bogus);
        }
        EXPECT_EQ(runUpdate(), PresetUpdater::Result::Failed) << bogus;
        EXPECT_EQ(readFile(home_.file("presets.xml")), kOldList);
        EXPECT_FALSE(std::filesystem::exists(updater_.downloadPath()));
    }
}

TEST_F(PresetUpdaterTest, RepliesThatAreNoVersionNeverStartADownload) {
    writeFile(home_.file("presets.xml"), kOldList);
    for (const std::string& reply : {std::string("abc"), std::string("12abc"), std::string(""),
                                     std::string("<html>5</html>"), std::string("-3")}) {
        {
            std::lock_guard<std::mutex> guard(server_.lock);
            server_.versionReply = HttpTestServer::okResponse(reply);
        }
        EXPECT_EQ(runUpdate(), PresetUpdater::Result::NothingDue) << reply;
    }
    EXPECT_EQ(server_.fetches(), 0);

    {
        std::lock_guard<std::mutex> guard(server_.lock);
        server_.versionReply = "HTTP/1.0 503 Service Unavailable\r\n\r\n";
    }
    EXPECT_EQ(runUpdate(), PresetUpdater::Result::CheckFailed);
    EXPECT_EQ(PresetUpdater::messageKey(PresetUpdater::Result::CheckFailed), nullptr);
}

TEST(PresetVersion, OnlyPlainNumbersCount) {
    EXPECT_EQ(PresetUpdater::parseVersion(" 42\r\n"), 42);
    EXPECT_EQ(PresetUpdater::parseVersion(std::string("7\0", 2)), 7);
    EXPECT_EQ(PresetUpdater::parseVersion("abc"), 0);
    EXPECT_EQ(PresetUpdater::parseVersion("12abc"), 0);
    EXPECT_EQ(PresetUpdater::parseVersion("99999999999999"), 0);
    EXPECT_EQ(PresetUpdater::parseVersion("+5"), 0);
}

}  // namespace
}  // namespace korvanel
