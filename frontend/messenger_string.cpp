#include "frontend/messenger_string.h"

namespace korvanel {

std::string expandTokens(std::string text, const std::vector<std::pair<std::string, std::string>>& tokens) {
    for (const auto& [token, value] : tokens) {
        if (token.empty()) {
            continue;
        }
        for (std::size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + value.size())) {
            text.replace(at, token.size(), value);
        }
    }
    return text;
}

}  // namespace korvanel
