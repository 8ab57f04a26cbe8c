#include "base/ascii_text.h"

namespace korvanel {

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        c = lowerAscii(c);
    }
    return lower;
}

std::string_view trimmedAscii(std::string_view text, std::string_view blanks) {
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace korvanel
