// The real korvanel program's two windows in a real X server: their keys as
// a listener presses them, what the session keeps of them, and what a screen
// reader finds of them over AT-SPI.
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "tests/faults/fault_fixtures.h"
#include "tests/support/child_process.h"
#include "tests/support/process_runner.h"
#include "tests/support/temp_folder.h"
#include "tests/support/x_display.h"
#include "tests/ui/private_bus.h"

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

bool hasScreenReaderBus() {
    return access("/usr/libexec/at-spi-bus-launcher", X_OK) == 0 &&
           test::runProcess("/usr/bin/python3", {"-c", "import pyatspi"}, {}, 20s).exitCode == 0;
}

// The windows as a screen reader lists them, once they include `wanted`.
std::string windowsSeen(const XDisplay& display, const std::string& bus, const ChildProcess& program,
                        const std::string& wanted) {
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (std::chrono::steady_clock::now() < deadline) {
        seen = test::runProcess("/usr/bin/python3",
                                {KORVANEL_SOURCE_DIR "/tests/ui/accessible_windows.py", std::to_string(program.pid())},
                                {"DISPLAY=" + display.name(), "DBUS_SESSION_BUS_ADDRESS=" + bus}, 20s)
                   .out;
        if (seen.find(wanted) != std::string::npos) {
            break;
        }
        std::this_thread::sleep_for(200ms);
    }
    return seen;
}

TEST(DesktopWindows, EachWindowIsAFrameNamedByItsTitleForScreenReaders) {
    if (!XDisplay::available() || !hasScreenReaderBus()) {
        GTEST_SKIP() << "needs Xvfb, at-spi2-core and python3-pyatspi (scripts/install-deps.sh)";
    }
    XDisplay display;
    ASSERT_TRUE(display.start());
    test::PrivateBus bus;
    ASSERT_FALSE(bus.address().empty());
    // The accessibility bus and its registry outlive the launcher's pipes
    // unless they never get them.
    ChildProcess accessibility(
        "/bin/sh", {"-c", "exec /usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1"},
        {"DISPLAY=" + display.name(), "DBUS_SESSION_BUS_ADDRESS=" + bus.address()});
    test::TempFolder home;
    writeSettings(home, kLogShown);
    const std::string tone = test::mp3ToneFrames(home, 440, 30.0);
    test::HttpTestServer station([&](test::HttpTestServer::Connection& connection, const std::string&) {
        connection.send(test::streamHead("audio/mpeg"));
        test::sendPaced(connection, tone, test::kMp3BytesPerSecond);
    });
    std::vector<std::string> env = environment(display, home, bus.address());
    env.push_back("QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1");
    ChildProcess korvanel(KORVANEL_BUILD_DIR "/korvanel", {}, env);
    ASSERT_TRUE(display.findWindow(kIdleTitle, 10s)) << korvanel.err();
    ASSERT_TRUE(display.findWindow(kLogTitle, 5s)) << korvanel.err();

    std::string seen = windowsSeen(display, bus.address(), korvanel, std::string("frame\t") + kLogTitle);
    EXPECT_NE(seen.find(std::string("frame\t") + kIdleTitle + "\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find(std::string("frame\t") + kLogTitle + "\n"), std::string::npos) << seen;
    // The name follows the title: a second start hands the station over.
    ChildProcess handOver(KORVANEL_BUILD_DIR "/korvanel", {station.url("/live")}, env);
    EXPECT_EQ(handOver.waitForExit(10s), std::optional<int>(0)) << handOver.err();
    ASSERT_TRUE(display.findWindow("Fault Radio", 10s)) << korvanel.err();
    seen = windowsSeen(display, bus.address(), korvanel, "frame\tFault Radio\n");
    EXPECT_NE(seen.find("frame\tFault Radio\n"), std::string::npos) << seen;

    korvanel.signal(SIGTERM);
    EXPECT_EQ(korvanel.waitForExit(10s), std::optional<int>(0));
    accessibility.signal(SIGTERM);
    EXPECT_TRUE(accessibility.waitForExit(5s));
}

}  // namespace
}  // namespace korvanel
