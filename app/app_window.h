#pragma once

#include "base/event_sink.h"
#include "settings/settings_listener.h"

namespace korvanel {

// What the Application needs of its main window, whichever front end
// provides it (the desktop window or the console): the components' events
// arrive through its EventSink side.
class AppWindow : public EventSink, public SettingsListener {
public:
    // The message loop of the process; returns when the window closes.
    virtual void run() = 0;
};

}  // namespace korvanel
