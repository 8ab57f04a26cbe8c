#include "ui/main_window.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "app/application.h"
#include "base/window_event.h"
#include "frontend/play_history.h"
#include "stream/playlist_resolver.h"
#include "tests/support/fake_audio_library.h"
#include "tests/support/http_test_server.h"
#include "tests/support/temp_folder.h"
#include "ui/desktop_window.h"
#include "tests/ui/desktop_test_fixture.h"

namespace korvanel {
namespace {

using MainWindowTest = DesktopTest;

TEST_F(MainWindowTest, DisplayFollowsThePlayerFromIdleToPlayingAndBack) {
    window().refreshDisplay(DisplayPart::All);
    EXPECT_TRUE(window().playButton().isEnabled());
    EXPECT_FALSE(window().stopButton().isEnabled());
    EXPECT_EQ(window().stateLabel().text(), QStringLiteral("Not Playing"));
    EXPECT_EQ(window().windowTitle(), QStringLiteral("Korvanel Radio v0.3.6"));
    EXPECT_EQ(window().stationUrlLabel().text(), QString::fromLatin1(DisplayModel::kHomePage));
    EXPECT_EQ(window().statusPart(0).text(), QStringLiteral(" Idling.."));
    EXPECT_EQ(window().recordButton().text(), QStringLiteral("&Rec"));
    EXPECT_EQ(window().muteButton().text(), QStringLiteral("&Mute"));
    EXPECT_FALSE(window().timers().isRunning(MainWindow::kStatusTick));
    EXPECT_FALSE(window().meter().isActive());

    app_->streamInfo()->setStationName("Rock & Roll Radio");
    desktop_->commands().playSource("http://radio/live");
    ASSERT_TRUE(waitForState(Player::State::Playing));
    ASSERT_TRUE(waitUntil([&] { return window().statusPart(0).text() == QStringLiteral(" Playing.."); }));
    EXPECT_FALSE(window().playButton().isEnabled());
    EXPECT_TRUE(window().stopButton().isEnabled());
    EXPECT_EQ(window().stateLabel().text(), QStringLiteral("No Title"));
    EXPECT_TRUE(window().statusPart(2).text().startsWith(QStringLiteral(" 00:0")));
    EXPECT_TRUE(window().timers().isRunning(MainWindow::kStatusTick));
    EXPECT_TRUE(window().meter().isActive());

    app_->streamInfo()->setTitle("Artist & Band - Song");
    window().refreshDisplay(DisplayPart::Texts);
    EXPECT_EQ(window().stateLabel().text(), QStringLiteral("Artist & Band - Song"));
    EXPECT_EQ(window().windowTitle(), QStringLiteral("Artist & Band - Song"));

    window().muteButton().click();
    EXPECT_EQ(window().muteButton().text(), QStringLiteral("Un&mute"));
    window().muteButton().click();
    EXPECT_EQ(window().muteButton().text(), QStringLiteral("&Mute"));

    window().stopButton().click();
    ASSERT_TRUE(waitForState(Player::State::Idle));
    ASSERT_TRUE(waitUntil([&] { return window().stateLabel().text() == QStringLiteral("Not Playing"); }));
    EXPECT_TRUE(window().playButton().isEnabled());
    EXPECT_FALSE(window().timers().isRunning(MainWindow::kStatusTick));
    EXPECT_FALSE(window().meter().isActive());
}

TEST_F(MainWindowTest, StatusBarPartsEndAt80And280WhateverTheyShow) {
    desktop_->setStatusText(1, std::string(2000, 'a'));
    desktop_->setStatusText(0, " Connecting..");
    settle();
    EXPECT_EQ(window().statusPart(1).text().size(), 2000);
    // 80 and 280 pixels at 6 pixels a character, more with a larger font.
    const int first = window().statusPart(0).geometry().right() + 1;
    const int second = window().statusPart(1).geometry().right() + 1;
    EXPECT_GE(first, 80);
    EXPECT_NEAR(second * 80.0 / first, 280.0, 3.0);
    EXPECT_EQ(window().statusPart(2).geometry().right() + 3, window().width());
}

TEST_F(MainWindowTest, ConnectingShowsItselfAndAStopUnderWayKeepsTheWindowTitle) {
    library_->holdOpens();
    desktop_->commands().playSource("http://radio/live");
    ASSERT_TRUE(library_->waitForHeldOpen(5s));
    window().refreshDisplay(DisplayPart::All);
    EXPECT_EQ(window().stateLabel().text(), QStringLiteral("Connecting"));
    EXPECT_EQ(window().statusPart(0).text(), QStringLiteral(" Connecting.."));
    EXPECT_EQ(window().windowTitle(), QStringLiteral("Korvanel Radio v0.3.6"));
    EXPECT_FALSE(window().playButton().isEnabled());
    EXPECT_TRUE(window().stopButton().isEnabled());
    window().setWindowTitle(QStringLiteral("What it showed"));
    player().stop();
    ASSERT_EQ(player().state(), Player::State::StopRequested);
    window().refreshDisplay(DisplayPart::All);
    EXPECT_EQ(window().stateLabel().text(), QStringLiteral("Aborting Connect"));
    EXPECT_EQ(window().statusPart(0).text(), QStringLiteral(" Aborting.."));
    EXPECT_FALSE(window().playButton().isEnabled());
    EXPECT_FALSE(window().stopButton().isEnabled());
    EXPECT_EQ(window().windowTitle(), QStringLiteral("What it showed"));
    library_->releaseOpens();
    ASSERT_TRUE(waitForState(Player::State::Idle));
}

TEST_F(MainWindowTest, TheVolumeSliderMovesThePlayerAndTheStoredVolume) {
    QSlider& slider = window().volumeSlider();
    EXPECT_EQ(slider.value(), 0);  // the default volume 100 is the top
    slider.triggerAction(QAbstractSlider::SliderToMaximum);
    ASSERT_TRUE(waitUntil([&] { return app_->settings().getInt("Session/Volume") == 0; }));
    EXPECT_DOUBLE_EQ(player().volume(), 0.0);
    slider.setSliderPosition(10);
    slider.triggerAction(QAbstractSlider::SliderMove);
    ASSERT_TRUE(waitUntil([&] { return app_->settings().getInt("Session/Volume") == 50; }));
    EXPECT_NEAR(player().volume(), 0.5, 1e-9);
    slider.triggerAction(QAbstractSlider::SliderToMinimum);
    ASSERT_TRUE(waitUntil([&] { return app_->settings().getInt("Session/Volume") == 100; }));
    EXPECT_DOUBLE_EQ(player().volume(), 1.0);
}

TEST_F(MainWindowTest, UnknownAndOffScreenPositionsCentreTheWindow) {
    const QRect screen = window().screen()->availableGeometry();
    const auto centred = [&] {
        const QRect frame = window().frameGeometry();
        return std::abs(frame.center().x() - screen.center().x()) <= 1 &&
               std::abs(frame.center().y() - screen.center().y()) <= 1;
    };
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{{-32000, 40}, {40, -32000}, {50000, 50000}}) {
        app_->settings().setPoint("Session/Position", x, y);
        window().applySettings(app_->settings());
        window().placeAtStoredPosition();
        EXPECT_TRUE(centred()) << x << "," << y;
    }
    app_->settings().setPoint("Session/Position", 30, 20);
    window().applySettings(app_->settings());
    window().placeAtStoredPosition();
    QTest::qWait(10);
    EXPECT_EQ(window().frameGeometry().topLeft(), QPoint(30, 20));
    desktop_->collectSettings(app_->settings());
    EXPECT_EQ(app_->settings().getPoint("Session/Position"), (SettingPoint{30, 20}));
}

TEST_F(MainWindowTest, HostileTextsNeitherCrashNorResizeTheWindow) {
    const QSize size = window().size();
    desktop_->commands().playSource("http://radio/live");
    ASSERT_TRUE(waitForState(Player::State::Playing));
    app_->streamInfo()->setStationName(std::string(10000, 'W'));
    app_->streamInfo()->setStationUrl("https://example.org/" + std::string(5000, 'u'));
    // Control characters, a right-to-left override and Arabic text.
    app_->streamInfo()->setTitle("\x01\x07\x1b[31m \xe2\x80\xae \xd9\x85\xd8\xb1\xd8\xad\xd8\xa8\xd8\xa7 <b>bold</b>");
    window().refreshDisplay(DisplayPart::All);
    settle();
    EXPECT_EQ(window().size(), size);
    EXPECT_EQ(window().stationNameLabel().text().size(), 10000);
    // Shown, not rendered: a label takes what it was given whatever it shows,
    // so only its format tells.
    for (QLabel* label : {&window().stateLabel(), &window().stationNameLabel(), &window().descriptionLabel()}) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->accessibleDescription().toStdString();
    }
    EXPECT_LE(window().stationUrlLabel().width(), HyperlinkLabel::kMaxWidthPx);
    desktop_->addLogLine(LogKind::Normal, std::string(100 * 1024, 'x'));
    desktop_->logWindow().flushPendingLines();
    EXPECT_EQ(window().size(), size);
    player().stop();
    ASSERT_TRUE(waitForState(Player::State::Idle));
}

