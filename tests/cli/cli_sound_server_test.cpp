// korvanel-cli with a sound server there: it plays into it by itself, lists
// its outputs by the desktop's names, and says which output it uses.
#include <gtest/gtest.h>

#include "tests/support/audio_test_tones.h"
#include "tests/support/child_process.h"
#include "tests/support/http_test_server.h"
#include "tests/support/process_runner.h"
#include "tests/support/pulse_test_server.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;

TEST(CliSoundServer, ListsTheServersOutputsAndPlaysIntoItsDefault) {
    ASSERT_TRUE(test::PulseTestServer::available()) << "pulseaudio and pulseaudio-utils are needed";
    test::PulseTestServer server({"first", "second"});
    ASSERT_TRUE(server.ready());
    test::TempFolder home;
    const std::vector<std::string> env = {"KORVANEL_HOME=" + home.path(), "KORVANEL_UPDATE_SERVER=http://127.0.0.1:1",
                                          "PULSE_SERVER=" + server.address(), "SDL_AUDIODRIVER=",
                                          "KORVANEL_AUDIO="};
    const auto listed = test::runProcess(test::cliPath(), {"list", "devices"}, env);
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.out.rfind("Sound server: pulseaudio ", 0), 0u) << listed.out;
    EXPECT_NE(listed.out.find("\n0  No sound\n1  Default output\n2  Sink_first\n3  Sink_second\n"), std::string::npos)
        << listed.out;

    // Resampled by the server: a 22.05 kHz mono stream on a 44.1 kHz sink.
    test::TempFolder files;
    ASSERT_TRUE(test::makeToneFile(files.file("tone.mp3"), "libmp3lame", 440, 8, {}, 22050, 1));
    const std::string mp3 = test::readFile(files.file("tone.mp3"));
    test::HttpTestServer http(test::HttpTestServer::reply("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n" + mp3));
    test::SinkMonitor heard(server, "first");
    const auto started = std::chrono::steady_clock::now();
    test::ChildProcess cli(test::cliPath(), {"play", "--seconds", "3", http.url("/tone.mp3")}, env);
    ASSERT_TRUE(cli.waitForErr("Sound server: pulseaudio", 10s)) << cli.err();
    const auto loud = heard.waitForSound(started, 1000, 5s);
    ASSERT_TRUE(loud);
    std::this_thread::sleep_for(800ms);
    const std::vector<std::int16_t> left = heard.leftSince(*loud);
    EXPECT_NEAR(test::toneFrequency(left, 44100), 440, 5) << left.size() << " samples, peak " << test::peakLevel(left);
    EXPECT_EQ(cli.waitForExit(10s), std::optional<int>(0)) << cli.err();
}

}  // namespace
}  // namespace korvanel
