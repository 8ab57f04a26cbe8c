#include "recording/file_name_cleaning.h"

#include <algorithm>

#include "settings/text_encoding.h"

namespace korvanel {
namespace {

constexpr std::string_view kForbidden = "\"*/:<>?\\|";

// The length of the UTF-8 sequence starting at text[offset], or 1 when the
// bytes there are not a valid sequence.
std::size_t utf8SequenceLength(std::string_view text, std::size_t offset) {
    const auto lead = static_cast<unsigned char>(text[offset]);
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (length == 1 || offset + length > text.size() || !isValidUtf8(text.substr(offset, length))) {
        return 1;
    }
    return length;
}

std::string safeComponent(std::string_view component) {
    if (component.empty()) {
        return "_";
    }
    std::string safe(truncateUtf8(component, kMaxComponentBytes));
    // ".", ".." and hidden names: the leading dots become underscores.
    for (char& c : safe) {
        if (c != '.') {
            break;
        }
        c = '_';
    }
    // A NUL would end the path early wherever it is handed to the system.
    std::replace(safe.begin(), safe.end(), '\0', '_');
    return safe;
}

}  // namespace

std::string cleanNameValue(std::string_view value) {
    std::string cleaned;
    cleaned.reserve(value.size() < kMaxValueChars ? value.size() : kMaxValueChars);
    std::size_t offset = 0;
    while (offset < value.size() && cleaned.size() < kMaxValueChars) {
        const auto byte = static_cast<unsigned char>(value[offset]);
        if (byte >= 0x80) {
            cleaned.push_back('_');
            offset += utf8SequenceLength(value, offset);
            continue;
        }
        const bool forbidden = byte < 0x20 || kForbidden.find(static_cast<char>(byte)) != std::string_view::npos;
        cleaned.push_back(forbidden ? '_' : static_cast<char>(byte));
        ++offset;
    }
    return cleaned;
}

std::string safeRelativeName(std::string_view name) {
    std::string safe;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = name.find_first_of("/\\", start);
        const std::string_view component = name.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!safe.empty() || start > 0) {
            safe.push_back('/');
        }
        safe += safeComponent(component);
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    return safe;
}

}  // namespace korvanel
