// The real korvanel program in a real X server, driven as a listener would:
// keys pressed with xdotool, the window read back as pixels, the sound card
// SDL's disk driver.
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "tests/faults/fault_fixtures.h"
#include "tests/support/audio_test_tones.h"
#include "tests/support/child_process.h"
#include "tests/support/hls_test_server.h"
#include "tests/support/icecast_server.h"
#include "tests/support/process_runner.h"
#include "tests/support/temp_folder.h"
#include "tests/support/x_display.h"
#include "tests/ui/private_bus.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::IcecastServer;
using test::XDisplay;
using test::HttpTestServer;

constexpr const char* kIdleTitle = "Korvanel Radio v0.3.6";

std::string settingsWithHistory(const std::string& source) {
    return R"(<?xml version="1.0" encoding="ISO-8859-1" standalone="yes"?>
<Korvanel target="Korvanel Radio" version="v0.3.6">
   <Session>
      <History>
         <H00_Source type="string">)" +
           source + R"(</H00_Source>
         <H00_Title type="string"></H00_Title>
         <H00_URL type="string"></H00_URL>
      </History>
      <Position type="point">40,30</Position>
   </Session>
</Korvanel>
)";
}

// Pixels of the meter's bars: the warm shades between its bottom colour
// (orange) and its top colour (pale yellow). Nothing else in the window is
// warm: the rest is grey, white, black and the link's blue.
int warmPixels(const XDisplay::Image& image) {
    int count = 0;
    for (std::size_t at = 0; at + 2 < image.rgb.size(); at += 3) {
        const int r = image.rgb[at], g = image.rgb[at + 1], b = image.rgb[at + 2];
        count += r > 220 && g > 150 && r - b > 40;
    }
    return count;
}

TEST(DesktopProgram, PlaysTheLastStationFromTheKeyboardShowsItAndSavesTheSession) {
    if (!IcecastServer::available() || !XDisplay::available()) {
        GTEST_SKIP() << "needs icecast2, ffmpeg, Xvfb, xdotool and ImageMagick (scripts/install-deps.sh)";
    }
    IcecastServer icecast;
    ASSERT_TRUE(icecast.start()) << icecast.errorLog();
    ASSERT_TRUE(icecast.startSource({"/tone.mp3", IcecastServer::Codec::Mp3, 440})) << icecast.errorLog();
    XDisplay display;
    ASSERT_TRUE(display.start());

    test::TempFolder home;
    std::ofstream(home.file("korvanel.xml")) << settingsWithHistory(icecast.url("/tone.mp3"));
    const std::string card = home.file("card.raw");
    ChildProcess korvanel(KORVANEL_BUILD_DIR "/korvanel", {},
                          {"DISPLAY=" + display.name(), "QT_QPA_PLATFORM=xcb", "KORVANEL_HOME=" + home.path(),
                           "KORVANEL_UPDATE_SERVER=http://127.0.0.1:1", "SDL_AUDIODRIVER=disk",
                           "SDL_DISKAUDIOFILE=" + card, "XDG_RUNTIME_DIR=" + home.path()});
    const std::optional<std::string> window = display.findWindow(kIdleTitle, 10s);
    ASSERT_TRUE(window) << korvanel.err();

    // Play has the focus when the window opens.
    ASSERT_TRUE(display.focus(*window));
    ASSERT_TRUE(display.key("space"));
    // While a stream plays the title is its station name, from icy-name.
    EXPECT_TRUE(display.waitForTitle(*window, "Korvanel Test Tone", 10s)) << korvanel.err();

    // The meter shows bars, and the card hears the tone.
    std::optional<XDisplay::Image> shot;
    int warm = 0;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (warm < 40 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(200ms);
        shot = display.grab(*window);
        warm = shot ? warmPixels(*shot) : 0;
    }
    EXPECT_GE(warm, 40) << "no meter bars in the window";
    // A new title reaches the window title.
    ASSERT_TRUE(icecast.setTitle("/tone.mp3", "Test Artist - Sine at 440 Hz"));
    EXPECT_TRUE(display.waitForTitle(*window, "Test Artist - Sine at 440 Hz", 10s));
    // The README's picture comes from here: KORVANEL_SCREENSHOT=path.
    if (const char* screenshot = std::getenv("KORVANEL_SCREENSHOT")) {
        std::this_thread::sleep_for(1500ms);
        EXPECT_TRUE(display.savePng(*window, screenshot));
    }
    std::this_thread::sleep_for(1s);
    const std::vector<std::int16_t> left = test::channelSamples(test::readFile(card), 2, 0);
    ASSERT_GT(left.size(), 44100u / 2);
    EXPECT_NEAR(test::toneFrequency(left, 44100), 440.0, 5.0);
    EXPECT_GT(test::peakLevel(left), 1000);

    // Play greys out while a stream plays, which hands the focus on to Stop.
    ASSERT_TRUE(display.key("space"));
    EXPECT_TRUE(display.waitForTitle(*window, kIdleTitle, 10s));
    // A termination request ends the program the normal way: the session is saved.
    ASSERT_TRUE(korvanel.signal(SIGTERM));
    ASSERT_EQ(korvanel.waitForExit(10s), std::optional<int>(0)) << korvanel.err();
    const std::string saved = test::readFile(home.file("korvanel.xml"));
    EXPECT_NE(saved.find("<H00_Title type=\"string\">Korvanel Test Tone</H00_Title>"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<Position type=\"point\">40,30</Position>"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<ColorA type=\"color\">#f6f4d8</ColorA>"), std::string::npos) << saved;
}

