#include "frontend/window_view.h"

#include <ctime>

namespace korvanel {

std::string logTimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[128];
    const std::size_t length = std::strftime(text, sizeof text, "%H:%M:%S :: ", &local);
    return std::string(text, length);
}

}  // namespace korvanel
