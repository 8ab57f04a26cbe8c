#include "stations/file_uri.h"

#include "base/ascii_text.h"

namespace korvanel {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const char lower = lowerAscii(c);
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

}  // namespace

std::string fileUriOfPath(std::string_view path) { return "file://" + percentEncoded(path, "/"); }

std::optional<std::string> pathOfFileUri(std::string_view uri) {
    if (lowerAscii(uri.substr(0, 7)) != "file://") {
        return std::nullopt;
    }
    std::string_view rest = uri.substr(7);
    if (lowerAscii(rest.substr(0, 10)) == "localhost/") {
        rest.remove_prefix(9);
    }
    if (!rest.starts_with('/')) {
        return std::nullopt;  // another machine's file
    }
    std::string path;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != '%') {
            path += rest[i];
            continue;
        }
        const int high = i + 2 < rest.size() ? hexValue(rest[i + 1]) : -1;
        const int low = high >= 0 ? hexValue(rest[i + 2]) : -1;
        if (low < 0) {
            return std::nullopt;
        }
        path += static_cast<char>(high * 16 + low);
        i += 2;
    }
    if (path.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    return path;
}

}  // namespace korvanel