TEST_F(MainWindowTest, DroppedTextBecomesTheOneSourceAndPlays) {
    app_->streamInfo()->setStationName("Old station");
    QMimeData data;
    data.setText(QStringLiteral("http://radio/live\n"));
    // Qt delivers a drop only to the widget that accepted the drag's entry.
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    ASSERT_TRUE(waitForState(Player::State::Playing));
    EXPECT_EQ(app_->playlistResolver().currentAddress(), "http://radio/live");
    EXPECT_EQ(app_->streamInfo()->stationName(), "");
    player().stop();
    ASSERT_TRUE(waitForState(Player::State::Idle));
}

TEST_F(MainWindowTest, EventsReachTheLogWindowAndTheSessionIsCollected) {
    ASSERT_TRUE(waitUntil([&] {
        desktop_->logWindow().flushPendingLines();
        return !desktop_->logWindow().lines().isEmpty();
    }));
    EXPECT_TRUE(desktop_->logWindow().lines().front().endsWith(QStringLiteral(" :: Korvanel Radio v0.3.6 Started")));

    desktop_->commands().playSource("http://radio/live");
    ASSERT_TRUE(waitForState(Player::State::Playing));
    ASSERT_TRUE(waitUntil([&] { return !desktop_->events().history().empty(); }));
    desktop_->logWindow().showLog();
    desktop_->collectSettings(app_->settings());
    EXPECT_EQ(app_->settings().getString("Session/History/H00_Source"), "http://radio/live");
    EXPECT_TRUE(app_->settings().getBool("Session/LogWindow"));
    // The colours go back through the colour setter, so the file gets "#".
    EXPECT_EQ(app_->settings().getText("PeakMeter/ColorA", SettingType::Color), "#f6f4d8");
    player().stop();
    ASSERT_TRUE(waitForState(Player::State::Idle));
}

