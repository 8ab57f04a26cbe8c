#include "ui/log_window.h"

#include <QFile>
#include <QMenu>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace korvanel {
namespace {

constexpr qsizetype kStampLength = 12;  // "HH:mm:ss :: "

QStringList messages(LogWindow& log) {
    log.flushPendingLines();
    QStringList texts = log.lines();
    for (QString& text : texts) {
        text.remove(0, kStampLength);
    }
    return texts;
}

int kindOfRow(const LogWindow& log, int row) {
    return log.model().index(row).data(LogLineModel::kKindRole).toInt();
}

void sendMouse(QWidget& target, QEvent::Type type, QPoint at, Qt::MouseButtons held) {
    QMouseEvent event(type, at, target.mapToGlobal(at), Qt::LeftButton, held, {});
    QApplication::sendEvent(&target, &event);
}

TEST(LogWindow, LinesTakeTheirKindsColoursAcrossTheWholeRow) {
    LogWindow log;
    log.setLineKind(LogWindow::kErrorLine);
    log.addLine(QStringLiteral("a"));
    log.addLine(QStringLiteral("b"));
    log.setLineKind(9);  // unknown kinds change nothing
    log.addLine(LogWindow::kPlaybackStartLine, QStringLiteral("c"));
    log.addLine(QStringLiteral("d"));
    log.flushPendingLines();
    ASSERT_EQ(log.model().rowCount(), 4);
    EXPECT_EQ(kindOfRow(log, 0), 1);
    EXPECT_EQ(kindOfRow(log, 2), 3);
    EXPECT_EQ(kindOfRow(log, 3), 1);
    EXPECT_EQ(log.model().index(1).data(Qt::ForegroundRole).value<QColor>(),
              QColor(0xc0, 0x30, 0x30));

    log.showLog();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&log));
    const QImage image = log.grab().toImage();
    const QWidget* viewport = log.findChild<QListView*>()->viewport();
    const QPoint row2 = viewport->mapTo(&log, QPoint(0, 2 * 16 + 8));
    EXPECT_EQ(image.pixelColor(row2.x() + 1, row2.y()), QColor(0xef, 0xb5, 0x37));
    EXPECT_EQ(image.pixelColor(row2.x() + viewport->width() - 2, row2.y()),
              QColor(0xef, 0xb5, 0x37));
    const QPoint row0 = viewport->mapTo(&log, QPoint(viewport->width() - 2, 8));
    EXPECT_EQ(image.pixelColor(row0), QColor(Qt::white));
}

TEST(LogWindow, MessagesAreStampedAndCutOnACharacterBoundary) {
    LogWindow log;
    log.addLine(QStringLiteral("Rock & Roll"));
    log.addLine(QString(1020, u'a') + u'€');  // exactly 1023 bytes
    log.addLine(QString(1021, u'a') + u'€');  // the euro sign would end at byte 1024
    log.addLine(QString(1022, u'a') + QStringLiteral("😀"));
    log.addLine(QStringLiteral("one\ntwo\r\n"));
    log.addLine(QString(100 * 1024, u'x'));
    const QStringList texts = messages(log);
    ASSERT_EQ(texts.size(), 6);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d :: Rock & Roll$"))
                    .match(log.lines()[0])
                    .hasMatch());
    EXPECT_EQ(texts[1], QString(1020, u'a') + u'€');
    EXPECT_EQ(texts[2], QString(1021, u'a'));
    EXPECT_EQ(texts[3], QString(1022, u'a'));
    EXPECT_EQ(texts[4], QStringLiteral("one two  "));
    EXPECT_EQ(texts[5].size(), LogWindow::kMaxMessageBytes);
}

TEST(LogWindow, SavesStampAndMessagePerLineReplacingTheFile) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("log.txt"));
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(5000, 'z'));
    old.close();

    LogWindow log;
    log.addLine(LogWindow::kErrorLine, QStringLiteral("Connection failed"));
    log.addLine(LogWindow::kTrackTitleLine, QStringLiteral("Artist – Title"));
    log.addLine(QStringLiteral("Stopped"));
    ASSERT_TRUE(log.saveTo(path));

    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(saved.readAll());
    const QRegularExpression expected(QStringLiteral(
        "^\\d\\d:\\d\\d:\\d\\d :: Connection failed\n\\d\\d:\\d\\d:\\d\\d :: Artist – Title\n"
        "\\d\\d:\\d\\d:\\d\\d :: Stopped\n$"));
    EXPECT_TRUE(expected.match(text).hasMatch()) << text.toStdString();
    EXPECT_FALSE(log.saveTo(folder.filePath(QStringLiteral("missing/log.txt"))));
}

