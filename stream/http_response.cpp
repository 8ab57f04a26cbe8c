#include "stream/http_response.h"

namespace korvanel {
namespace {

constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kOkStatuses[] = {"HTTP/1.1 200 OK", "HTTP/1.0 200 OK"};

bool hasOkStatus(std::string_view response) {
    const std::string_view text = response.substr(0, response.find('\0'));
    const std::string_view statusLine = text.substr(0, text.find('\n'));
    for (std::string_view ok : kOkStatuses) {
        if (statusLine.find(ok) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<std::string_view> httpResponseBody(std::string_view response, std::size_t maxBodyBytes) {
    const std::size_t headerEnd = response.find(kHeaderEnd);
    if (!hasOkStatus(response) || headerEnd == std::string_view::npos ||
        response.size() - headerEnd - kHeaderEnd.size() > maxBodyBytes) {
        return std::nullopt;
    }
    return response.substr(headerEnd + kHeaderEnd.size());
}

}  // namespace korvanel
