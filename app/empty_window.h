#pragma once

#include "app/app_window.h"

namespace korvanel {

// A window with no face: its loop ends at once and events are dropped. It
// lets the core start and stop where no front end is wanted.
class EmptyWindow final : public AppWindow {
public:
    void applySettings(SettingsStore&) override {}
    void collectSettings(SettingsStore&) override {}
    void run() override {}
    void post(WindowEvent) override {}
};

}  // namespace korvanel
