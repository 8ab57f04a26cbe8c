#include "stream/http_response_head.h"

#include <algorithm>

namespace korvanel {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

std::string_view trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::size_t HttpResponseHead::findEnd(std::string_view received) {
    for (std::size_t i = 0; i < received.size(); ++i) {
        if (received[i] != '\n') {
            continue;
        }
        if (i + 1 < received.size() && received[i + 1] == '\n') {
            return i + 2;
        }
        if (i + 2 < received.size() && received[i + 1] == '\r' && received[i + 2] == '\n') {
            return i + 3;
        }
    }
    return 0;
}

std::optional<HttpResponseHead> HttpResponseHead::parse(std::string_view head) {
    if (head.size() > kMaxBytes) {
        return std::nullopt;
    }
    HttpResponseHead result;
    bool first = true;
    while (!head.empty()) {
        const std::size_t end = head.find('\n');
        std::string_view line = head.substr(0, end);
        head = end == std::string_view::npos ? std::string_view{} : head.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        std::string clean;
        std::copy_if(line.begin(), line.end(), std::back_inserter(clean),
                     [](char c) { return c != '\0'; });
        if (first) {
            first = false;
            std::string_view status = clean;
            if (status.starts_with("ICY ")) {
                status.remove_prefix(4);
            } else if (status.size() > 9 && status.starts_with("HTTP/1.") && isDigit(status[7]) &&
                       status[8] == ' ') {
                status.remove_prefix(9);
            } else {
                return std::nullopt;
            }
            if (status.size() < 3 || !isDigit(status[0]) || !isDigit(status[1]) ||
                !isDigit(status[2]) || (status.size() > 3 && status[3] != ' ')) {
                return std::nullopt;
            }
            result.status = (status[0] - '0') * 100 + (status[1] - '0') * 10 + (status[2] - '0');
            result.statusLine = std::move(clean);
            continue;
        }
        if (clean.empty()) {
            break;  // the blank line ends the head
        }
        if (result.lines.size() == kMaxLines) {
            return std::nullopt;
        }
        result.lines.push_back(std::move(clean));
    }
    if (first) {
        return std::nullopt;
    }
    return result;
}

std::optional<std::string> HttpResponseHead::header(std::string_view name) const {
    for (const std::string& line : lines) {
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos && equalNoCase(trim(std::string_view(line).substr(0, colon)), name)) {
            return std::string(trim(std::string_view(line).substr(colon + 1)));
        }
    }
    return std::nullopt;
}

}  // namespace korvanel
