#pragma once

// What the fault tests share: korvanel-cli run beside the test, MP3 audio
// made by ffmpeg, and loopback servers that misbehave in set ways.

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/audio_file_tools.h"
#include "tests/support/child_process.h"
#include "tests/support/http_test_server.h"
#include "tests/support/process_runner.h"
#include "tests/support/temp_folder.h"

#if defined(__SANITIZE_THREAD__)
#define KORVANEL_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KORVANEL_THREAD_SANITIZER 1
#endif
#endif

namespace korvanel::test {

using namespace std::chrono_literals;

// The thread sanitizer shadows all memory a program touches several times
// over and keeps what it frees: resident sizes measure nothing under it.
#ifdef KORVANEL_THREAD_SANITIZER
inline constexpr bool kResidentSizesTell = false;
#else
inline constexpr bool kResidentSizesTell = true;
#endif

// korvanel-cli with its program folder in `home` and no update server.
inline std::vector<std::string> cliEnvironment(const TempFolder& home) {
    return {"KORVANEL_HOME=" + home.path(), "KORVANEL_UPDATE_SERVER=http://127.0.0.1:1"};
}

// Sends SIGINT, as Ctrl-C would, and measures how long the program takes to
// end; nothing when it is still running after the bound.
struct Interruption {
    std::optional<int> exitCode;
    std::chrono::milliseconds took{0};
};

inline Interruption interrupt(ChildProcess& child, std::chrono::milliseconds bound = 5s) {
    const auto sent = std::chrono::steady_clock::now();
    child.signal(SIGINT);
    Interruption result;
    result.exitCode = child.waitForExit(bound);
    result.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent);
    return result;
}

// How long a stop may take: the user presses stop and the program answers.
inline constexpr std::chrono::milliseconds kStopBound{1000};

// Plain MPEG-1 Layer III frames of a sine tone, 128 kbit/s, 44.1 kHz stereo,
// with neither an ID3 tag nor an info frame: what a radio server sends.
inline std::string mp3ToneFrames(const TempFolder& folder, int frequencyHz, double seconds) {
    const std::string path = folder.file("tone-" + std::to_string(frequencyHz) + ".mp3");
    const ToolResult made = runTool({"ffmpeg", "-hide_banner", "-nostdin", "-y", "-v", "error", "-f", "lavfi", "-i",
                                     "sine=frequency=" + std::to_string(frequencyHz) +
                                         ":sample_rate=44100:duration=" + std::to_string(seconds),
                                     "-ac", "2", "-c:a", "libmp3lame", "-b:a", "128k", "-write_xing", "0",
                                     "-id3v2_version", "0", "-f", "mp3", path});
    return made.exitCode == 0 ? readFile(path) : std::string();
}

inline constexpr std::size_t kMp3BytesPerSecond = 128000 / 8;

// An answer head for a stream of this content type (no length: live).
inline std::string streamHead(const std::string& contentType, std::size_t metaInterval = 0) {
    std::string head = "ICY 200 OK\r\nicy-name: Fault Radio\r\nContent-Type: " + contentType + "\r\n";
    if (metaInterval > 0) {
        head += "icy-metaint: " + std::to_string(metaInterval) + "\r\n";
    }
    return head + "\r\n";
}

// One ICY metadata block: a length byte counting 16-byte units, then the
// text padded with zeros.
inline std::string icyMetadataBlock(const std::string& text) {
    const std::size_t units = (text.size() + 15) / 16;
    std::string block(1, static_cast<char>(units));
    block += text;
    block.append(units * 16 - text.size(), '\0');
    return block;
}

// Sends audio paced at `bytesPerSecond` (in 50 ms slices), with a metadata
// block after every `metaInterval` audio bytes when that is not 0; the
// title of block n comes from titleOf(n). False once the client is gone or
// the server stops.
inline bool sendPaced(HttpTestServer::Connection& connection, const std::string& audio, std::size_t bytesPerSecond,
                      std::size_t metaInterval = 0,
                      const std::function<std::string(std::size_t)>& titleOf = nullptr) {
    const std::size_t slice = bytesPerSecond / 20;
    const auto started = std::chrono::steady_clock::now();
    std::size_t sent = 0;
    std::size_t untilMetadata = metaInterval;
    std::size_t blocks = 0;
    while (sent < audio.size()) {
        std::string piece;
        std::size_t take = std::min(slice, audio.size() - sent);
        while (take > 0) {
            const std::size_t part = metaInterval > 0 ? std::min(take, untilMetadata) : take;
            piece.append(audio, sent, part);
            sent += part;
            take -= part;
            if (metaInterval > 0 && (untilMetadata -= part) == 0) {
                piece += icyMetadataBlock("StreamTitle='" + (titleOf ? titleOf(blocks) : std::string()) + "';");
                ++blocks;
                untilMetadata = metaInterval;
            }
        }
        if (!connection.send(piece)) {
            return false;
        }
        const auto due = started + std::chrono::milliseconds(sent * 1000 / bytesPerSecond);
        const auto now = std::chrono::steady_clock::now();
        if (due > now && !connection.pause(std::chrono::duration_cast<std::chrono::milliseconds>(due - now))) {
            return false;
        }
    }
    return true;
}

}  // namespace korvanel::test