// The action of the menu bar whose path of captions is given.
QAction* menuAction(QMenuBar& bar, const std::vector<QString>& path) {
    QList<QAction*> actions = bar.actions();
    for (std::size_t depth = 0; depth < path.size(); ++depth) {
        QAction* found = nullptr;
        for (QAction* action : actions) {
            if (action->text() == path[depth]) {
                found = action;
            }
        }
        if (found == nullptr || depth + 1 == path.size()) {
            return found;
        }
        if (found->menu() == nullptr) {
            return nullptr;
        }
        actions = found->menu()->actions();
    }
    return nullptr;
}

TEST_F(MainWindowTest, MenusShowTheCoreAndTheirItemsRunCommands) {
    std::ofstream(home_.file("favorites.xml")) << R"(<Favorites>
   <Station title="Live &amp; Loud" url="https://live.example/"><Source>http://radio/live</Source></Station>
</Favorites>)";
    window().runCommand(command::kReloadFavorites);
    settle();
    QAction* station = menuAction(window().menus(), {QStringLiteral("F&avorites"), QStringLiteral("Live && Loud")});
    ASSERT_NE(station, nullptr);
    station->trigger();
    ASSERT_TRUE(waitForState(Player::State::Playing));
    ASSERT_TRUE(waitUntil([&] { return window().windowTitle() == QStringLiteral("Live & Loud"); }));
    // The history lists it once it played.
    ASSERT_TRUE(waitUntil([&] {
        return menuAction(window().menus(), {QStringLiteral("&File"), QStringLiteral("&History"),
                                             QStringLiteral("&a. Live && Loud")}) != nullptr;
    }));
    QAction* log = menuAction(window().menus(), {QStringLiteral("&Window"), QStringLiteral("&Log")});
    ASSERT_NE(log, nullptr);
    EXPECT_FALSE(log->isChecked());
    log->trigger();
    ASSERT_TRUE(waitUntil([&] { return desktop_->logWindow().isLogVisible(); }));
    QAction* shown = menuAction(window().menus(), {QStringLiteral("&Window"), QStringLiteral("&Log")});
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->isChecked());
    player().stop();
    ASSERT_TRUE(waitForState(Player::State::Idle));
}

