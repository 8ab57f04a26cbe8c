#include "ui/peak_meter.h"

#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace korvanel {
namespace {

constexpr std::uint32_t kFull = 0x8000;
constexpr std::uint32_t both(std::uint32_t left, std::uint32_t right) {
    return left | (right << 16);
}

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

class PeakMeterTest : public ::testing::Test {
protected:
    PeakMeterTest() {
        meter.setColours(top, bottom, background);
        meter.setLevelSource([this] { return level; });
        meter.setVolumeSource([this] { return volume; });
    }

    QRgb pixel(int x, int y) const { return meter.picture().pixel(x, y); }
    int paintedRows(int x) const {
        int rows = 0;
        for (int y = 0; y < PeakMeter::kHeightPx; ++y) {
            rows += pixel(x, y) != background.rgb() ? 1 : 0;
        }
        return rows;
    }

    const QColor top{200, 100, 0};
    const QColor bottom{0, 100, 200};
    const QColor background{10, 20, 30};
    std::uint32_t level = 0;
    double volume = 1.0;
    PeakMeter meter;
};

TEST_F(PeakMeterTest, RisesAtOnceAndFallsByFourFifthsPerTick) {
    meter.setActive(true);
    level = both(kFull, kFull / 2);
    meter.tick();
    EXPECT_DOUBLE_EQ(meter.leftLevel(), 1.0);
    EXPECT_DOUBLE_EQ(meter.rightLevel(), 0.5);
    level = 0;
    meter.tick();
    EXPECT_DOUBLE_EQ(meter.leftLevel(), 0.8);
    meter.tick();
    EXPECT_DOUBLE_EQ(meter.leftLevel(), 0.64);
    EXPECT_DOUBLE_EQ(meter.rightLevel(), 0.32);

    // Beyond full scale is full scale; the volume scales when asked to.
    level = both(0xffff, kFull);
    volume = 0.5;
    meter.setAdjustByVolume(true);
    meter.setActive(false);
    meter.setActive(true);
    meter.tick();
    EXPECT_DOUBLE_EQ(meter.leftLevel(), 0.5);
    meter.setActive(false);
    meter.setActive(true);
    volume = std::numeric_limits<double>::quiet_NaN();
    meter.tick();
    EXPECT_EQ(meter.leftLevel(), 0.0);
}

TEST_F(PeakMeterTest, BarsShadeFromBottomToTopColourWithAGapColumn) {
    meter.setActive(true);
    level = both(kFull, kFull / 2);
    meter.tick();
    constexpr int h = PeakMeter::kHeightPx;
    EXPECT_EQ(pixel(0, 0), top.rgb());
    EXPECT_EQ(pixel(9, 0), top.rgb());
    // The lowest row is 1/138 of the way from the bottom colour to the top.
    EXPECT_EQ(pixel(0, h - 1), qRgb(200 / h, 100, (200 * (h - 1)) / h));
    EXPECT_EQ(paintedRows(10), 0);  // the gap
    EXPECT_EQ(paintedRows(11), h / 2);
    EXPECT_EQ(paintedRows(20), h / 2);
    // A row has the same colour whatever the bar's height.
    EXPECT_EQ(pixel(20, h - 1), pixel(0, h - 1));
    EXPECT_EQ(pixel(20, h / 2 - 1), background.rgb());
    // What the widget paints is that picture.
    EXPECT_EQ(meter.grab().toImage().convertToFormat(QImage::Format_RGB32), meter.picture());
}

TEST_F(PeakMeterTest, OnlyWholeRowsArePainted) {
    meter.setActive(true);
    level = both(237, 238);  // just under and just over 1/138 of full scale
    meter.tick();
    EXPECT_EQ(paintedRows(0), 0);
    EXPECT_EQ(paintedRows(20), 1);
}

TEST_F(PeakMeterTest, TicksOnlyWhileActiveAndShownAndInactiveShowsTheBackground) {
    meter.setActive(true);
    EXPECT_FALSE(meter.isTicking());
    meter.show();
    EXPECT_TRUE(meter.isTicking());
    level = both(kFull, kFull);
    EXPECT_TRUE(QTest::qWaitFor([&] { return meter.leftLevel() == 1.0; }, 2000));
    level = 0;
    EXPECT_TRUE(QTest::qWaitFor([&] { return meter.leftLevel() < 0.9; }, 2000));
    meter.hide();
    EXPECT_FALSE(meter.isTicking());
    meter.show();
    EXPECT_TRUE(meter.isTicking());
    meter.setActive(false);
    EXPECT_FALSE(meter.isTicking());

    // Inactive: the background alone, whatever ticks.
    meter.tick();
    EXPECT_EQ(meter.leftLevel(), 0.0);
    QImage plain(meter.picture().size(), meter.picture().format());
    plain.fill(background);
    EXPECT_EQ(meter.picture(), plain);
}

TEST_F(PeakMeterTest, RepaintsOnlyWhenABarChangesByARow) {
    PaintCounter counter;
    meter.installEventFilter(&counter);
    meter.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&meter));
    meter.setActive(true);
    level = both(kFull / 2, kFull / 2);
    meter.tick();
    QTest::qWait(40);
    const int afterRise = counter.paints;
    EXPECT_GT(afterRise, 0);
    QTest::qWait(60);  // the same level tick after tick
    EXPECT_EQ(counter.paints, afterRise);

    level = 0;
    for (int i = 0; i < 40; ++i) {
        meter.tick();
    }
    QTest::qWait(40);
    ASSERT_EQ(paintedRows(0), 0);
    const int afterFall = counter.paints;
    EXPECT_GT(afterFall, afterRise);
    QTest::qWait(60);  // silence: the timer polls but nothing is drawn
    EXPECT_EQ(counter.paints, afterFall);
}

}  // namespace
}  // namespace korvanel
