// The last station chosen from the History menu to its first sound at the
// card, over the window and the real core on SDL's dummy card (which pulls
// in real time, 512 frames a callback), against a fast local stream server.
// What counts is the time beyond the server's first byte of sound: the
// player's hand-overs, the decoder's start and the card's first callback,
// not the network. The card's level, kept per callback, turns non-zero with
// the first callback that carries sound. Median and max of 20 choices (or
// the number given); exit status 1 when the median misses 20 ms.
#include <QApplication>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/application.h"
#include "bench/ui/bench_desktop.h"
#include "bench/audio_stream_server.h"
#include "frontend/menu_tree.h"
#include "player/player.h"
#include "tests/support/temp_folder.cpp"  // NOLINT: benchmarks do not link the test support library

namespace korvanel {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr int kDefaultChoices = 20;
constexpr double kGoalMs = 20.0;

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Runs the window's events until `done` holds or the bound passes.
template <class Condition>
bool waitFor(Condition done, std::chrono::milliseconds bound) {
    const Clock::time_point deadline = Clock::now() + bound;
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(200us);
    }
    return true;
}

void report(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("  %-44s median %6.2f ms  max %6.2f ms\n", what, ms[ms.size() / 2], ms.back());
}

int run(int choices) {
    test::TempFolder home;
    const std::string mp3 = bench::makeToneFile(home.file("tone.mp3"), "libmp3lame", 128, 20);
    if (mp3.empty()) {
        std::fprintf(stderr, "history_first_sound_bench: ffmpeg could not make the tone file\n");
        return 1;
    }
    bench::StreamServer server(mp3, "audio/mpeg", 128);
    std::ofstream(home.file("korvanel.xml"))
        << "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?>\n"
           "<Korvanel target=\"Korvanel Radio\" version=\"v0.3.6\"><Session><History>"
           "<H00_Source type=\"string\">"
        << server.url("/tone.mp3")
        << "</H00_Source><H00_Title type=\"string\">Bench FM</H00_Title><H00_URL type=\"string\"></H00_URL>"
           "</History></Session></Korvanel>\n";
    bench::BenchDesktop desktop(home.path());
    Application& application = desktop.application();
    MainWindow& window = desktop.window();
    Player& player = application.player();

    std::vector<double> toFirstByte, beyondFirstByte, toFirstSound;
    for (int i = 0; i < choices; ++i) {
        const Clock::time_point chosen = Clock::now();
        window.runCommand(command::kHistoryBase);
        if (!waitFor([&] { return player.level() != 0; }, 5s)) {
            std::fprintf(stderr, "history_first_sound_bench: no sound within 5 s\n");
            return 1;
        }
        const Clock::time_point sound = Clock::now();
        const Clock::time_point firstByte = server.lastFirstByte();
        if (firstByte < chosen) {
            std::fprintf(stderr, "history_first_sound_bench: the sound came from an earlier connection\n");
            return 1;
        }
        toFirstByte.push_back(msBetween(chosen, firstByte));
        beyondFirstByte.push_back(msBetween(firstByte, sound));
        toFirstSound.push_back(msBetween(chosen, sound));
        window.runCommand(command::kStop);
        if (!waitFor([&] { return player.state() == Player::State::Idle && player.level() == 0; }, 5s)) {
            std::fprintf(stderr, "history_first_sound_bench: the stop did not end the sound\n");
            return 1;
        }
        QTest::qWait(100);
    }
    std::printf("History entry chosen to first sound at the card, %d choices:\n", choices);
    report("chosen to the server's first byte", toFirstByte);
    report("first byte to first sound", beyondFirstByte);
    report("chosen to first sound", toFirstSound);
    std::sort(beyondFirstByte.begin(), beyondFirstByte.end());
    const double median = beyondFirstByte[beyondFirstByte.size() / 2];
    std::printf("first sound within %.0f ms of the first byte (median): [%s]\n", kGoalMs,
                median < kGoalMs ? "ok" : "MISSED");
    return median < kGoalMs ? 0 : 1;
}

}  // namespace
}  // namespace korvanel

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qt(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const int choices = argc > 1 ? std::max(1, std::atoi(argv[1])) : korvanel::kDefaultChoices;
    return korvanel::run(choices);
}