bool hasTrayHost() { return test::runProcess("/usr/bin/python3", {"-c", "import Xlib"}, {}, 20s).exitCode == 0; }

std::vector<std::string> desktopEnvironment(const XDisplay& display, const test::TempFolder& home) {
    // No session bus: the tray is the XEmbed one the test starts.
    return {"DISPLAY=" + display.name(), "QT_QPA_PLATFORM=xcb", "KORVANEL_HOME=" + home.path(),
            "KORVANEL_UPDATE_SERVER=http://127.0.0.1:1", "SDL_AUDIODRIVER=dummy", "XDG_RUNTIME_DIR=" + home.path(),
            "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent"};
}

TEST(DesktopProgram, LivesInARealTrayWhoseClicksHideAndShowItAndWhoseMenuEndsIt) {
    if (!XDisplay::available() || !hasTrayHost()) {
        GTEST_SKIP() << "needs Xvfb, xdotool and python3-xlib";
    }
    XDisplay display;
    ASSERT_TRUE(display.start());
    ChildProcess tray("/usr/bin/python3", {KORVANEL_SOURCE_DIR "/tests/ui/tray_host.py"}, {"DISPLAY=" + display.name()});
    ASSERT_TRUE(tray.waitForOut("ready", 10s)) << tray.err();
    test::TempFolder home;
    ChildProcess korvanel(KORVANEL_BUILD_DIR "/korvanel", {}, desktopEnvironment(display, home));
    ASSERT_TRUE(display.findWindow(kIdleTitle, 10s)) << korvanel.err();
    ASSERT_TRUE(tray.waitForOut("docked ", 10s)) << korvanel.err();
    const std::string out = tray.out();
    const std::string icon = out.substr(out.find("docked ") + 7, out.find('\n', out.find("docked ")) - out.find("docked ") - 7);

    ASSERT_TRUE(display.click(icon, 1));
    const auto hidden = std::chrono::steady_clock::now() + 5s;
    while (display.shows(kIdleTitle) && std::chrono::steady_clock::now() < hidden) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_FALSE(display.shows(kIdleTitle));
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(display.click(icon, 1));
    EXPECT_TRUE(display.findWindow(kIdleTitle, 5s));

    // The tray menu's "E&xit".
    ASSERT_TRUE(display.click(icon, 3));
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(display.key("x"));
    EXPECT_EQ(korvanel.waitForExit(10s), std::optional<int>(0)) << korvanel.err();
}

TEST(DesktopProgram, WithoutATrayTheWindowNeverStartsHidden) {
    if (!XDisplay::available()) {
        GTEST_SKIP() << "needs Xvfb and xdotool";
    }
    XDisplay display;
    ASSERT_TRUE(display.start());
    test::TempFolder home;
    std::ofstream(home.file("korvanel.xml"))
        << "<Korvanel><General><StartHidden type=\"bool\">true</StartHidden></General></Korvanel>";
    ChildProcess korvanel(KORVANEL_BUILD_DIR "/korvanel", {}, desktopEnvironment(display, home));
    EXPECT_TRUE(display.findWindow(kIdleTitle, 10s)) << korvanel.err();
    ASSERT_TRUE(korvanel.signal(SIGTERM));
    EXPECT_EQ(korvanel.waitForExit(10s), std::optional<int>(0)) << korvanel.err();
}

