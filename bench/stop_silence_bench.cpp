// Stop pressed to silence at the sound card, over the real Application,
// Player and audio engine on SDL's dummy card, which pulls in real time.
//
// Silence at the card comes when the engine stops handing it samples (the
// card's callback gives silence from then on) plus what the card already
// holds: at most one callback period. The first part is measured by watching
// the card's level, which the engine keeps per callback and drops to 0 the
// moment the card is fed no more; the second is the period SDL was given.
// Figures for N stops of a playing stream (20 unless told): median and max
// of both, and the time to the player's "stopped" event. Exit status 1 when
// the worst case misses 20 ms.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/application.h"
#include "bench/audio_stream_server.h"
#include "bench/event_timing_window.h"
#include "bench/stream_server_process.h"
#include "bench/timing_figures.h"
#include "player/player.h"
#include "stream/playlist_resolver.h"
#include "tests/support/temp_folder.cpp"  // NOLINT: benchmarks do not link the test support library

namespace korvanel {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kDefaultStops = 20;
constexpr double kGoalMs = 20.0;
// What the engine asks SDL for at 44.1 kHz: 512 frames a callback.
constexpr double kCardPeriodMs = 512 * 1000.0 / 44100;

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

using bench::maximum;
using bench::median;

int run(int stops) {
    test::TempFolder folder;
    const std::string mp3 = bench::makeToneFile(folder.file("tone.mp3"), "libmp3lame", 128, 20);
    if (mp3.empty()) {
        std::fprintf(stderr, "stop_silence_bench: ffmpeg could not make the tone file\n");
        return 1;
    }
    const bench::StreamServerProcess servers({{mp3, "audio/mpeg", 128, "/tone.mp3"}});
    if (servers.urls().size() != 1) {
        std::fprintf(stderr, "stop_silence_bench: the stream server did not start\n");
        return 1;
    }
    test::ScopedEnv driver("SDL_AUDIODRIVER", "dummy");
    test::ScopedEnv home("KORVANEL_HOME", folder.path());
    bench::EventTimingWindow* window = nullptr;
    Application application([&window](Application&) {
        auto made = std::make_unique<bench::EventTimingWindow>();
        window = made.get();
        return made;
    });
    Player& player = application.player();
    std::vector<double> unfedMs;
    std::vector<double> stoppedMs;
    int missed = 0;
    for (int i = 0; i < stops; ++i) {
        application.playlistResolver().setSources({servers.urls()[0]});
        player.play();
        // Playing, and the card has had sound for a while.
        Clock::time_point soundSince{};
        const Clock::time_point deadline = Clock::now() + 10s;
        while (Clock::now() < deadline) {
            if (player.state() == Player::State::Playing && player.level() != 0) {
                if (soundSince == Clock::time_point{}) {
                    soundSince = Clock::now();
                } else if (Clock::now() - soundSince > 300ms) {
                    break;
                }
            }
            std::this_thread::sleep_for(1ms);
        }
        if (soundSince == Clock::time_point{} || player.level() == 0) {
            ++missed;
            player.stop();
            continue;
        }
        const Clock::time_point stopAt = Clock::now();
        player.stop();
        while (player.level() != 0 && Clock::now() - stopAt < 2s) {
            std::this_thread::yield();
        }
        unfedMs.push_back(msBetween(stopAt, Clock::now()));
        while (player.state() != Player::State::Idle && Clock::now() - stopAt < 5s) {
            std::this_thread::sleep_for(1ms);
        }
        const auto counts = window->counts();
        if (counts.lastStopped >= stopAt) {
            stoppedMs.push_back(msBetween(stopAt, counts.lastStopped));
        }
        std::this_thread::sleep_for(100ms);  // the released card closes behind the stop
    }
    const double worstMs = maximum(unfedMs) + kCardPeriodMs;
    const bool met = worstMs < kGoalMs && missed == 0;
    std::printf("stop to the card fed no more: median %.2f ms  max %.2f ms  (%zu stops, %d missed)\n",
                median(unfedMs), maximum(unfedMs), unfedMs.size(), missed);
    std::printf("stop to silence at the card:  median %.1f ms  worst %.1f ms (with the %.1f ms period it holds)  [%s]\n",
                median(unfedMs) + kCardPeriodMs / 2, worstMs, kCardPeriodMs, met ? "ok" : "MISSED");
    std::printf("stop to the stopped event:    median %.1f ms  max %.1f ms\n", median(stoppedMs), maximum(stoppedMs));
    std::fflush(stdout);
    return met ? 0 : 1;
}

}  // namespace
}  // namespace korvanel

int main(int argc, char** argv) {
    const int stops = argc > 1 ? std::max(1, std::atoi(argv[1])) : korvanel::kDefaultStops;
    return korvanel::run(stops);
}
