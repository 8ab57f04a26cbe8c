// Track notifications sent to a notification service of the test's own on
// a bus of its own, as the desktop's would receive them.
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QVariantMap>

#include <unistd.h>

#include <fstream>

#include "tests/support/child_process.h"
#include "tests/support/process_runner.h"
#include "tests/support/x_display.h"
#include "tests/ui/desktop_test_fixture.h"
#include "tests/ui/private_bus.h"
#include "ui/track_notifier.h"

namespace korvanel {
namespace {

// org.freedesktop.Notifications as far as the player uses it.
class NotificationServer final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Shown {
        uint replaces = 0;
        QString summary;
        QString body;
    };
    std::vector<Shown> shown;
    QStringList capabilities{QStringLiteral("body")};

public Q_SLOTS:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString&, uint replaces, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int) {
        shown.push_back({replaces, summary, body});
        return replaces != 0 ? replaces : 41 + static_cast<uint>(shown.size());
    }
};

class TrackNotifierTest : public DesktopTest {
protected:
    void SetUp() override {
        ASSERT_FALSE(bus_.address().empty()) << "dbus-daemon did not start";
        QDBusConnection server = bus_.connect(QStringLiteral("notification-server"));
        ASSERT_TRUE(server.registerService(QStringLiteral("org.freedesktop.Notifications")));
        ASSERT_TRUE(server.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server_,
                                          QDBusConnection::ExportAllSlots));
        notifier_ = std::make_unique<TrackNotifier>(*desktop_, *app_, bus_.connect());
        desktop_->commands().playSource("http://radio/live");
        ASSERT_TRUE(waitForState(Player::State::Playing));
        app_->streamInfo()->setStationName("Night Radio");
    }

    void newTitle(const std::string& title) {
        app_->streamInfo()->setTitle(title);
        window().refreshDisplay(DisplayPart::Texts);
    }

    test::PrivateBus bus_;
    NotificationServer server_;
    std::unique_ptr<TrackNotifier> notifier_;
};

TEST_F(TrackNotifierTest, EachNewTitleWhileHiddenReplacesTheLastNotification) {
    desktop_->hideToTray();
    newTitle("Artist - First");
    ASSERT_TRUE(waitUntil([&] { return server_.shown.size() == 1; }));
    EXPECT_EQ(server_.shown[0].summary, QStringLiteral("Artist - First"));
    EXPECT_EQ(server_.shown[0].body, QStringLiteral("Night Radio"));
    EXPECT_EQ(server_.shown[0].replaces, 0u);

    // The same title again is no new track; a refresh alone says nothing.
    newTitle("Artist - First");
    window().refreshDisplay(DisplayPart::StatusBar);
    newTitle("Artist - Second");
    ASSERT_TRUE(waitUntil([&] { return server_.shown.size() == 2; }));
    EXPECT_EQ(server_.shown[1].summary, QStringLiteral("Artist - Second"));
    EXPECT_EQ(server_.shown[1].replaces, 42u);
    settle();
    EXPECT_EQ(server_.shown.size(), 2u);
}

// The station name is the body: plain text where the service takes it so,
// escaped where it reads markup.
TEST_F(TrackNotifierTest, TheBodyIsEscapedOnlyWhereTheServiceReadsMarkup) {
    desktop_->hideToTray();
    app_->streamInfo()->setStationName("Rock & Roll <Radio>");
    newTitle("Artist - Plain");
    ASSERT_TRUE(waitUntil([&] { return server_.shown.size() == 1; }));
    EXPECT_EQ(server_.shown[0].body, QStringLiteral("Rock & Roll <Radio>"));

    server_.capabilities << QStringLiteral("body-markup");
    notifier_ = std::make_unique<TrackNotifier>(*desktop_, *app_, bus_.connect(QStringLiteral("second-client")));
    newTitle("Artist - Marked");
    ASSERT_TRUE(waitUntil([&] { return server_.shown.size() == 2; }));
    EXPECT_EQ(server_.shown[1].body, QStringLiteral("Rock &amp; Roll &lt;Radio&gt;"));
    EXPECT_EQ(server_.shown[1].summary, QStringLiteral("Artist - Marked"));  // a summary is never markup
}

TEST_F(TrackNotifierTest, NothingIsShownWhenSwitchedOffOrForAnEmptyTitle) {
    desktop_->hideToTray();
    app_->settings().setBool(TrackNotifier::kSettingKey, false);
    newTitle("Artist - Quiet");
    app_->settings().setBool(TrackNotifier::kSettingKey, true);
    newTitle("");
    settle();
    EXPECT_TRUE(server_.shown.empty());
}

bool hasDunst() { return access("/usr/bin/dunst", X_OK) == 0 && access("/usr/bin/dunstctl", X_OK) == 0; }

// A notification server from the desktop (dunst, which reads markup) on an X
// display and a bus of the test's own; what it showed is read back from its
// history.
using RealNotificationServerTest = DesktopTest;

TEST_F(RealNotificationServerTest, ShowsAStationNameOfMarkupCharactersAsText) {
    if (!hasDunst() || !test::XDisplay::available()) {
        GTEST_SKIP() << "needs dunst and Xvfb (scripts/install-deps.sh)";
    }
    test::XDisplay display;
    ASSERT_TRUE(display.start());
    test::PrivateBus bus;
    ASSERT_FALSE(bus.address().empty());
    std::ofstream(home_.file("dunstrc")) << "[global]\n    markup = full\n";
    const std::vector<std::string> env = {"DISPLAY=" + display.name(), "DBUS_SESSION_BUS_ADDRESS=" + bus.address()};
    test::ChildProcess dunst("/usr/bin/dunst", {"-conf", home_.file("dunstrc")}, env);
    QDBusConnection client = bus.connect();
    ASSERT_TRUE(waitUntil([&] {
        return client.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")).value();
    })) << dunst.err();
    TrackNotifier notifier(*desktop_, *app_, client);
    desktop_->commands().playSource("http://radio/live");
    ASSERT_TRUE(waitForState(Player::State::Playing));
    desktop_->hideToTray();
    app_->streamInfo()->setStationName("Rock & Roll <Radio>");
    app_->streamInfo()->setTitle("Artist - Song");
    window().refreshDisplay(DisplayPart::Texts);

    // The history holds what was closed, each as the markup dunst drew.
    std::string history;
    ASSERT_TRUE(waitUntil([&] {
        test::runProcess("/usr/bin/dunstctl", {"close-all"}, env, 5s);
        history = test::runProcess("/usr/bin/dunstctl", {"history"}, env, 5s).out;
        return history.find("Artist - Song") != std::string::npos;
    }, 10s)) << history << dunst.err();
    EXPECT_NE(history.find("Rock &amp; Roll &lt;Radio&gt;"), std::string::npos) << history;
    EXPECT_EQ(dunst.err().find("Unable to parse markup"), std::string::npos) << dunst.err();
    player().stop();
    ASSERT_TRUE(waitForState(Player::State::Idle));
}

}  // namespace
}  // namespace korvanel

#include "track_notifier_test.moc"