TEST(LogWindow, LinesFromManyThreadsArriveInOrderAndWithinTheCap) {
    LogWindow log;
    constexpr int kThreads = 4;
    constexpr int kLinesEach = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&log, t] {
            for (int n = 0; n < kLinesEach; ++n) {
                log.addLine(t, QStringLiteral("%1 %2").arg(t).arg(n));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    // Delivered by the batch timer, not by hand.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return log.model().rowCount() == kThreads * kLinesEach; }, 5000));
    std::vector<int> next(kThreads, 0);
    const QStringList texts = messages(log);
    for (int row = 0; row < texts.size(); ++row) {
        const QStringList parts = texts[row].split(u' ');
        const int t = parts[0].toInt();
        EXPECT_EQ(parts[1].toInt(), next[static_cast<std::size_t>(t)]++);
        EXPECT_EQ(kindOfRow(log, row), t);
    }

    for (qsizetype n = 0; n < LogWindow::kMaxLines + 5; ++n) {
        log.addLine(QString::number(n));
    }
    const QStringList capped = messages(log);
    ASSERT_EQ(capped.size(), LogWindow::kMaxLines);
    EXPECT_EQ(capped.front(), QStringLiteral("5"));
    log.clear();
    EXPECT_EQ(log.model().rowCount(), 0);
}

TEST(LogWindow, PlacementSkipsUnsetAndUnreachablePositionsAndMinimisedMoves) {
    LogWindow log;
    log.setPlacement(LogWindow::kNoPosition, 50, 300, 200);
    EXPECT_EQ(log.recordedPosition(), QPoint(LogWindow::kNoPosition, LogWindow::kNoPosition));
    EXPECT_EQ(log.recordedSize(), QSize(300, 200));
    log.setPlacement(100000, 100000, 0, 0);  // on no screen
    EXPECT_EQ(log.recordedPosition(), QPoint(LogWindow::kNoPosition, LogWindow::kNoPosition));
    log.setPlacement(40, 60, 1000000, 1000000);
    EXPECT_EQ(log.recordedPosition(), QPoint(40, 60));
    EXPECT_LE(log.recordedSize().width(), log.screen()->availableGeometry().width());
    log.setPlacement(40, 60, 300, 200);

    log.showLog();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&log));
    log.move(70, 80);
    EXPECT_EQ(log.recordedPosition(), QPoint(70, 80));
    log.showMinimized();
    log.move(LogWindow::kNoPosition + 1, LogWindow::kNoPosition + 1);
    log.resize(10, 10);
    EXPECT_EQ(log.recordedPosition(), QPoint(70, 80));
    EXPECT_EQ(log.recordedSize(), QSize(300, 200));
}

TEST(LogWindow, ShowsHidesAndKeepsItsPlaceWhenPutOnTop) {
    LogWindow log;
    QSignalSpy visibility(&log, &LogWindow::visibilityChanged);
    log.setPlacement(60, 70, 300, 200);
    log.showLog();
    log.showLog();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&log));
    EXPECT_EQ(visibility.count(), 1);

    QMenu* menu = log.findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    menu->actions()[0]->trigger();  // "Always On Top"
    EXPECT_TRUE(log.isOnTop());
    EXPECT_TRUE(log.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(log.isVisible());
    EXPECT_EQ(log.pos(), QPoint(60, 70));

    QTest::keyClick(&log, Qt::Key_Escape);
    EXPECT_FALSE(log.isLogVisible());
    EXPECT_FALSE(log.isVisible());
    log.showLog();
    EXPECT_FALSE(log.close());  // closing hides; the window stays
    EXPECT_FALSE(log.isLogVisible());
    EXPECT_EQ(visibility.count(), 4);
    EXPECT_FALSE(visibility.last().at(0).toBool());
}

TEST(LogWindow, DraggingTheListMovesTheWindowAndDoubleClickMaximises) {
    LogWindow log;
    log.setPlacement(50, 50, 300, 200);
    log.showLog();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&log));
    QWidget& viewport = *log.findChild<QListView*>()->viewport();
    // The offscreen platform cannot move windows itself; the window follows
    // the cursor by hand there.
    sendMouse(viewport, QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton);
    sendMouse(viewport, QEvent::MouseMove, {40, 30}, Qt::LeftButton);
    sendMouse(viewport, QEvent::MouseButtonRelease, {40, 30}, Qt::NoButton);
    EXPECT_EQ(log.pos(), QPoint(80, 70));

    sendMouse(viewport, QEvent::MouseButtonDblClick, {10, 10}, Qt::LeftButton);
    EXPECT_TRUE(log.isMaximized());
    sendMouse(viewport, QEvent::MouseButtonDblClick, {10, 10}, Qt::LeftButton);
    EXPECT_FALSE(log.isMaximized());
    EXPECT_EQ(log.recordedPosition(), QPoint(80, 70));
}

}  // namespace
}  // namespace korvanel
