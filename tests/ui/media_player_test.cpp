// The player as an MPRIS2 media player on a session bus of the test's own,
// driven from outside by playerctl, as media keys and sound applets do.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QProcessEnvironment>

#include "frontend/menu_tree.h"
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
    // this thread is the one that answers it.
    std::string playerctl(const QStringList& arguments) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromStdString(bus_.address()));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral("playerctl"), QStringList{QStringLiteral("--player=korvanel")} + arguments);
        const bool done = waitUntil([&] { return process.state() == QProcess::NotRunning; }, 10s);
        EXPECT_TRUE(done) << arguments.join(QLatin1Char(' ')).toStdString();
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed().toStdString();
    }

    test::PrivateBus bus_;
    std::unique_ptr<MediaPlayerService> service_;
};

TEST_F(MediaPlayerTest, PlayerctlSeesStatusTrackAndStationAndDrivesTheTransport) {
    EXPECT_EQ(playerctl({QStringLiteral("status")}), "Stopped");

    desktop_->commands().playSource("http://radio/live");
    ASSERT_TRUE(waitForState(Player::State::Playing));
    app_->streamInfo()->setStationName("Rock & Roll Radio");
    app_->streamInfo()->setTitle("Artist & Band - Song");
    window().refreshDisplay(DisplayPart::Texts);
    EXPECT_EQ(playerctl({QStringLiteral("status")}), "Playing");
    EXPECT_EQ(playerctl({QStringLiteral("metadata"), QStringLiteral("--format"),
                         QStringLiteral("{{artist}}|{{title}}|{{album}}|{{xesam:url}}")}),
              "Artist & Band|Song|Rock & Roll Radio|http://radio/live");
    const std::string firstTrack = playerctl({QStringLiteral("metadata"), QStringLiteral("mpris:trackid")});

    // A title without an artist is a title alone, and a new track.
    app_->streamInfo()->setTitle("News at Nine");
    window().refreshDisplay(DisplayPart::Texts);
    EXPECT_EQ(playerctl({QStringLiteral("metadata"), QStringLiteral("--format"), QStringLiteral("{{artist}}|{{title}}")}),
              "|News at Nine");
    EXPECT_NE(playerctl({QStringLiteral("metadata"), QStringLiteral("mpris:trackid")}), firstTrack);

    // Pause stops a live stream; Play and PlayPause start it again.
    playerctl({QStringLiteral("pause")});
    ASSERT_TRUE(waitForState(Player::State::Idle));
    EXPECT_EQ(playerctl({QStringLiteral("status")}), "Stopped");
    playerctl({QStringLiteral("play")});
    ASSERT_TRUE(waitForState(Player::State::Playing));
    playerctl({QStringLiteral("play-pause")});
    ASSERT_TRUE(waitForState(Player::State::Idle));
    playerctl({QStringLiteral("play-pause")});
    ASSERT_TRUE(waitForState(Player::State::Playing));
    playerctl({QStringLiteral("stop")});
    ASSERT_TRUE(waitForState(Player::State::Idle));
}

TEST_F(MediaPlayerTest, NextAndPreviousWalkTheStationsAddressesAsTheButtonsDo) {
    library_->scriptStream("http://radio/second", liveStream());
    app_->playlistResolver().setSources({"http://radio/live", "http://radio/second"});
    player().play();
    ASSERT_TRUE(waitForState(Player::State::Playing));
    window().refreshDisplay(DisplayPart::All);
    EXPECT_EQ(playerctl({QStringLiteral("metadata"), QStringLiteral("xesam:url")}), "http://radio/live");
    playerctl({QStringLiteral("next")});
    EXPECT_TRUE(waitUntil([&] { return app_->playlistResolver().currentAddress() == "http://radio/second"; }));
    ASSERT_TRUE(waitForState(Player::State::Playing));
    playerctl({QStringLiteral("previous")});
    EXPECT_TRUE(waitUntil([&] { return app_->playlistResolver().currentAddress() == "http://radio/live"; }));
}

TEST_F(MediaPlayerTest, VolumeFollowsBothWaysAndChangesAreAnnounced) {
    // playerctl --follow prints a line on every change it is told of.
    QProcess follower;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromStdString(bus_.address()));
    follower.setProcessEnvironment(environment);
    follower.start(QStringLiteral("playerctl"),
                   {QStringLiteral("--player=korvanel"), QStringLiteral("--follow"), QStringLiteral("volume")});
    ASSERT_TRUE(follower.waitForStarted());
    QString followed;
    const auto heard = [&](const QString& line) {
        return waitUntil([&] {
            followed += QString::fromUtf8(follower.readAllStandardOutput());
            return followed.contains(line);
        });
    };
    EXPECT_TRUE(heard(QStringLiteral("1.0")));

    playerctl({QStringLiteral("volume"), QStringLiteral("0.5")});
    EXPECT_TRUE(waitUntil([&] { return player().volume() == 0.5; })) << player().volume();
    EXPECT_EQ(window().volumeSlider().value(), 10);
    EXPECT_TRUE(heard(QStringLiteral("0.5")));

    // The window's own slider is announced too.
    window().setVolume(0.25);
    EXPECT_TRUE(heard(QStringLiteral("0.25")));
    EXPECT_EQ(playerctl({QStringLiteral("volume")}), "0.250000");
    follower.kill();
    follower.waitForFinished();
}

TEST_F(MediaPlayerTest, OpenUriPlaysOnlyStreamAddressesAndRaiseShowsTheWindow) {
    playerctl({QStringLiteral("open"), QStringLiteral("file:///etc/passwd")});
    settle();
    EXPECT_EQ(player().state(), Player::State::Idle);
    playerctl({QStringLiteral("open"), QStringLiteral("http://radio/live")});
    ASSERT_TRUE(waitForState(Player::State::Playing));

    desktop_->hideToTray();
    QDBusConnection bus = bus_.connect();
    QDBusMessage raise = QDBusMessage::createMethodCall(service_->serviceName(), QStringLiteral("/org/mpris/MediaPlayer2"),
                                                        QStringLiteral("org.mpris.MediaPlayer2"), QStringLiteral("Raise"));
    bus.send(raise);
    EXPECT_TRUE(waitUntil([&] { return window().isVisible(); }));
}

}  // namespace
}  // namespace korvanel
