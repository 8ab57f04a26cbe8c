#include "stream/source_classification.h"

#include "base/ascii_text.h"

namespace korvanel {

namespace {

constexpr std::string_view kHttpScheme = "http://";
constexpr std::string_view kHttpsScheme = "https://";
constexpr std::string_view kMmsScheme = "mms://";
constexpr std::string_view kRtspScheme = "rtsp://";

constexpr std::string_view kPlaylistMarks[] = {".pls", ".m3u", ".asx", ".php", ".asp"};
constexpr std::string_view kWindowsMediaMarks[] = {".asf", ".wma"};
// Newer playlist names, taken only as the path's own extension: found
// anywhere, ".wax" would catch a host name.
constexpr std::string_view kPlaylistExtensions[] = {".wax", ".xspf"};

bool isWindowsMediaScheme(std::string_view address) {
    return startsWith(address, kMmsScheme) || startsWith(address, kRtspScheme);
}

}  // namespace

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool isWebAddress(std::string_view address) {
    return startsWith(address, kHttpScheme) || startsWith(address, kHttpsScheme);
}

bool needsResolving(std::string_view address) {
    if (isWindowsMediaScheme(address)) {
        return false;
    }
    for (std::string_view mark : kPlaylistMarks) {
        if (contains(address, mark)) {
            return true;
        }
    }
    const std::size_t scheme = address.find("://");
    const std::size_t pathStart =
        scheme == std::string_view::npos ? 0 : address.find('/', scheme + 3);
    if (pathStart == std::string_view::npos) {
        return false;
    }
    std::string_view path = address.substr(pathStart);
    path = path.substr(0, path.find_first_of("?#"));
    for (std::string_view extension : kPlaylistExtensions) {
        if (path.size() >= extension.size() &&
            lowerAscii(path.substr(path.size() - extension.size())) == extension) {
            return true;
        }
    }
    return false;
}

OpenRoute openRoute(std::string_view address) {
    if (address.empty()) {
        return OpenRoute::NotNetwork;
    }
    if (isWebAddress(address)) {
        for (std::string_view mark : kWindowsMediaMarks) {
            if (contains(address, mark)) {
                return OpenRoute::WindowsMedia;
            }
        }
        return OpenRoute::HttpStream;
    }
    if (isWindowsMediaScheme(address)) {
        return OpenRoute::WindowsMedia;
    }
    return OpenRoute::NotNetwork;
}

StreamKind kindOfChannel(std::uint32_t channelType) {
    switch (channelType) {
        case channel_type::kMp3Stream:
            return StreamKind::Mp3;
        case channel_type::kOggVorbisStream:
            return StreamKind::OggVorbis;
        case channel_type::kOggOpusStream:
            return StreamKind::OggOpus;
        case channel_type::kOggFlacStream:
            return StreamKind::OggFlac;
        case channel_type::kWindowsMediaStream:
            return StreamKind::WindowsMedia;
        case channel_type::kAacStream:
            return StreamKind::Aac;
        default:
            return StreamKind::Other;
    }
}

}  // namespace korvanel
