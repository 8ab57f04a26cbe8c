// A station chosen from the Favorites menu to the first "Connecting.." in
// the window's status bar: the command, the player's worker, the event
// worker and the queued refresh, on the offscreen platform with the real
// core. The station is a loopback listener that never answers, so only
// the way to "Connecting" is measured. Median and max of 30 choices; exit
// status 1 when the median misses 5 ms.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/application.h"
#include "bench/ui/bench_desktop.h"
#include "frontend/menu_tree.h"
#include "tests/support/temp_folder.cpp"  // NOLINT: benchmarks do not link the test support library

namespace korvanel {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kChoices = 30;
constexpr double kGoalMs = 5.0;

// A listening socket that never accepts: a connect to it hangs in the open.
int silentListener(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

int run() {
    int port = 0;
    const int listener = silentListener(port);
    if (listener < 0) {
        std::fprintf(stderr, "command_latency_bench: no loopback listener\n");
        return 1;
    }
    test::TempFolder home;
    std::ofstream(home.file("favorites.xml"))
        << "<Favorites><Station title=\"Silent\" url=\"\"><Source>http://127.0.0.1:" << port
        << "/stream</Source></Station></Favorites>";
    bench::BenchDesktop desktop(home.path());
    Application& application = desktop.application();
    MainWindow& window = desktop.window();
    QLabel& state = window.statusPart(0);
    std::vector<double> ms;
    for (int i = 0; i < kChoices; ++i) {
        const Clock::time_point start = Clock::now();
        window.runCommand(command::kFavoritesBase + 1);
        while (state.text() != QStringLiteral(" Connecting..") && Clock::now() - start < std::chrono::seconds(5)) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        }
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        window.runCommand(command::kStop);
        const Clock::time_point stopped = Clock::now();
        while (application.player().state() != Player::State::Idle &&
               Clock::now() - stopped < std::chrono::seconds(5)) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        QTest::qWait(50);
    }
    ::close(listener);
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    std::printf("favourite chosen to \"Connecting..\" in the status bar: median %.2f ms  max %.2f ms  [%s]\n", median,
                ms.back(), median < kGoalMs ? "ok" : "MISSED");
    return median < kGoalMs ? 0 : 1;
}

}  // namespace
}  // namespace korvanel

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qt(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return korvanel::run();
}
