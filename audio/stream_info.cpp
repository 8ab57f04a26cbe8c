#include "audio/stream_info.h"

#include <cstdio>

namespace korvanel {
namespace {

std::int64_t steadyMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool isTrimmed(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

StreamInfo::StreamInfo() : StreamInfo(steadyMilliseconds) {}

StreamInfo::StreamInfo(Clock clock) : clock_(std::move(clock)) { reset(); }

void StreamInfo::applySettings(SettingsStore& /*store*/) {}
void StreamInfo::collectSettings(SettingsStore& /*store*/) {}

void StreamInfo::reset() {
    clearStation();
    clearStream();
}

void StreamInfo::clearStation() {
    std::lock_guard<std::mutex> guard(lock_);
    stationName_.clear();
    stationUrl_.clear();
    touch();
}

void StreamInfo::clearStream() {
    std::lock_guard<std::mutex> guard(lock_);
    source_.clear();
    title_.clear();
    bitrate_ = 0;
    kind_ = StreamKind::Other;
    touch();
}

void StreamInfo::setStationName(std::string_view text) {
    std::lock_guard<std::mutex> guard(lock_);
    stationName_ = trimmed(text);
    touch();
}

void StreamInfo::setStationUrl(std::string_view text) {
    std::lock_guard<std::mutex> guard(lock_);
    stationUrl_ = trimmed(text);
    touch();
}

void StreamInfo::setSource(std::string_view text) {
    std::lock_guard<std::mutex> guard(lock_);
    source_ = trimmed(text);
    touch();
}

void StreamInfo::setTitle(std::string_view text) {
    std::lock_guard<std::mutex> guard(lock_);
    title_ = trimmed(text);
    touch();
}

bool StreamInfo::setTitleIfChanged(std::string_view text) {
    const std::string_view title = trimmed(text);
    std::lock_guard<std::mutex> guard(lock_);
    if (title == title_) {
        return false;
    }
    title_ = title;
    touch();
    return true;
}

void StreamInfo::setBitrate(int kbps) {
    std::lock_guard<std::mutex> guard(lock_);
    bitrate_ = kbps;
    touch();
}

void StreamInfo::setKind(StreamKind kind) {
    std::lock_guard<std::mutex> guard(lock_);
    kind_ = kind;
    touch();
}

std::int64_t StreamInfo::lastChange() const {
    std::lock_guard<std::mutex> guard(lock_);
    return lastChange_;
}

std::string StreamInfo::stationName() const {
    std::lock_guard<std::mutex> guard(lock_);
    return stationName_;
}

std::string StreamInfo::stationUrl() const {
    std::lock_guard<std::mutex> guard(lock_);
    return stationUrl_;
}

std::string StreamInfo::source() const {
    std::lock_guard<std::mutex> guard(lock_);
    return source_;
}

std::string StreamInfo::title() const {
    std::lock_guard<std::mutex> guard(lock_);
    return title_;
}

std::string StreamInfo::describe() const {
    std::lock_guard<std::mutex> guard(lock_);
    return describe(kind_, bitrate_);
}

int StreamInfo::bitrate() const {
    std::lock_guard<std::mutex> guard(lock_);
    return bitrate_;
}

StreamKind StreamInfo::kind() const {
    std::lock_guard<std::mutex> guard(lock_);
    return kind_;
}

StreamInfo::Snapshot StreamInfo::snapshot() const {
    std::lock_guard<std::mutex> guard(lock_);
    return Snapshot{stationName_, stationUrl_, source_, title_, bitrate_, kind_, lastChange_};
}

std::string StreamInfo::describe(StreamKind kind, int bitrate) {
    const char* name = nullptr;
    switch (kind) {
        case StreamKind::Mp3: name = "Streaming MP3 Audio"; break;
        case StreamKind::OggVorbis: name = "Streaming Ogg Vorbis Audio"; break;
        case StreamKind::OggOpus: name = "Streaming Ogg Opus Audio"; break;
        case StreamKind::OggFlac: name = "Streaming Ogg FLAC Audio"; break;
        case StreamKind::WindowsMedia: name = "Streaming Windows Media Audio"; break;
        case StreamKind::MpegLayer1: name = "Streaming MPEG Layer 1"; break;
        case StreamKind::MpegLayer2: name = "Streaming MPEG Layer 2"; break;
        case StreamKind::Mpeg2Layer1: name = "Streaming MPEG-2 Layer 1"; break;
        case StreamKind::Mpeg2Layer2: name = "Streaming MPEG-2 Layer 2"; break;
        case StreamKind::Mpeg2Layer3: name = "Streaming MPEG-2 Layer 3"; break;
        case StreamKind::Aac: name = "Streaming AAC Audio"; break;
        case StreamKind::Other: break;
    }
    if (name == nullptr) {
        return {};
    }
    if (bitrate == 0) {
        return name;
    }
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%d kbps, ", bitrate);
    return std::string(prefix) + name;
}

std::string_view StreamInfo::trimmed(std::string_view text) {
    while (!text.empty() && isTrimmed(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isTrimmed(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

void StreamInfo::touch() { lastChange_ = clock_(); }

}  // namespace korvanel
