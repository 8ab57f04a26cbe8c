#include "tests/support/hls_test_server.h"

#include <thread>

#include "tests/support/audio_file_tools.h"
#include "tests/support/child_process.h"

namespace korvanel::test {
namespace {

std::string contentType(const std::string& name) {
    if (name.ends_with(".m3u8")) {
        return "application/vnd.apple.mpegurl";
    }
    if (name.ends_with(".ts")) {
        return "video/mp2t";
    }
    return name.ends_with(".aac") ? "audio/aac" : "application/octet-stream";
}

std::vector<std::string> codecArguments(HlsTestServer::Codec codec) {
    switch (codec) {
        case HlsTestServer::Codec::Mp3: return {"-c:a", "libmp3lame", "-b:a", "128k"};
        case HlsTestServer::Codec::Opus: return {"-c:a", "libopus", "-b:a", "64k", "-ar", "48000"};
        case HlsTestServer::Codec::Flac: return {"-c:a", "flac", "-strict", "experimental"};
        case HlsTestServer::Codec::Aac: break;
    }
    return {"-c:a", "aac", "-b:a", "128k"};
}

std::vector<std::string> segmentArguments(HlsTestServer::Segments segments) {
    if (segments == HlsTestServer::Segments::TransportStream) {
        return {};
    }
    return {"-hls_segment_type", "fmp4", "-hls_fmp4_init_filename", "init.mp4"};
}

}  // namespace

struct HlsTestServer::Packager {
    std::unique_ptr<ChildProcess> ffmpeg;
};

HlsTestServer::HlsTestServer()
    : packager_(std::make_unique<Packager>()),
      server_([this](HttpTestServer::Connection& connection, const std::string& request) {
          answer(connection, request);
      }) {}

HlsTestServer::~HlsTestServer() { stopLiveTone(); }

void HlsTestServer::answer(HttpTestServer::Connection& connection, const std::string& request) {
    const std::size_t start = request.find(' ');
    const std::size_t end = request.find(' ', start + 1);
    const std::string path = start == std::string::npos ? "" : request.substr(start + 1, end - start - 1);
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (const auto scripted = scripted_.find(path); scripted != scripted_.end()) {
            connection.send(scripted->second);
            return;
        }
    }
    const std::string name = path.substr(0, path.find('?')).substr(1);
    std::string body;
    if (!name.empty() && name.find('/') == std::string::npos && name.find("..") == std::string::npos) {
        body = readFile(folder_.file(name));
    }
    if (body.empty()) {
        connection.send("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        return;
    }
    connection.send("HTTP/1.0 200 OK\r\nContent-Type: " + contentType(name) +
                    "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

bool HlsTestServer::startLiveTone(int frequencyHz, Codec codec, Segments segments) {
    stopLiveTone();
    const std::string before = readFile(folder_.file("live.m3u8"));  // a stopped packager's, if any
    std::vector<std::string> arguments = {"-hide_banner", "-nostdin", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
                                          "sine=frequency=" + std::to_string(frequencyHz) + ":sample_rate=44100",
                                          "-ac", "2"};
    for (const std::string& argument : codecArguments(codec)) {
        arguments.push_back(argument);
    }
    // Segments of a second, so that tests see many reloads in little time.
    for (const char* argument : {"-f", "hls", "-hls_time", "1", "-hls_list_size", "5", "-hls_flags",
                                 "delete_segments+temp_file"}) {
        arguments.emplace_back(argument);
    }
    for (const std::string& argument : segmentArguments(segments)) {
        arguments.push_back(argument);
    }
    arguments.push_back(folder_.file("live.m3u8"));
    packager_->ffmpeg = std::make_unique<ChildProcess>("/usr/bin/ffmpeg", arguments);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string now = readFile(folder_.file("live.m3u8"));
        if (now != before && countOf(now, "#EXTINF") >= 3 && now.find("#EXT-X-MEDIA-SEQUENCE:0") != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

void HlsTestServer::stopLiveTone() { packager_->ffmpeg.reset(); }

void HlsTestServer::put(const std::string& name, const std::string& bytes) {
    // Written beside and renamed, as a packager does, so a reader never sees half a file.
    writeFile(folder_.file(name + ".part"), bytes);
    std::rename(folder_.file(name + ".part").c_str(), folder_.file(name).c_str());
}

void HlsTestServer::script(const std::string& path, const std::string& answer) {
    std::lock_guard<std::mutex> guard(lock_);
    scripted_[path] = answer;
}

std::vector<std::string> HlsTestServer::requestLines() const {
    std::vector<std::string> lines;
    for (const std::string& request : server_.requests()) {
        lines.push_back(request.substr(0, request.find("\r\n")));
    }
    return lines;
}

bool HlsTestServer::makeSegments(int frequencyHz, int count, double seconds, Codec codec, Segments segments) {
    std::vector<std::string> arguments = {"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi",
                                          "-i", "sine=frequency=" + std::to_string(frequencyHz) + ":sample_rate=44100",
                                          "-t", std::to_string(seconds * count), "-ac", "2"};
    for (const std::string& argument : codecArguments(codec)) {
        arguments.push_back(argument);
    }
    arguments.insert(arguments.end(), {"-f", "hls", "-hls_time", std::to_string(seconds), "-hls_list_size", "0",
                                       "-hls_playlist_type", "vod"});
    for (const std::string& argument : segmentArguments(segments)) {
        arguments.push_back(argument);
    }
    const std::string extension = segments == Segments::Fragmented ? ".m4s" : ".ts";
    arguments.push_back("-hls_segment_filename");
    arguments.push_back(folder_.file("part%d" + extension));
    arguments.push_back(folder_.file("vod.m3u8"));
    return runTool(arguments).exitCode == 0 &&
           !readFile(folder_.file("part" + std::to_string(count - 1) + extension)).empty();
}

std::vector<std::string> adtsParts(const std::string& adts, double seconds) {
    std::vector<std::string> parts;
    std::string part;
    double partSeconds = 0;
    for (std::size_t at = 0; at + 7 <= adts.size();) {
        const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(adts[at + i]); };
        if (byte(0) != 0xFF || (byte(1) & 0xF6) != 0xF0) {
            break;
        }
        const std::size_t length = (std::size_t{byte(3)} & 0x03) << 11 | std::size_t{byte(4)} << 3 | byte(5) >> 5;
        static constexpr int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};
        const int rateIndex = (byte(2) >> 2) & 0x0F;
        if (length < 7 || at + length > adts.size() || rateIndex >= 12) {
            break;
        }
        part += adts.substr(at, length);
        partSeconds += 1024.0 / kRates[rateIndex];
        at += length;
        if (partSeconds >= seconds) {
            parts.push_back(std::move(part));
            part.clear();
            partSeconds = 0;
        }
    }
    if (!part.empty()) {
        parts.push_back(std::move(part));
    }
    return parts;
}

}  // namespace korvanel::test