// The dialogs of the real program, in German, opened from its menus with the
// German menus' keys. KORVANEL_SCREENSHOT_DIR=folder writes one picture of
// each (README's pictures come from here).
TEST(DesktopProgram, OpensItsDialogsFromTheMenusInTheChosenLanguage) {
    if (!XDisplay::available()) {
        GTEST_SKIP() << "needs Xvfb, xdotool and ImageMagick";
    }
    XDisplay display;
    ASSERT_TRUE(display.start());
    test::TempFolder home;
    std::filesystem::copy(KORVANEL_BUILD_DIR "/languages", home.path() + "/languages");
    std::ofstream(home.file("korvanel.xml")) << R"(<?xml version="1.0" encoding="ISO-8859-1" standalone="yes"?>
<Korvanel target="Korvanel Radio" version="v0.3.6">
   <General>
      <LanguageFile type="string">languages/lang.de.xml</LanguageFile>
   </General>
</Korvanel>
)";
    ChildProcess korvanel(KORVANEL_BUILD_DIR "/korvanel", {},
                          {"DISPLAY=" + display.name(), "QT_QPA_PLATFORM=xcb", "KORVANEL_HOME=" + home.path(),
                           "KORVANEL_UPDATE_SERVER=http://127.0.0.1:1", "SDL_AUDIODRIVER=dummy",
                           "XDG_RUNTIME_DIR=" + home.path()});
    const std::optional<std::string> window = display.findWindow(kIdleTitle, 10s);
    ASSERT_TRUE(window) << korvanel.err();
    const char* screenshots = std::getenv("KORVANEL_SCREENSHOT_DIR");

    struct Dialog {
        std::vector<std::string> keys;
        std::string title;
        std::string picture;
    };
    const std::vector<Dialog> dialogs = {
        {{"alt+e", "s"}, "Korvanel-Einstellungen", "korvanel-preferences-de.png"},
        {{"alt+d", "u"}, "URL öffnen", "korvanel-open-url-de.png"},
        {{"alt+h", "Return"}, "Über Korvanel Radio", "korvanel-about-de.png"},
    };
    for (const Dialog& dialog : dialogs) {
        SCOPED_TRACE(dialog.title);
        ASSERT_TRUE(display.focus(*window));
        for (const std::string& keys : dialog.keys) {
            ASSERT_TRUE(display.key(keys));
            std::this_thread::sleep_for(150ms);
        }
        const std::optional<std::string> opened = display.findWindow(dialog.title, 5s);
        ASSERT_TRUE(opened) << korvanel.err();
        if (screenshots != nullptr) {
            std::this_thread::sleep_for(500ms);
            EXPECT_TRUE(display.savePng(*opened, std::string(screenshots) + "/" + dialog.picture));
        }
        ASSERT_TRUE(display.focus(*opened));
        ASSERT_TRUE(display.key("Escape"));
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (display.shows(dialog.title) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(50ms);
        }
        EXPECT_FALSE(display.shows(dialog.title));
    }
    korvanel.signal(SIGTERM);
    EXPECT_EQ(korvanel.waitForExit(10s), std::optional<int>(0));
}

