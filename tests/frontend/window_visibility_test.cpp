#include "frontend/window_visibility.h"

#include <gtest/gtest.h>

namespace korvanel {
namespace {

using Action = WindowVisibility::Action;
using State = WindowVisibility::State;

WindowVisibility::Rules withTray() {
    WindowVisibility::Rules rules;
    rules.trayAvailable = true;
    return rules;
}

TEST(WindowVisibility, StartAndCloseHideOnlyWhereATrayCanBringTheWindowBack) {
    WindowVisibility visibility;
    WindowVisibility::Rules rules = withTray();
    EXPECT_EQ(visibility.atStart(rules), Action::Show);
    rules.startHidden = true;
    EXPECT_EQ(visibility.atStart(rules), Action::HideToTray);  // the tray icon stays by default
    rules.persistentTrayIcon = false;
    EXPECT_EQ(visibility.atStart(rules), Action::Show);  // no icon would be there to click
    rules.trayOnMinimize = true;
    EXPECT_EQ(visibility.atStart(rules), Action::HideToTray);
    rules.trayAvailable = false;
    EXPECT_EQ(visibility.atStart(rules), Action::Show);

    rules.trayOnClose = true;
    EXPECT_EQ(visibility.onClose(rules), Action::Exit);  // still no tray
    rules.trayAvailable = true;
    EXPECT_EQ(visibility.onClose(rules), Action::HideToTray);
    rules.trayOnClose = false;
    EXPECT_EQ(visibility.onClose(rules), Action::Exit);
}

TEST(WindowVisibility, MinimiseTogglesAndTheClickGuardFollowTheStates) {
    WindowVisibility visibility;
    WindowVisibility::Rules rules = withTray();
    EXPECT_EQ(visibility.onMinimised(rules), Action::None);
    EXPECT_EQ(visibility.state(), State::Minimised);
    EXPECT_EQ(visibility.onMinimised(rules), Action::None);  // nothing more while minimised
    EXPECT_TRUE(visibility.onRestored());
    EXPECT_FALSE(visibility.onRestored());
    rules.trayOnMinimize = true;
    EXPECT_EQ(visibility.onMinimised(rules), Action::HideToTray);

    EXPECT_EQ(visibility.toggle(rules, 1000), Action::HideToTray);
    visibility.hiddenToTray(1000);
    EXPECT_EQ(visibility.toggle(rules, 1050), Action::None);  // the same click's second half
    EXPECT_EQ(visibility.toggle(rules, 1051), Action::Show);
    visibility.shown(1051);
    EXPECT_EQ(visibility.state(), State::Shown);

    // The icon shows while it is wanted or the window hides in it.
    rules.persistentTrayIcon = false;
    EXPECT_FALSE(visibility.trayIconWanted(rules));
    visibility.hiddenToTray(2000);
    EXPECT_TRUE(visibility.trayIconWanted(rules));
    rules.trayAvailable = false;
    EXPECT_FALSE(visibility.trayIconWanted(rules));
    EXPECT_EQ(WindowVisibility().toggle(rules, 5000), Action::None);  // no tray: never hides
}

}  // namespace
}  // namespace korvanel