TEST_F(MainWindowTest, RebuiltMenusLeaveNoOldPopupsBehind) {
    const auto popups = [this] { return window().menus().findChildren<QMenu*>().size(); };
    window().refreshDisplay(DisplayPart::MenuBar);
    settle();
    const qsizetype once = popups();
    ASSERT_GT(once, 5);
    for (int i = 0; i < 20; ++i) {
        window().refreshDisplay(DisplayPart::MenuBar);
    }
    settle();
    EXPECT_EQ(popups(), once);
}

TEST_F(MainWindowTest, ALongStationListFillsItsMenuWhenItIsFirstOpened) {
    std::ofstream favorites(home_.file("favorites.xml"));
    favorites << "<Favorites>";
    for (int i = 1; i <= 500; ++i) {
        favorites << "<Station title=\"Station " << i << "\" url=\"\"><Source>http://radio/live</Source></Station>";
    }
    favorites << "</Favorites>";
    favorites.close();
    window().runCommand(command::kReloadFavorites);
    settle();
    QAction* top = menuAction(window().menus(), {QStringLiteral("F&avorites")});
    ASSERT_NE(top, nullptr);
    ASSERT_NE(top->menu(), nullptr);
    EXPECT_TRUE(top->menu()->isEmpty());
    Q_EMIT top->menu()->aboutToShow();
    // "Add to Favorites" and a line come first.
    ASSERT_EQ(top->menu()->actions().size(), 502);
    top->menu()->actions().at(501)->trigger();
    ASSERT_TRUE(waitForState(Player::State::Playing));
    EXPECT_EQ(app_->streamInfo()->stationName(), "Station 500");
    player().stop();
    ASSERT_TRUE(waitForState(Player::State::Idle));
}

TEST_F(MainWindowTest, TheClipboardTakesCopiesAndPlaysWhatItHolds) {
    app_->streamInfo()->setTitle("Artist - Song");
    window().runCommand(command::kCopyTrack);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("Artist - Song"));
    QGuiApplication::clipboard()->setText(QStringLiteral(" \t http://radio/live\r\n"));
    window().runCommand(command::kPlayFromClipboard);
    ASSERT_TRUE(waitForState(Player::State::Playing));
    EXPECT_EQ(app_->playlistResolver().currentAddress(), "http://radio/live");
    player().stop();
    ASSERT_TRUE(waitForState(Player::State::Idle));
}

