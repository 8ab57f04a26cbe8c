#include <cstdio>

#include "app/application.h"
#include "app/empty_window.h"
#include "base/program_path.h"

// The desktop player. Until its window exists it starts the core with a
// window that closes at once, which loads and saves the settings file.
int main() {
    std::fprintf(stderr,
                 "korvanel: the desktop window is not built yet; starting the core with no "
                 "window (settings in %s)\n",
                 korvanel::resolveProgramPath(korvanel::Application::kSettingsFileName).c_str());
    {
        korvanel::Application application(
            [](korvanel::Application&) { return std::make_unique<korvanel::EmptyWindow>(); });
        if (korvanel::AppWindow* window = application.mainWindow()) {
            window->run();
        }
    }
    return 0;
}
