// The preferences with the real core on the offscreen platform: the menu
// command to the dialog on the screen (the listeners' collect, the copy,
// five pages, the language files and the device list), an Apply that
// switches the language (every listener, the language files, the save)
// to the window speaking it, and the memory left behind by 200 openings.
// Exit status 1 when a median misses its goal or the memory grows.
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/application.h"
#include "bench/ui/bench_desktop.h"
#include "frontend/menu_tree.h"
#include "tests/support/temp_folder.cpp"  // NOLINT: benchmarks do not link the test support library
#include "ui/dialogs/preferences_dialog.h"

namespace korvanel {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kOpenings = 200;
constexpr double kOpenGoalMs = 100.0;
constexpr double kApplyGoalMs = 50.0;
constexpr long kGrowthGoalKb = 1024;

long residentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int run() {
    test::TempFolder home;
    std::filesystem::create_directories(home.path() + "/languages");
    for (const char* name : {"lang.default.xml", "lang.de.xml", "lang.fr.xml", "lang.es.xml"}) {
        std::filesystem::copy_file(std::string(KORVANEL_SOURCE_DIR) + "/languages/" + name,
                                   home.path() + "/languages/" + name);
    }
    bench::BenchDesktop desktop(home.path());
    MainWindow& window = desktop.window();

    std::vector<double> opens;
    std::vector<double> applies;
    long afterFirst = 0;
    for (int i = 0; i < kOpenings; ++i) {
        const Clock::time_point start = Clock::now();
        const int language = i % 2 == 0 ? 0 : 1;  // Deutsch, English, in turn
        std::function<void()> whenShown = [&] {
            auto* dialog = qobject_cast<PreferencesDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || !dialog->isVisible()) {
                QTimer::singleShot(0, whenShown);
                return;
            }
            opens.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            dialog->findChild<QComboBox*>(QStringLiteral("General/LanguageFile"))->setCurrentIndex(language);
            const Clock::time_point applied = Clock::now();
            dialog->applyButton().click();
            applies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - applied).count());
            dialog->reject();
        };
        QTimer::singleShot(0, whenShown);
        window.runCommand(command::kPreferences);
        if (i == 0) {
            afterFirst = residentKb();
        }
    }
    const long growth = residentKb() - afterFirst;
    const double open = median(opens);
    const double apply = median(applies);
    std::printf("preferences command to the dialog shown: median %.2f ms  max %.2f ms  [%s]\n", open,
                *std::max_element(opens.begin(), opens.end()), open < kOpenGoalMs ? "ok" : "MISSED");
    std::printf("Apply of another language to the window speaking it: median %.2f ms  max %.2f ms  [%s]\n", apply,
                *std::max_element(applies.begin(), applies.end()), apply < kApplyGoalMs ? "ok" : "MISSED");
    std::printf("resident memory after %d openings: %+ld kB since the first  [%s]\n", kOpenings, growth,
                growth < kGrowthGoalKb ? "ok" : "MISSED");
    return open < kOpenGoalMs && apply < kApplyGoalMs && growth < kGrowthGoalKb ? 0 : 1;
}

}  // namespace
}  // namespace korvanel

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qt(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return korvanel::run();
}
