#pragma once

#include "app/job.h"
#include "settings/settings_listener.h"

namespace korvanel {

// What the Application needs of its main window, whichever front end
// provides it (the desktop window or the console).
class AppWindow : public SettingsListener {
public:
    // The message loop of the process; returns when the window closes.
    virtual void run() = 0;
    // Queues an event for the window's worker; callable from any thread.
    virtual void post(Job event) = 0;
};

}  // namespace korvanel
