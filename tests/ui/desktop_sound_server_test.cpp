// The desktop program playing through a real sound server: what the window
// says changes when the server plays the sound it belongs to, not when the
// samples were written into the server's long buffer.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <thread>

#include "tests/support/audio_test_tones.h"
#include "tests/support/child_process.h"
#include "tests/support/hls_test_server.h"
#include "tests/support/pulse_test_server.h"
#include "tests/support/temp_folder.h"
#include "tests/support/x_display.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::XDisplay;
using Clock = std::chrono::steady_clock;

TEST(DesktopSoundServer, TheWindowTitleChangesWhenTheServerPlaysItsSound) {
    if (!XDisplay::available()) {
        GTEST_SKIP() << "needs Xvfb and xdotool (scripts/install-deps.sh)";
    }
    ASSERT_TRUE(test::PulseTestServer::available()) << "pulseaudio and pulseaudio-utils are needed";
    // Two seconds of tone titled "Loud", then silence titled "Quiet".
    const std::vector<std::string> tone = test::adtsParts(test::toneFileBytes("aac", "aac", 440, 4.2), 2.0);
    const std::vector<std::string> silence = test::adtsParts(test::toneFileBytes("aac", "aac", 0, 4.2), 2.0);
    ASSERT_GE(tone.size(), 2u);
    ASSERT_GE(silence.size(), 2u);
    test::HlsTestServer hls;
    hls.put("a.aac", tone[0]);
    hls.put("b.aac", tone[1]);
    hls.put("c.aac", silence[0]);
    hls.put("d.aac", silence[1]);
    hls.put("station.m3u8",
            "#EXTM3U\n#EXT-X-TARGETDURATION:2\n"
            "#EXTINF:2.0,title=\"Loud\",artist=\"Band\"\na.aac\n#EXTINF:2.0,\nb.aac\n"
            "#EXTINF:2.0,title=\"Quiet\",artist=\"Band\"\nc.aac\n#EXTINF:2.0,\nd.aac\n#EXT-X-ENDLIST\n");

    test::PulseTestServer server({"desk"});
    ASSERT_TRUE(server.ready());
    test::SinkMonitor heard(server, "desk");
    XDisplay display;
    ASSERT_TRUE(display.start());
    test::TempFolder home;
    ChildProcess korvanel(KORVANEL_BUILD_DIR "/korvanel", {hls.url("station.m3u8")},
                          {"DISPLAY=" + display.name(), "QT_QPA_PLATFORM=xcb", "KORVANEL_HOME=" + home.path(),
                           "KORVANEL_UPDATE_SERVER=http://127.0.0.1:1", "PULSE_SERVER=" + server.address(),
                           "SDL_AUDIODRIVER=", "KORVANEL_AUDIO=", "XDG_RUNTIME_DIR=" + home.path(),
                           "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent"});
    const std::optional<std::string> window = display.findWindow("Band - Loud", 10s);
    ASSERT_TRUE(window) << korvanel.err();
    const auto loud = heard.waitForSound(Clock::now() - 2s, 1000, 5s);
    ASSERT_TRUE(loud);

    std::optional<Clock::time_point> titled;
    while (!titled && Clock::now() - *loud < 10s) {
        if (display.title(*window) == "Band - Quiet") {
            titled = Clock::now();
        }
    }
    ASSERT_TRUE(titled) << display.title(*window);
    const auto quiet = heard.waitForSilence(*loud, 100, 500ms, 5s);
    ASSERT_TRUE(quiet);
    // The server holds a quarter of a second and more; the title waits for it.
    EXPECT_LT(std::chrono::abs(*titled - *quiet), 120ms)
        << "title " << (*titled - *loud).count() / 1000000 << " ms after the sound began, silence "
        << (*quiet - *loud).count() / 1000000 << " ms after";
    EXPECT_NE(server.pactl({"list", "sink-inputs"}).find("application.name = \"Korvanel Radio\""), std::string::npos);
    korvanel.signal(SIGTERM);
    EXPECT_EQ(korvanel.waitForExit(10s), std::optional<int>(0));
}

}  // namespace
}  // namespace korvanel
