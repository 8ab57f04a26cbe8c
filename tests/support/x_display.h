#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korvanel::test {

class ChildProcess;

// A private X server (Xvfb on a free display number) for driving a real
// window as a user would: xdotool finds windows, focuses them and presses
// keys; ImageMagick's import grabs a window's pixels. The server is stopped
// by the destructor; every wait is bounded.
class XDisplay {
public:
    struct Image {
        int width = 0;
        int height = 0;
        std::vector<std::uint8_t> rgb;  // row by row, three bytes a pixel
    };

    XDisplay();
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    // Whether Xvfb, xdotool and import are installed.
    static bool available();

    bool start(std::chrono::milliseconds bound = std::chrono::seconds(10));
    // ":N", for DISPLAY.
    std::string name() const { return ":" + std::to_string(number_); }

    // The id of a window whose title is exactly this text.
    std::optional<std::string> findWindow(const std::string& title, std::chrono::milliseconds bound);
    std::string title(const std::string& window);
    bool waitForTitle(const std::string& window, const std::string& title, std::chrono::milliseconds bound);
    bool focus(const std::string& window);
    // Whether a window with exactly this title is shown now.
    bool shows(const std::string& title);
    // A click of the mouse button (1 left, 3 right) inside the window.
    bool click(const std::string& window, int button);
    // Keys as xdotool names them ("alt+p", "Return"), sent to the focused window.
    bool key(const std::string& keys);
    // The window's pixels as the X server shows them.
    std::optional<Image> grab(const std::string& window);
    // The window written as a PNG file (for screenshots).
    bool savePng(const std::string& window, const std::string& path);

private:
    // Whether the server just started holds the display number and answers.
    bool waitUntilOurs(std::chrono::steady_clock::time_point deadline);
    std::string run(const std::string& program, const std::vector<std::string>& arguments, bool* ok = nullptr);

    int number_ = 0;
    std::unique_ptr<ChildProcess> server_;
};

// A PPM (P6, 8 bits) as an image; nothing when it is not one.
std::optional<XDisplay::Image> parsePpm(const std::string& bytes);

}  // namespace korvanel::test
