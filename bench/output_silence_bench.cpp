// Stop and Mute to silence at a sound server, heard through its monitor:
// the real Application, Player and engine playing into a private PulseAudio
// with a null sink, whose server-side buffer holds 250 ms and more.
//
// Figures for N presses of each (20 unless told): median and max from the
// press to the first millisecond of lasting silence the monitor hears, which
// includes the monitor's own few milliseconds. The server changes what it
// has not yet played (it rewinds its sink), so silence can begin at once. Goals: Stop under 20 ms,
// Mute under 30 ms (medians); exit status 1 when one is missed.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/application.h"
#include "audio/output_channel.h"
#include "bench/audio_stream_server.h"
#include "bench/event_timing_window.h"
#include "bench/stream_server_process.h"
#include "bench/timing_figures.h"
#include "player/player.h"
#include "stream/playlist_resolver.h"
#include "tests/support/pulse_test_server.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kDefaultPresses = 20;
constexpr double kStopGoalMs = 20.0;
constexpr double kMuteGoalMs = 30.0;
constexpr int kLoud = 1000;
constexpr int kQuiet = 64;

// The monitor's clock is read to the millisecond: a silence that begins in
// the millisecond of the press counts as at once.
double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::max(0.0, std::chrono::duration<double, std::milli>(to - from).count());
}

using bench::maximum;
using bench::median;

int run(int presses) {
    test::TempFolder folder;
    const std::string mp3 = bench::makeToneFile(folder.file("tone.mp3"), "libmp3lame", 128, 30);
    if (mp3.empty()) {
        std::fprintf(stderr, "output_silence_bench: ffmpeg could not make the tone file\n");
        return 1;
    }
    const bench::StreamServerProcess servers({{mp3, "audio/mpeg", 128, "/tone.mp3"}});
    if (servers.urls().size() != 1 || !test::PulseTestServer::available()) {
        std::fprintf(stderr, "output_silence_bench: needs the stream server, pulseaudio and parec\n");
        return 1;
    }
    test::PulseTestServer server({"bench"});
    if (!server.ready()) {
        std::fprintf(stderr, "output_silence_bench: the private PulseAudio did not start\n");
        return 1;
    }
    test::ScopedEnv pulse("PULSE_SERVER", server.address());
    test::ScopedEnv output("KORVANEL_AUDIO", "pulse");
    test::ScopedEnv home("KORVANEL_HOME", folder.path());
    test::SinkMonitor heard(server, "bench");
    Application application([](Application&) { return std::make_unique<bench::EventTimingWindow>(); });
    Player& player = application.player();

    std::vector<double> stopMs;
    std::vector<double> muteMs;
    int missed = 0;
    for (int i = 0; i < presses; ++i) {
        application.playlistResolver().setSources({servers.urls()[0]});
        Clock::time_point started = Clock::now();
        player.play();
        if (!heard.waitForSound(started, kLoud, 10s)) {
            ++missed;
            player.stop();
            continue;
        }
        std::this_thread::sleep_for(400ms);  // the server's buffer is full

        Clock::time_point pressed = Clock::now();
        player.mute();
        if (auto quiet = heard.waitForSilence(pressed, kQuiet, 300ms, 3s)) {
            muteMs.push_back(msBetween(pressed, *quiet));
        } else {
            ++missed;
        }
        started = Clock::now();
        player.unmute();
        heard.waitForSound(started, kLoud, 3s);
        std::this_thread::sleep_for(400ms);

        pressed = Clock::now();
        player.stop();
        if (auto quiet = heard.waitForSilence(pressed, kQuiet, 300ms, 3s)) {
            stopMs.push_back(msBetween(pressed, *quiet));
        } else {
            ++missed;
        }
        while (player.state() != Player::State::Idle && Clock::now() - pressed < 5s) {
            std::this_thread::sleep_for(1ms);
        }
    }
    const bool met = median(stopMs) < kStopGoalMs && median(muteMs) < kMuteGoalMs && missed == 0;
    std::printf("sound server: %s, buffer %d ms\n", application.player().channel() != nullptr
                                                       ? application.player().channel()->outputName().c_str()
                                                       : "?",
                application.settings().getInt("Sound/ServerBufferMs"));
    std::printf("stop to silence at the monitor: median %.1f ms  max %.1f ms  (%zu stops)\n", median(stopMs),
                maximum(stopMs), stopMs.size());
    std::printf("mute to silence at the monitor: median %.1f ms  max %.1f ms  (%zu mutes)\n", median(muteMs),
                maximum(muteMs), muteMs.size());
    std::printf("missed: %d  [%s]\n", missed, met ? "ok" : "MISSED");
    std::fflush(stdout);
    return met ? 0 : 1;
}

}  // namespace
}  // namespace korvanel

int main(int argc, char** argv) {
    const int presses = argc > 1 ? std::max(1, std::atoi(argv[1])) : korvanel::kDefaultPresses;
    return korvanel::run(presses);
}
