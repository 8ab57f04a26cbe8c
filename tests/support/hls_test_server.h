#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/http_test_server.h"
#include "tests/support/temp_folder.h"

namespace korvanel::test {

// HLS over loopback HTTP: a folder whose files are served by name, files
// put in by the test, answers scripted per path (a 404, a redirect), and
// ffmpeg's HLS muxer writing a live tone into the folder as a real packager
// does (1 s segments, 5 in the list, older ones deleted).
class HlsTestServer {
public:
    enum class Codec { Aac, Mp3, Opus, Flac };  // Opus and FLAC in fragmented MP4 only
    // MPEG-TS, or fragmented MP4 behind init.mp4 (#EXT-X-MAP).
    enum class Segments { TransportStream, Fragmented };

    HlsTestServer();
    ~HlsTestServer();
    HlsTestServer(const HlsTestServer&) = delete;
    HlsTestServer& operator=(const HlsTestServer&) = delete;

    // ffmpeg writing live.m3u8 and its segments in real time; waits until
    // the playlist lists three segments. Started again, it numbers its
    // segments from 0 again, as a packager that restarts does.
    bool startLiveTone(int frequencyHz = 440, Codec codec = Codec::Aac, Segments segments = Segments::TransportStream);
    // The packager ends: the playlist stays as it was and stops moving.
    void stopLiveTone();

    // A file served at /name.
    void put(const std::string& name, const std::string& bytes);
    // The whole answer for a path, in place of a file.
    void script(const std::string& path, const std::string& answer);

    std::string url(const std::string& name) const { return server_.url("/" + name); }
    std::string file(const std::string& name) const { return folder_.file(name); }
    // Request lines seen so far ("GET /live.m3u8 HTTP/1.0").
    std::vector<std::string> requestLines() const;

    // Tone segments of an ended (VOD) stream made by ffmpeg's HLS muxer:
    // count segments of `seconds` each as part0.ts, part1.ts... (or
    // part0.m4s... after init.mp4) in the folder; false when ffmpeg failed.
    bool makeSegments(int frequencyHz, int count, double seconds, Codec codec = Codec::Aac,
                      Segments segments = Segments::TransportStream);

private:
    void answer(HttpTestServer::Connection& connection, const std::string& request);

    TempFolder folder_;
    mutable std::mutex lock_;
    std::map<std::string, std::string> scripted_;
    struct Packager;
    std::unique_ptr<Packager> packager_;
    HttpTestServer server_;  // last: it stops before what it serves goes
};

// ADTS frames of an AAC tone, and the bytes cut at frame starts into parts
// of about `seconds` each.
std::vector<std::string> adtsParts(const std::string& adts, double seconds);

}  // namespace korvanel::test
