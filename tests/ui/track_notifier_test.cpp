// Track notifications sent to a notification service of the test's own on
// a bus of its own, as the desktop's would receive them.
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QVariantMap>

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

public Q_SLOTS:
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

TEST_F(TrackNotifierTest, NothingIsShownWhenSwitchedOffOrForAnEmptyTitle) {
    desktop_->hideToTray();
    app_->settings().setBool(TrackNotifier::kSettingKey, false);
    newTitle("Artist - Quiet");
    app_->settings().setBool(TrackNotifier::kSettingKey, true);
    newTitle("");
    settle();
    EXPECT_TRUE(server_.shown.empty());
}

}  // namespace
}  // namespace korvanel

#include "track_notifier_test.moc"
