#include "frontend/window_events.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "app/application.h"
#include "app/empty_window.h"
#include "base/window_event.h"
#include "stream/http_client.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

// Records what the event handling asked the face to do.
class RecordingView : public WindowView {
public:
    void addLogLine(LogKind kind, const std::string& text) override {
        lines.push_back(std::to_string(static_cast<int>(kind)) + " " + text);
    }
    void setStatusText(int part, const std::string& text) override {
        status[part] = text;
    }
    void refresh(DisplayPart part) override { refreshes.push_back(static_cast<int>(part)); }
    void showMessage(MessageIcon, const std::string& caption, const std::string& text) override {
        messages.push_back(caption + ": " + text);
    }

    std::vector<std::string> lines;
    std::map<int, std::string> status;
    std::vector<int> refreshes;
    std::vector<std::string> messages;
};

WindowEvent event(EventKind kind, std::string text = {}) { return makeEvent(kind, std::move(text)); }

class WindowEventsTest : public ::testing::Test {
protected:
    WindowEventsTest()
        : env_("KORVANEL_HOME", home_.path()),
          noServer_("KORVANEL_UPDATE_SERVER", "http://127.0.0.1:1"),
          app_([](Application&) { return std::make_unique<EmptyWindow>(); }),
          events_(app_, view_) {}

    test::TempFolder home_;
    test::ScopedEnv env_;
    test::ScopedEnv noServer_;
    Application app_;
    RecordingView view_;
    WindowEvents events_;
};

TEST_F(WindowEventsTest, PlayerEventsBecomeTheLogLinesAndStatusTexts) {
    events_.handle(event(EventKind::Connecting, "http://radio/stream"));
    events_.handle(event(EventKind::Connecting));  // no address: only a refresh
    events_.handle(event(EventKind::Error, "Connect error: 100% %s %n"));
    events_.handle(event(EventKind::Reconnecting, "Trying to reconnect.."));
    events_.handle(event(EventKind::StreamLost));
    events_.handle(event(EventKind::StreamEnded));
    events_.handle(event(EventKind::Stopped));
    EXPECT_EQ(view_.lines, (std::vector<std::string>{
                               "0 Connecting to http://radio/stream",
                               "1 Connect error: 100% %s %n",  // a text is never a format
                               "0 Trying to reconnect..",
                               "1 Connection lost..",
                               "0 Reached end of stream..",
                               "1 Stopped..",
                           }));
    EXPECT_EQ(view_.status[1], "");
    EXPECT_EQ(view_.refreshes, (std::vector<int>{0, 0, 0}));
}

TEST_F(WindowEventsTest, PlaylistEventsKeepTheAddressUntilResolutionFails) {
    events_.handle(event(EventKind::Resolving, "http://host/list.pls"));
    EXPECT_EQ(view_.lines.back(), "0 Retrieving playlist, http://host/list.pls");
    EXPECT_EQ(view_.status[0], " Downloading..");
    EXPECT_EQ(view_.status[1], "http://host/list.pls");
    events_.handle(event(EventKind::Resolved));
    EXPECT_EQ(view_.status[0], " Idling..");
    EXPECT_EQ(events_.playlistAddress(), "http://host/list.pls");
    events_.handle(event(EventKind::ResolveFailed));
    EXPECT_EQ(events_.playlistAddress(), "");
}

// A stop right after connecting may clear the stream information before the
// event is handled: the history keeps the address the event carries, and an
// event with no address anywhere adds no empty entry (which would end the
// stored history there).
TEST_F(WindowEventsTest, TheHistoryRecordsTheConnectedAddressEvenAfterTheInformationWasCleared) {
    app_.streamInfo()->reset();
    events_.handle(event(EventKind::Connected, "http://radio/b"));
    events_.handle(event(EventKind::Connected));
    events_.handle(event(EventKind::Resolving, "http://host/list.pls"));
    events_.handle(event(EventKind::Connected, "http://radio/from-the-list"));
    const PlayHistory history = events_.history();
    ASSERT_EQ(history.entries().size(), 2u);
    EXPECT_EQ(history.entries()[0].source, "http://host/list.pls");
    EXPECT_EQ(history.entries()[1].source, "http://radio/b");
}

TEST_F(WindowEventsTest, MessagesPopUpUnlessDisabledButAreAlwaysLogged) {
    events_.handle(event(EventKind::Message, "All sources failed, giving up!"));
    EXPECT_EQ(view_.messages, (std::vector<std::string>{"Connection failure: All sources failed, giving up!"}));
    app_.settings().setBool("General/DisablePopups", true);
    events_.handle(event(EventKind::Message, "again"));
    events_.handle(event(EventKind::PresetsUpdateFailed));
    EXPECT_EQ(view_.messages.size(), 1u);
    EXPECT_EQ(view_.lines.back(), "0 Presets could not be updated from server, please try again later.");
    EXPECT_EQ(view_.lines[view_.lines.size() - 2], "1 again");
}

TEST_F(WindowEventsTest, StartedLoadsTheListsAndLogsTheProgram) {
    test::writeFile(home_.file("favorites.xml"), "<F><Station title=\"Mine\"><s>http://mine/</s></Station></F>");
    events_.handle(event(EventKind::Started));
    EXPECT_EQ(view_.lines.front(), "0 Korvanel Radio v0.3.6 Started");
    EXPECT_TRUE(events_.favorites().loaded());
    EXPECT_FALSE(events_.presets().loaded());
    EXPECT_EQ(view_.refreshes.front(), static_cast<int>(DisplayPart::MenuBar));
}

TEST_F(WindowEventsTest, PresetDownloadReloadsTheListAndTellsTheUser) {
    test::writeFile(events_.presetUpdater().downloadPath(),
                    "<P><Station title=\"Fresh\"><s>http://fresh/</s></Station></P>");
    std::vector<PresetUpdater::Result> seen;
    events_.setPresetObserver([&seen](PresetUpdater::Result result) { seen.push_back(result); });
    events_.handle(event(EventKind::PresetsUpdated));
    EXPECT_EQ(seen, (std::vector<PresetUpdater::Result>{PresetUpdater::Result::Updated}));
    EXPECT_TRUE(events_.presets().loaded());
    EXPECT_EQ(events_.presets().lookup(1), (std::vector<std::string>{"http://fresh/"}));
    EXPECT_EQ(view_.lines.back(), "0 Presets successfully updated from server!");
    EXPECT_EQ(view_.messages.back(), "Korvanel Radio v0.3.6: Presets successfully updated from server!");
}

}  // namespace
}  // namespace korvanel