// Started with a station list file it plays it; started again with an
// address while it runs, the second start hands that over and ends. A
// player of another folder is a player of its own.
TEST(DesktopProgram, PlaysTheFileItIsGivenAndASecondStartHandsItsAddressOver) {
    if (!XDisplay::available()) {
        GTEST_SKIP() << "needs Xvfb and xdotool (scripts/install-deps.sh)";
    }
    XDisplay display;
    ASSERT_TRUE(display.start());
    test::PrivateBus bus;
    ASSERT_FALSE(bus.address().empty());
    test::TempFolder home;
    const std::string tone = test::mp3ToneFrames(home, 440, 30.0);
    std::mutex lock;
    std::vector<std::string> asked;
    // One connection at a time each: a server for each player.
    const auto station = [&](HttpTestServer::Connection& connection, const std::string& request) {
        {
            std::lock_guard<std::mutex> guard(lock);
            asked.push_back(request.substr(0, request.find(" HTTP/")));
        }
        connection.send(test::streamHead("audio/mpeg"));
        test::sendPaced(connection, tone, test::kMp3BytesPerSecond);
    };
    HttpTestServer server(station);
    HttpTestServer otherServer(station);
    const auto wasAsked = [&](const std::string& line) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            {
                std::lock_guard<std::mutex> guard(lock);
                if (std::find(asked.begin(), asked.end(), line) != asked.end()) {
                    return true;
                }
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    };
    const std::string list = home.file("station.pls");
    test::writeFile(list, "[playlist]\nFile1=" + server.url("/first") + "\nNumberOfEntries=1\n");
    const auto environment = [&](const test::TempFolder& folder) {
        return std::vector<std::string>{"DISPLAY=" + display.name(), "QT_QPA_PLATFORM=xcb",
                                        "KORVANEL_HOME=" + folder.path(), "KORVANEL_UPDATE_SERVER=http://127.0.0.1:1",
                                        "SDL_AUDIODRIVER=dummy", "XDG_RUNTIME_DIR=" + folder.path(),
                                        "DBUS_SESSION_BUS_ADDRESS=" + bus.address()};
    };
    ChildProcess first(KORVANEL_BUILD_DIR "/korvanel", {list}, environment(home));
    ASSERT_TRUE(display.findWindow("Fault Radio", 10s)) << first.err();
    EXPECT_TRUE(wasAsked("GET /first"));

    ChildProcess second(KORVANEL_BUILD_DIR "/korvanel", {server.url("/second")}, environment(home));
    EXPECT_EQ(second.waitForExit(10s), std::optional<int>(0)) << second.err();
    EXPECT_TRUE(wasAsked("GET /second")) << first.err();

    test::TempFolder elsewhere;
    ChildProcess other(KORVANEL_BUILD_DIR "/korvanel", {otherServer.url("/other")}, environment(elsewhere));
    EXPECT_TRUE(wasAsked("GET /other")) << other.err();
    EXPECT_FALSE(other.waitForExit(500ms).has_value());
    for (ChildProcess* player : {&other, &first}) {
        player->signal(SIGTERM);
        EXPECT_EQ(player->waitForExit(10s), std::optional<int>(0));
    }
}

// An HLS station given on the command line plays in the window, and each
// segment's title reaches the window title when its sound does, not when
// the segment arrives (all three arrive at once).
TEST(DesktopProgram, PlaysAnHlsStationWhoseTitlesComeWithTheirSound) {
    if (!XDisplay::available()) {
        GTEST_SKIP() << "needs Xvfb and xdotool (scripts/install-deps.sh)";
    }
    const std::vector<std::string> parts = test::adtsParts(test::toneFileBytes("aac", "aac", 440, 6.2), 2.0);
    ASSERT_GE(parts.size(), 3u);
    test::HlsTestServer server;
    std::string playlist = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n";
    for (std::size_t i = 0; i < 3; ++i) {
        server.put("p" + std::to_string(i) + ".aac", parts[i]);
        playlist += "#EXTINF:2.0,title=\"Part " + std::to_string(i + 1) + "\",artist=\"Band\"\np" + std::to_string(i) + ".aac\n";
    }
    server.put("titled.m3u8", playlist + "#EXT-X-ENDLIST\n");
    XDisplay display;
    ASSERT_TRUE(display.start());
    test::TempFolder home;
    const std::string card = home.file("card.raw");
    ChildProcess korvanel(KORVANEL_BUILD_DIR "/korvanel", {server.url("titled.m3u8")},
                          {"DISPLAY=" + display.name(), "QT_QPA_PLATFORM=xcb", "KORVANEL_HOME=" + home.path(),
                           "KORVANEL_UPDATE_SERVER=http://127.0.0.1:1", "SDL_AUDIODRIVER=disk",
                           "SDL_DISKAUDIOFILE=" + card, "XDG_RUNTIME_DIR=" + home.path(),
                           "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent"});
    const std::optional<std::string> window = display.findWindow("Band - Part 1", 10s);
    ASSERT_TRUE(window) << korvanel.err();
    const auto first = std::chrono::steady_clock::now();
    ASSERT_TRUE(display.waitForTitle(*window, "Band - Part 2", 10s)) << display.title(*window);
    EXPECT_GT(std::chrono::steady_clock::now() - first, 1200ms) << "the second title came with its bytes";
    const std::vector<std::int16_t> left = test::channelSamples(test::readFile(card), 2, 0);
    EXPECT_NEAR(test::toneFrequency(left, 44100), 440.0, 5.0);
    korvanel.signal(SIGTERM);
    EXPECT_EQ(korvanel.waitForExit(10s), std::optional<int>(0));
}

}  // namespace
}  // namespace korvanel
