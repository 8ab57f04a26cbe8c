#pragma once

// The desktop program's window over the real core, for the window
// benchmarks: settings and station lists from `home`, no update server,
// SDL's dummy card. Ready once constructed: the start event, the station
// lists and the player's start have run. Benchmarks include
// tests/support/temp_folder.cpp themselves (they do not link the test
// support library).

#include <QTest>

#include <memory>
#include <string>

#include "app/application.h"
#include "tests/support/temp_folder.h"
#include "ui/desktop_window.h"

namespace korvanel::bench {

class BenchDesktop {
public:
    explicit BenchDesktop(const std::string& home)
        : home_("KORVANEL_HOME", home),
          noServer_("KORVANEL_UPDATE_SERVER", "http://127.0.0.1:1"),
          driver_("SDL_AUDIODRIVER", "dummy"),
          application_([this](Application& core) {
              auto made = std::make_unique<DesktopWindow>(core);
              desktop_ = made.get();
              return made;
          }) {
        QTest::qWait(500);
    }

    Application& application() { return application_; }
    MainWindow& window() { return desktop_->mainWindow(); }

private:
    test::ScopedEnv home_;
    test::ScopedEnv noServer_;
    test::ScopedEnv driver_;
    DesktopWindow* desktop_ = nullptr;  // owned by application_, set while it is built
    Application application_;
};

}  // namespace korvanel::bench
