#include "ui/timer_registry.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace korvanel {
namespace {

TEST(TimerRegistry, OneTimerPerMessageKeepsTheFirstInterval) {
    TimerRegistry timers;
    EXPECT_TRUE(timers.start(2031, 15));
    EXPECT_FALSE(timers.start(2031, 500));
    EXPECT_EQ(timers.intervalMs(2031), 15);
    EXPECT_TRUE(timers.start(2032, 500));
    // A zero interval would spin the event loop.
    EXPECT_FALSE(timers.start(7, 0));
    EXPECT_FALSE(timers.start(7, -1));
    EXPECT_FALSE(timers.isRunning(7));

    timers.stop(999);
    timers.stop(2031);
    EXPECT_FALSE(timers.isRunning(2031));
    EXPECT_EQ(timers.intervalMs(2031), -1);
    EXPECT_TRUE(timers.isRunning(2032));
    EXPECT_TRUE(timers.start(2031, 40));
    EXPECT_EQ(timers.intervalMs(2031), 40);
}

TEST(TimerRegistry, FiresItsMessageUntilAHandlerStopsIt) {
    TimerRegistry timers;
    QSignalSpy fired(&timers, &TimerRegistry::fired);
    int ticks = 0;
    QObject::connect(&timers, &TimerRegistry::fired, &timers, [&](int message) {
        if (++ticks == 3) {
            timers.stop(message);  // from inside the timer's own signal
        }
    });
    ASSERT_TRUE(timers.start(5, 1));
    QTest::qWait(60);
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(timers.isRunning(5));
    ASSERT_EQ(fired.count(), 3);
    EXPECT_EQ(fired.at(0).at(0).toInt(), 5);
    EXPECT_TRUE(timers.start(5, 1));  // the stopped timer is gone, not in the way
}

}  // namespace
}  // namespace korvanel