TEST_F(MainWindowTest, KeysOfTheWindowShowTheLogPlayTheClipboardAndPlayOrStop) {
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    QTest::keyClick(&window(), Qt::Key_L, Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] { return desktop_->logWindow().isLogVisible(); }));
    // The log takes the focus, and the window's keys with it.
    ASSERT_TRUE(QTest::qWaitForWindowActive(&desktop_->logWindow()));
    QTest::keyClick(&desktop_->logWindow(), Qt::Key_L, Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] { return !desktop_->logWindow().isLogVisible(); }));
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    QGuiApplication::clipboard()->setText(QStringLiteral("http://radio/live"));
    QTest::keyClick(&window(), Qt::Key_V, Qt::ControlModifier);
    ASSERT_TRUE(waitForState(Player::State::Playing));
    // Space stops and plays whichever widget has the focus, even Record.
    ASSERT_TRUE(waitUntil([&] { return window().stopButton().isEnabled(); }));
    window().recordButton().setFocus();
    const bool recording = app_->settings().getBool("Recording/Enabled");
    QTest::keyClick(&window().recordButton(), Qt::Key_Space);
    ASSERT_TRUE(waitForState(Player::State::Idle));
    settle();
    QTest::keyClick(&window().volumeSlider(), Qt::Key_Space);
    ASSERT_TRUE(waitForState(Player::State::Playing));
    EXPECT_EQ(app_->settings().getBool("Recording/Enabled"), recording);
    player().stop();
    ASSERT_TRUE(waitForState(Player::State::Idle));
}

// Escape is the close box wherever the focus is; the log window keeps its
// own Escape, which only hides it.
TEST_F(MainWindowTest, EscapeClosesTheWindowAsTheCloseBoxAndTheLogKeepsItsOwn) {
    QSignalSpy closes(&window(), &MainWindow::closeRequested);
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    QTest::keyClick(&window().playButton(), Qt::Key_Escape);
    QTest::keyClick(&window().volumeSlider(), Qt::Key_Escape);
    EXPECT_EQ(closes.count(), 2);
    desktop_->logWindow().showLog();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&desktop_->logWindow()));
    QTest::keyClick(&desktop_->logWindow(), Qt::Key_Escape);
    EXPECT_FALSE(desktop_->logWindow().isLogVisible());
    EXPECT_EQ(closes.count(), 2);
}

TEST_F(MainWindowTest, ClosingWhileAMessageWaitsForTheUserEndsPromptly) {
    // The box is queued for the GUI thread, which does not run it here: the
    // event worker waits for an answer that never comes.
    desktop_->post(makeEvent(EventKind::Message, "Connect error: nobody home"));
    std::this_thread::sleep_for(50ms);
    const auto start = std::chrono::steady_clock::now();
    app_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

constexpr const char* kHistoryFile = R"(<?xml version="1.0" encoding="ISO-8859-1" standalone="yes"?>
<Korvanel target="Korvanel Radio" version="v0.3.6">
   <General>
      <AutoPlayOnStart type="bool">true</AutoPlayOnStart>
   </General>
   <Session>
      <History>
         <H00_Source type="string">http://radio/live</H00_Source>
         <H00_Title type="string">Last Station</H00_Title>
         <H00_URL type="string">https://last.example/</H00_URL>
         <H01_Source type="string">http://radio/older</H01_Source>
         <H01_Title type="string">Older</H01_Title>
         <H01_URL type="string"></H01_URL>
      </History>
      <Position type="point">-32000,-32000</Position>
      <Volume type="int">50</Volume>
   </Session>
</Korvanel>
)";

class MainWindowStartTest : public MainWindowTest {
protected:
    MainWindowStartTest() : MainWindowTest(kHistoryFile) {}
};

class MainWindowNoTrayTest : public MainWindowTest {
protected:
    MainWindowNoTrayTest()
        : MainWindowTest(R"(<Korvanel><General><TrayOnClose type="bool">true</TrayOnClose></General></Korvanel>)") {}
};

TEST_F(MainWindowNoTrayTest, WithoutATrayCloseStillEndsAndTheLogSaysWhy) {
    ASSERT_FALSE(TrayIcon::available());  // the offscreen platform has none
    desktop_->logWindow().flushPendingLines();
    ASSERT_FALSE(desktop_->logWindow().lines().isEmpty());
    EXPECT_TRUE(desktop_->logWindow().lines().front().endsWith(QStringLiteral("has no system tray: the window stays on the screen.")));
    window().runCommand(command::kHideOrShowWindow);
    EXPECT_TRUE(window().isVisible());
    EXPECT_EQ(desktop_->visibility().state(), WindowVisibility::State::Shown);
    EXPECT_FALSE(desktop_->trayIcon().isShown());
}

