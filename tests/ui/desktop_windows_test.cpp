// The real korvanel program's two windows in a real X server: their keys as
// a listener presses them, and what the session keeps of them.
#include <csignal>
#include <fstream>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"
#include "tests/support/x_display.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::XDisplay;

constexpr const char* kIdleTitle = "Korvanel Radio v0.3.6";
constexpr const char* kLogTitle = "Korvanel Log";
constexpr const char* kLogShown = "<LogWindow type=\"bool\">true</LogWindow>";

std::vector<std::string> environment(const XDisplay& display, const test::TempFolder& home,
                                     const std::string& bus = "unix:path=/nonexistent") {
    return {"DISPLAY=" + display.name(), "QT_QPA_PLATFORM=xcb", "KORVANEL_HOME=" + home.path(),
            "KORVANEL_UPDATE_SERVER=http://127.0.0.1:1", "SDL_AUDIODRIVER=dummy", "XDG_RUNTIME_DIR=" + home.path(),
            "DBUS_SESSION_BUS_ADDRESS=" + bus};
}

void writeSettings(const test::TempFolder& home, const std::string& session) {
    std::ofstream(home.file("korvanel.xml")) << "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?>\n"
                                                "<Korvanel target=\"Korvanel Radio\" version=\"v0.3.6\">\n<Session>" +
                                                    session + "</Session>\n</Korvanel>\n";
}

TEST(DesktopWindows, EscapeEndsThePlayerAsTheCloseBoxDoesAndTheSessionKeepsTheLogShown) {
    if (!XDisplay::available()) {
        GTEST_SKIP() << "needs Xvfb and xdotool (scripts/install-deps.sh)";
    }
    XDisplay display;
    ASSERT_TRUE(display.start());
    test::TempFolder home;
    writeSettings(home, kLogShown);
    ChildProcess korvanel(KORVANEL_BUILD_DIR "/korvanel", {}, environment(display, home));
    const std::optional<std::string> window = display.findWindow(kIdleTitle, 10s);
    ASSERT_TRUE(window) << korvanel.err();
    ASSERT_TRUE(display.findWindow(kLogTitle, 5s)) << korvanel.err();
    ASSERT_TRUE(display.focus(*window));
    ASSERT_TRUE(display.key("Escape"));
    // Without "General/TrayOnClose" the close box ends the program, saving the session.
    ASSERT_EQ(korvanel.waitForExit(10s), std::optional<int>(0)) << korvanel.err();
    const std::string saved = test::readFile(home.file("korvanel.xml"));
    EXPECT_NE(saved.find(kLogShown), std::string::npos) << saved;
}

// Ctrl+L in the player's window opens the log, which takes the focus; the
// window's keys then work there too, and a log shown at exit (Ctrl+Q, or a
// termination request) is shown at the next start.
TEST(DesktopWindows, TheWindowsKeysWorkInTheLogWindowAndALogShownAtExitIsShownAgain) {
    if (!XDisplay::available()) {
        GTEST_SKIP() << "needs Xvfb and xdotool (scripts/install-deps.sh)";
    }
    XDisplay display;
    ASSERT_TRUE(display.start());
    test::TempFolder home;
    {
        ChildProcess korvanel(KORVANEL_BUILD_DIR "/korvanel", {}, environment(display, home));
        const std::optional<std::string> window = display.findWindow(kIdleTitle, 10s);
        ASSERT_TRUE(window) << korvanel.err();
        ASSERT_TRUE(display.focus(*window));
        ASSERT_TRUE(display.key("ctrl+l"));
        const std::optional<std::string> log = display.findWindow(kLogTitle, 5s);
        ASSERT_TRUE(log) << korvanel.err();
        ASSERT_TRUE(display.focus(*log));
        ASSERT_TRUE(display.key("ctrl+q"));
        ASSERT_EQ(korvanel.waitForExit(10s), std::optional<int>(0)) << korvanel.err();
    }
    EXPECT_NE(test::readFile(home.file("korvanel.xml")).find(kLogShown), std::string::npos);

    ChildProcess again(KORVANEL_BUILD_DIR "/korvanel", {}, environment(display, home));
    ASSERT_TRUE(display.findWindow(kIdleTitle, 10s)) << again.err();
    EXPECT_TRUE(display.findWindow(kLogTitle, 5s)) << again.err();
    ASSERT_TRUE(again.signal(SIGTERM));
    ASSERT_EQ(again.waitForExit(10s), std::optional<int>(0)) << again.err();
    EXPECT_NE(test::readFile(home.file("korvanel.xml")).find(kLogShown), std::string::npos);
}

}  // namespace
}  // namespace korvanel
