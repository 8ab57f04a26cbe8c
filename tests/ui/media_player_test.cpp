// The player as an MPRIS2 media player on a session bus of the test's own,
// driven from outside by playerctl, as media keys and sound applets do.
#include <QDBusConnection>
#include <QDBusMessage>

#include "frontend/menu_tree.h"
#include "tests/support/child_process.h"
#include "tests/ui/desktop_test_fixture.h"
#include "tests/ui/private_bus.h"
#include "ui/mpris/media_player_service.h"

namespace korvanel {
namespace {

class MediaPlayerTest : public DesktopTest {
protected:
    void SetUp() override {
        ASSERT_FALSE(bus_.address().empty()) << "dbus-daemon did not start";
        service_ = std::make_unique<MediaPlayerService>(*desktop_, *app_, bus_.connect());
        ASSERT_TRUE(service_->isRegistered());
    }
    void TearDown() override { service_.reset(); }

    // playerctl against our player; the events run while it waits, since
    // this thread is the one that answers it. Started with fork and exec
    // (QProcess's own clone call is beyond the thread sanitizer).
    std::unique_ptr<test::ChildProcess> startPlayerctl(const std::vector<std::string>& arguments) {
        std::vector<std::string> all{"--player=korvanel"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return std::make_unique<test::ChildProcess>("/usr/bin/playerctl", all,
                                                    std::vector<std::string>{"DBUS_SESSION_BUS_ADDRESS=" +
                                                                             bus_.address()});
    }
    std::string playerctl(const std::vector<std::string>& arguments) {
        const auto process = startPlayerctl(arguments);
        const bool done = waitUntil([&] { return process->waitForExit(0ms).has_value(); }, 10s);
        EXPECT_TRUE(done) << arguments.front();
        std::string out = process->out();
        while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) {
            out.pop_back();
        }
        return out;
    }

    test::PrivateBus bus_;
    std::unique_ptr<MediaPlayerService> service_;
};

TEST_F(MediaPlayerTest, PlayerctlSeesStatusTrackAndStationAndDrivesTheTransport) {
    EXPECT_EQ(playerctl({"status"}), "Stopped");

    desktop_->commands().playSource("http://radio/live");
    ASSERT_TRUE(waitForState(Player::State::Playing));
    app_->streamInfo()->setStationName("Rock & Roll Radio");
    app_->streamInfo()->setTitle("Artist & Band - Song");
    window().refreshDisplay(DisplayPart::Texts);
    EXPECT_EQ(playerctl({"status"}), "Playing");
    EXPECT_EQ(playerctl({"metadata", "--format",
                         "{{artist}}|{{title}}|{{album}}|{{xesam:url}}"}),
              "Artist & Band|Song|Rock & Roll Radio|http://radio/live");
    const std::string firstTrack = playerctl({"metadata", "mpris:trackid"});

    // A title without an artist is a title alone, and a new track.
    app_->streamInfo()->setTitle("News at Nine");
    window().refreshDisplay(DisplayPart::Texts);
    EXPECT_EQ(playerctl({"metadata", "--format", "{{artist}}|{{title}}"}),
              "|News at Nine");
    EXPECT_NE(playerctl({"metadata", "mpris:trackid"}), firstTrack);

    // Pause stops a live stream; Play and PlayPause start it again.
    playerctl({"pause"});
    ASSERT_TRUE(waitForState(Player::State::Idle));
    EXPECT_EQ(playerctl({"status"}), "Stopped");
    playerctl({"play"});
    ASSERT_TRUE(waitForState(Player::State::Playing));
    playerctl({"play-pause"});
    ASSERT_TRUE(waitForState(Player::State::Idle));
    playerctl({"play-pause"});
    ASSERT_TRUE(waitForState(Player::State::Playing));
    playerctl({"stop"});
    ASSERT_TRUE(waitForState(Player::State::Idle));
}

TEST_F(MediaPlayerTest, NextAndPreviousWalkTheStationsAddressesAsTheButtonsDo) {
    library_->scriptStream("http://radio/second", liveStream());
    app_->playlistResolver().setSources({"http://radio/live", "http://radio/second"});
    player().play();
    ASSERT_TRUE(waitForState(Player::State::Playing));
    window().refreshDisplay(DisplayPart::All);
    EXPECT_EQ(playerctl({"metadata", "xesam:url"}), "http://radio/live");
    playerctl({"next"});
    EXPECT_TRUE(waitUntil([&] { return app_->playlistResolver().currentAddress() == "http://radio/second"; }));
    ASSERT_TRUE(waitForState(Player::State::Playing));
    playerctl({"previous"});
    EXPECT_TRUE(waitUntil([&] { return app_->playlistResolver().currentAddress() == "http://radio/live"; }));
}

TEST_F(MediaPlayerTest, VolumeFollowsBothWaysAndChangesAreAnnounced) {
    // playerctl --follow prints a line on every change it is told of.
    const auto follower = startPlayerctl({"--follow", "volume"});
    const auto heard = [&](const std::string& line) {
        return waitUntil([&] { return follower->out().find(line) != std::string::npos; });
    };
    EXPECT_TRUE(heard("1.0"));

    playerctl({"volume", "0.5"});
    EXPECT_TRUE(waitUntil([&] { return player().volume() == 0.5; })) << player().volume();
    EXPECT_EQ(window().volumeSlider().value(), 10);
    EXPECT_TRUE(heard("0.5"));

    // The window's own slider is announced too.
    window().setVolume(0.25);
    EXPECT_TRUE(heard("0.25"));
    EXPECT_EQ(playerctl({"volume"}), "0.250000");
    follower->signal(SIGTERM);
    follower->waitForExit(5s);
}

TEST_F(MediaPlayerTest, OpenUriPlaysOnlyStreamAddressesAndRaiseShowsTheWindow) {
    playerctl({"open", "file:///etc/passwd"});
    settle();
    EXPECT_EQ(player().state(), Player::State::Idle);
    playerctl({"open", "http://radio/live"});
    ASSERT_TRUE(waitForState(Player::State::Playing));

    desktop_->hideToTray();
    QDBusConnection bus = bus_.connect();
    QDBusMessage raise =
        QDBusMessage::createMethodCall(service_->serviceName(), QStringLiteral("/org/mpris/MediaPlayer2"),
                                       QStringLiteral("org.mpris.MediaPlayer2"), QStringLiteral("Raise"));
    bus.send(raise);
    EXPECT_TRUE(waitUntil([&] { return window().isVisible(); }));
}

}  // namespace
}  // namespace korvanel