TEST_F(MainWindowStartTest, TheLastStationIsLoadedAndPlaysAtStart) {
    EXPECT_EQ(window().volumeSlider().value(), 10);
    EXPECT_EQ(app_->playlistResolver().currentAddress(), "http://radio/live");
    ASSERT_TRUE(waitForState(Player::State::Playing));
    ASSERT_TRUE(waitUntil([&] { return window().windowTitle() == QStringLiteral("Last Station"); }))
        << window().windowTitle().toStdString() << " / " << window().stationNameLabel().text().toStdString() << " / "
        << static_cast<int>(player().state()) << " / " << app_->streamInfo()->stationName();
    EXPECT_EQ(window().stationNameLabel().text(), QStringLiteral("Last Station"));
    EXPECT_EQ(window().stationUrlLabel().text(), QStringLiteral("https://last.example/"));
    player().stop();
    ASSERT_TRUE(waitForState(Player::State::Idle));
}

// The history as the File menu shows it: every start at the front (a repeat
// only collapses there), the playlist's address rather than the stream it
// gave, a bound of "Session/MaxHistoryLength", and an entry chosen there
// plays and moves to the front.
TEST_F(MainWindowTest, TheHistoryMenuFollowsWhatWasPlayed) {
    library_->scriptStream("http://radio/b", liveStream());
    test::HttpTestServer server([](test::HttpTestServer::Connection& connection, const std::string&) {
        connection.send(test::HttpTestServer::okResponse("[playlist]\nFile1=http://radio/live\nNumberOfEntries=1\n"));
    });
    const std::string playlist = server.url("/a-long-playlist-name.pls");  // cut in its caption
    const auto play = [&](const std::string& source) {
        desktop_->commands().playSource(source);
        ASSERT_TRUE(waitForState(Player::State::Playing)) << source;
        // The event worker has taken the connection before the next play
        // resets the playlist address it records.
        ASSERT_TRUE(waitUntil([&] {
            const PlayHistory history = desktop_->events().history();
            return !history.entries().empty() && history.entries().front().source == source;
        })) << source;
        player().stop();
        ASSERT_TRUE(waitForState(Player::State::Idle));
    };
    const auto captions = [&] {
        settle();
        window().refreshDisplay(DisplayPart::MenuBar);
        std::vector<std::string> shown;
        QAction* history = menuAction(window().menus(), {QStringLiteral("&File"), QStringLiteral("&History")});
        for (QAction* entry : history != nullptr && history->menu() ? history->menu()->actions() : QList<QAction*>{}) {
            shown.push_back(entry->text().toStdString());
        }
        return shown;
    };
    play("http://radio/live");
    play("http://radio/live");
    play("http://radio/b");
    play(playlist);
    EXPECT_EQ(captions(), (std::vector<std::string>{"&a. " + playlist.substr(0, 35) + "...", "&b. http://radio/b",
                                                    "&c. http://radio/live"}));
    app_->settings().setInt("Session/MaxHistoryLength", 3);
    play("http://radio/b");
    EXPECT_EQ(captions(), (std::vector<std::string>{"&a. http://radio/b", "&b. " + playlist.substr(0, 35) + "...",
                                                    "&c. http://radio/b"}));
    // The last entry, chosen, plays and comes to the front.
    window().runCommand(command::kHistoryBase + 1);
    ASSERT_TRUE(waitForState(Player::State::Playing));
    EXPECT_EQ(app_->playlistResolver().workingList(), (std::vector<std::string>{"http://radio/live"}));
    player().stop();
    ASSERT_TRUE(waitForState(Player::State::Idle));
    EXPECT_EQ(captions().front(), "&a. " + playlist.substr(0, 35) + "...");
}

// What a listener's files, servers and clipboard may hold, at its worst.
class MainWindowHostileInputTest : public MainWindowTest {
protected:
    MainWindowHostileInputTest()
        // No message boxes: nobody is there to close one, and the failed plays
        // below would raise them at moments of their own.
        : MainWindowTest("<Korvanel><General><DisablePopups type=\"bool\">true</DisablePopups></General>"
                         "<Session><History><H00_Source type=\"string\">http://radio/live</H00_Source>"
                         "<H00_Title type=\"string\">" + std::string(4096, 'W') + "&#9;tab&#10;line</H00_Title>"
                         "<H00_URL type=\"string\"></H00_URL><H01_Source type=\"string\">http://radio/older</H01_Source>"
                         "<H01_Title type=\"string\">One&#9;Two&#13;&#10;Three</H01_Title><H01_URL type=\"string\"></H01_URL>"
                         "</History></Session></Korvanel>") {}
};

