#include "ui/hyperlink_label.h"

#include <QAccessible>
#include <QAction>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace korvanel {
namespace {

bool paintsColour(QWidget& widget, QColor colour) {
    const QImage image = widget.grab().toImage();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y).rgb() == colour.rgb()) {
                return true;
            }
        }
    }
    return false;
}

class HyperlinkLabelTest : public ::testing::Test {
protected:
    HyperlinkLabelTest() {
        label.setOpener([this](const QUrl& url) { opened.push_back(url); });
    }

    HyperlinkLabel label{QStringLiteral("http://radio.example/"), QColor(200, 0, 0)};
    std::vector<QUrl> opened;
};

TEST_F(HyperlinkLabelTest, LongTextIsCappedInWidthButKeptWholeForScreenReaders) {
    const QString longText = QStringLiteral("http://radio.example/") + QString(300, u'x');
    label.setText(longText);
    label.adjustSize();
    EXPECT_EQ(label.width(), HyperlinkLabel::kMaxWidthPx);
    EXPECT_LE(label.sizeHint().width(), HyperlinkLabel::kMaxWidthPx);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&label);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->text(QAccessible::Name), longText);
}

TEST_F(HyperlinkLabelTest, ClickOpensItsOwnTextAndTurnsToTheVisitedColour) {
    label.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&label));
    EXPECT_TRUE(paintsColour(label, QColor(200, 0, 0)));
    QSignalSpy openedSignal(&label, &HyperlinkLabel::linkOpened);

    QTest::mouseClick(&label, Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl(QStringLiteral("http://radio.example/")));
    EXPECT_EQ(openedSignal.count(), 1);
    EXPECT_EQ(label.colour(), HyperlinkLabel::kVisitedColour);
    EXPECT_TRUE(paintsColour(label, HyperlinkLabel::kVisitedColour));

    // A press dragged off the label before release is no click.
    QTest::mousePress(&label, Qt::LeftButton);
    QTest::mouseRelease(&label, Qt::LeftButton, {}, QPoint(-20, -20));
    EXPECT_EQ(opened.size(), 1u);
}

// A window's Space shortcut (play or stop) leaves the focused link its keys.
TEST_F(HyperlinkLabelTest, ItsKeysComeBeforeTheWindowsShortcuts) {
    QWidget window;
    label.setParent(&window);
    QAction shortcut(&window);
    shortcut.setShortcut(QKeySequence(Qt::Key_Space));
    shortcut.setShortcutContext(Qt::WindowShortcut);
    window.addAction(&shortcut);
    QSignalSpy fired(&shortcut, &QAction::triggered);
    label.setTarget(QStringLiteral("http://radio.example/"));
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    label.setFocus();
    QTest::keyClick(&label, Qt::Key_Space);
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_EQ(fired.count(), 0);
    label.setParent(nullptr);
}

TEST_F(HyperlinkLabelTest, OnlyWebAddressesEverOpen) {
    label.setTarget(QStringLiteral("HTTPS://Station.example/page"));
    QTest::keyClick(&label, Qt::Key_Return);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].scheme(), QStringLiteral("https"));

    for (const char* target : {"file:///etc/passwd", "javascript:alert(1)", "ftp://host/x",
                               "http://", "station.example", "smb://host/share"}) {
        label.setTarget(QString::fromUtf8(target));
        label.activate();
        EXPECT_TRUE(label.linkUrl().isEmpty()) << target;
    }
    label.setTarget({});
    label.setText(QStringLiteral("Korvanel & friends"));
    label.activate();
    EXPECT_EQ(opened.size(), 1u);
}

}  // namespace
}  // namespace korvanel
