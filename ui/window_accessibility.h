#pragma once

namespace korvanel {

// Makes the player's own top-level windows frames to screen readers, named
// by their window titles. Qt gives a plain QWidget window the role of a
// client area ("filler" over AT-SPI), so no window and no title would be
// announced; dialogs and menus keep the roles Qt gives them.
//
// Installed for as long as it lives; one at a time, made on the GUI thread
// before the first window.
class WindowAccessibility {
public:
    WindowAccessibility();
    ~WindowAccessibility();
    WindowAccessibility(const WindowAccessibility&) = delete;
    WindowAccessibility& operator=(const WindowAccessibility&) = delete;
};

}  // namespace korvanel