TEST_F(MainWindowHostileInputTest, LongNamesHugeListsAndClipboardsAndQuotedEditorsAreTakenSafely) {
    // History names of 4 KB and with control characters: short one-line items.
    QAction* history = menuAction(window().menus(), {QStringLiteral("&File"), QStringLiteral("&History")});
    ASSERT_NE(history, nullptr);
    ASSERT_NE(history->menu(), nullptr);
    const QList<QAction*> entries = history->menu()->actions();
    ASSERT_GE(entries.size(), 2);
    EXPECT_EQ(entries.at(0)->text(), QStringLiteral("&a. ") + QString(35, u'W') + QStringLiteral("..."));
    EXPECT_EQ(entries.at(1)->text(), QStringLiteral("&b. One Two  Three"));

    // 5,000 favourites: the menu holds what its ids allow and stays usable.
    {
        std::ofstream favorites(home_.file("favorites.xml"));
        favorites << "<Favorites>";
        for (int i = 1; i <= 5000; ++i) {
            favorites << "<Station title=\"Station " << i << "\" url=\"\"><Source>http://radio/live</Source></Station>";
        }
        favorites << "</Favorites>";
    }
    window().runCommand(command::kReloadFavorites);
    settle();
    QAction* top = menuAction(window().menus(), {QStringLiteral("F&avorites")});
    ASSERT_NE(top, nullptr);
    const auto opened = std::chrono::steady_clock::now();
    Q_EMIT top->menu()->aboutToShow();
    EXPECT_LT(std::chrono::steady_clock::now() - opened, 2s);
    const QList<QAction*> stations = top->menu()->actions();
    ASSERT_GT(stations.size(), 900);
    EXPECT_LE(stations.size(), 2 + 1000);
    stations.back()->trigger();
    ASSERT_TRUE(waitForState(Player::State::Playing));
    player().stop();
    ASSERT_TRUE(waitForState(Player::State::Idle));

    // A clipboard of 10 MB is no address: the player gives up on it at
    // once. One beyond a download's bound is not even read.
    QGuiApplication::clipboard()->setText(QString(10 * 1024 * 1024, u'x'));
    window().runCommand(command::kPlayFromClipboard);
    EXPECT_EQ(app_->playlistResolver().currentAddress().size(), 10u * 1024 * 1024);
    ASSERT_TRUE(waitUntil([&] { return player().state() == Player::State::Idle; }, 10s));
    QGuiApplication::clipboard()->setText(QString(17 * 1024 * 1024, u'x'));
    window().runCommand(command::kPlayFromClipboard);
    EXPECT_EQ(app_->playlistResolver().currentAddress(), "");
    ASSERT_TRUE(waitUntil([&] { return player().state() == Player::State::Idle; }, 10s));

    // An editor with quotes, semicolons and a dollar: its words reach the
    // program as they are, never through a shell (double quotes group words,
    // as Qt splits commands; single quotes are no quotes there).
    const std::string out = home_.file("editor-arguments.txt");
    const std::string script = home_.file("editor.py");
    test::writeFile(script, "import sys\nopen(sys.argv[1], 'w').write('\\n'.join(sys.argv[2:]))\n");
    app_->settings().setString("General/Editor", "/usr/bin/python3 " + script + " " + out +
                                                     " \"a b\" 'c;d' ;touch $HOME/owned");
    window().runCommand(command::kEditFavorites);
    ASSERT_TRUE(waitUntil([&] { return !test::readFile(out).empty(); }, 10s));
    EXPECT_EQ(test::readFile(out), "a b\n'c;d'\n;touch\n$HOME/owned\n" + home_.file("favorites.xml"));
    EXPECT_FALSE(std::filesystem::exists(home_.file("owned")));
}

}  // namespace
}  // namespace korvanel
