// Station switches in a row (500 unless told) over the real Application,
// Player and audio engine: play, next and stop in quick succession against
// a fast local stream server (MP3 and Ogg stations), on SDL's dummy card.
//
// Checks, each printed with its figures: no crash; every stop answered by
// the "stopped" event within 1 s (max, p99, median); the player idle with
// nothing queued after each stop; heap bytes in use (operator new, and
// malloc as a whole), open descriptors and threads after all the switches
// the same, within a small slack, as after the first 10. Exit status 1 when
// a check fails. 500 switches take about 80 s.

#include <dirent.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "app/application.h"
#include "bench/audio_stream_server.h"
#include "bench/event_timing_window.h"
#include "bench/heap_counter.h"
#include "bench/stream_server_process.h"
#include "player/player.h"
#include "stream/playlist_resolver.h"
#include "tests/support/temp_folder.cpp"  // NOLINT: benchmarks do not link the test support library

namespace korvanel {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kDefaultSwitches = 500;
constexpr int kBaselineAfter = 10;
constexpr double kStopAnswerBoundMs = 1000;
constexpr auto kSettleBound = 10s;
// Pauses between play, next and stop: at once, within a connect, after it.
constexpr int kPausesMs[] = {0, 0, 1, 5, 20, 50, 100, 200};
// What may differ after the run without counting as a leak.
constexpr long kHeapSlackBytes = 16 * 1024;
constexpr long kMallocSlackBytes = 16 * 1024;
constexpr long kCountSlack = 1;

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

long entriesIn(const char* folder) {
    DIR* directory = ::opendir(folder);
    if (directory == nullptr) {
        return -1;
    }
    long count = 0;
    while (const dirent* entry = ::readdir(directory)) {
        count += entry->d_name[0] != '.' ? 1 : 0;
    }
    ::closedir(directory);
    return count;
}

struct Footprint {
    long heapBytes = 0;
    long mallocBytes = 0;
    long descriptors = 0;
    long threads = 0;
};

Footprint footprint() {
    return {static_cast<long>(bench::liveHeapBytes()), static_cast<long>(::mallinfo2().uordblks),
            entriesIn("/proc/self/fd") - 1 /* the listing's own */, entriesIn("/proc/self/task")};
}

// The player has run every command posted so far.
bool settle(Player& player) { return player.waitUntilIdleFor(kSettleBound); }

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

int run(int switches) {
    test::TempFolder folder;
    const std::string mp3 = bench::makeToneFile(folder.file("tone.mp3"), "libmp3lame", 128, 20);
    const std::string ogg = bench::makeToneFile(folder.file("tone.ogg"), "libvorbis", 128, 20);
    if (mp3.empty() || ogg.empty()) {
        std::fprintf(stderr, "station_switch_bench: ffmpeg could not make the tone files\n");
        return 1;
    }
    const bench::StreamServerProcess servers({{mp3, "audio/mpeg", 128, "/tone.mp3"},
                                              {ogg, "application/ogg", 128, "/tone.ogg"}});
    if (servers.urls().size() != 2) {
        std::fprintf(stderr, "station_switch_bench: the stream servers did not start\n");
        return 1;
    }
    const std::vector<std::string> mp3First = {servers.urls()[0], servers.urls()[1]};
    const std::vector<std::string> oggFirst = {servers.urls()[1], servers.urls()[0]};

    // A sound card that pulls in real time and plays nowhere.
    test::ScopedEnv driver("SDL_AUDIODRIVER", "dummy");
    test::ScopedEnv home("KORVANEL_HOME", folder.path());
    bench::EventTimingWindow* window = nullptr;
    Application application([&window](Application&) {
        auto made = std::make_unique<bench::EventTimingWindow>();
        window = made.get();
        return made;
    });
    Player& player = application.player();
    PlaylistResolver& resolver = application.playlistResolver();
    if (!settle(player) || player.channel() == nullptr) {
        std::fprintf(stderr, "station_switch_bench: the player has no audio output\n");
        return 1;
    }

    std::vector<double> answerMs;
    answerMs.reserve(static_cast<std::size_t>(switches));
    long stopsWhile[5] = {};  // by the state the stop met
    std::minstd_rand random(20261208);
    const auto pause = [&random] {
        std::this_thread::sleep_for(std::chrono::milliseconds(kPausesMs[random() % std::size(kPausesMs)]));
    };
    int unanswered = 0;
    int stuck = 0;
    int unsettled = 0;
    Footprint baseline;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < switches; ++i) {
        resolver.setSources(i % 2 == 0 ? mp3First : oggFirst);
        player.play();
        pause();
        player.next();
        pause();
        ++stopsWhile[static_cast<int>(player.state())];
        const Clock::time_point stopAt = Clock::now();
        player.stop();
        if (!settle(player)) {
            ++unsettled;
        }
        const bench::EventTimingWindow::Counts counts = window->counts();
        if (counts.lastStopped < stopAt) {
            ++unanswered;
        } else {
            answerMs.push_back(msBetween(stopAt, counts.lastStopped));
        }
        if (player.state() != Player::State::Idle) {
            ++stuck;
            if (stuck <= 3) {
                std::printf("switch %d: the player ended in state %d\n", i, static_cast<int>(player.state()));
            }
            player.stop();
            settle(player);
        }
        if (i + 1 == kBaselineAfter) {
            baseline = footprint();
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const Footprint after = footprint();
    const bench::EventTimingWindow::Counts counts = window->counts();

    bool ok = true;
    const auto verdict = [&ok](bool met) {
        ok = ok && met;
        return met ? "ok" : "MISSED";
    };
    const double maxMs = answerMs.empty() ? 0 : *std::max_element(answerMs.begin(), answerMs.end());
    std::printf("station switches: %d in %.1f s (%.0f ms each); %ld connected, %ld stopped, %ld error events\n",
                switches, seconds, seconds * 1000 / switches, counts.connected, counts.stopped, counts.errors);
    std::printf("stops that met the player idle %ld, connecting %ld, buffering %ld, playing %ld\n", stopsWhile[0],
                stopsWhile[1], stopsWhile[3], stopsWhile[4]);
    if (counts.errors > 0) {
        std::printf("  last error: %s\n", counts.lastProblem.c_str());
    }
    std::printf("stop answered: max %.1f ms  p99 %.1f ms  median %.1f ms  unanswered %d  [%s]\n", maxMs,
                percentile(answerMs, 0.99), percentile(answerMs, 0.5), unanswered,
                verdict(unanswered == 0 && maxMs <= kStopAnswerBoundMs));
    std::printf("ends idle: stuck %d  unsettled %d  [%s]\n", stuck, unsettled, verdict(stuck == 0 && unsettled == 0));
    std::printf("heap in use (new): after %d %ld B  after %d %ld B  growth %ld B  [%s]\n", kBaselineAfter,
                baseline.heapBytes, switches, after.heapBytes, after.heapBytes - baseline.heapBytes,
                verdict(after.heapBytes - baseline.heapBytes <= kHeapSlackBytes));
    std::printf("malloc in use:     after %d %ld B  after %d %ld B  growth %ld B  [%s]\n", kBaselineAfter,
                baseline.mallocBytes, switches, after.mallocBytes, after.mallocBytes - baseline.mallocBytes,
                verdict(after.mallocBytes - baseline.mallocBytes <= kMallocSlackBytes));
    std::printf("descriptors: %ld then %ld  threads: %ld then %ld  [%s]\n", baseline.descriptors,
                after.descriptors, baseline.threads, after.threads,
                verdict(after.descriptors <= baseline.descriptors + kCountSlack &&
                        after.threads <= baseline.threads + kCountSlack));
    std::printf("station_switch_bench: %s\n", ok ? "all checks met" : "checks missed");
    std::fflush(stdout);  // a leak check at exit ends the process without flushing
    return ok ? 0 : 1;
}

// glibc's per-thread caches keep freed blocks counted as in use, so the
// long-lived threads' caches would fill slowly and look like a leak: the
// bench runs itself again with them off, which makes the malloc figure exact.
void runWithoutMallocCaches(char** argv) {
    const char* const kNoCaches = "glibc.malloc.tcache_count=0";
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    if (tunables != nullptr && std::string(tunables).find(kNoCaches) != std::string::npos) {
        return;
    }
    const std::string value = tunables != nullptr && *tunables != '\0' ? std::string(tunables) + ":" + kNoCaches
                                                                        : std::string(kNoCaches);
    ::setenv("GLIBC_TUNABLES", value.c_str(), 1);
    ::execv("/proc/self/exe", argv);
    std::fprintf(stderr, "station_switch_bench: could not restart without malloc caches; malloc figures are rough\n");
}

}  // namespace
}  // namespace korvanel

// An optional argument sets the number of switches (default 500).
int main(int argc, char** argv) {
    korvanel::runWithoutMallocCaches(argv);
    char* end = nullptr;
    const long switches = argc > 1 ? std::strtol(argv[1], &end, 10) : korvanel::kDefaultSwitches;
    if ((argc > 1 && *end != '\0') || switches <= korvanel::kBaselineAfter || switches > 1000000) {
        std::fprintf(stderr, "usage: station_switch_bench [switches, more than %d]\n", korvanel::kBaselineAfter);
        return 2;
    }
    return korvanel::run(static_cast<int>(switches));
}
