#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace korvanel::test {

// A real icecast2 on a free 127.0.0.1 port, with ffmpeg source clients that
// feed its mounts a sine tone. Everything it starts is stopped (and waited
// for) by its destructor; every wait is bounded. When run as root, icecast
// drops to nobody/nogroup as it insists.
//
//     IcecastServer icecast;
//     ASSERT_TRUE(icecast.start());
//     ASSERT_TRUE(icecast.startSource({"/tone.mp3", IcecastServer::Codec::Mp3}));
//     play(icecast.url("/tone.mp3"));
class IcecastServer {
public:
    enum class Codec { Mp3, OggVorbis, Aac, OggOpus, OggFlac };  // AAC as ADTS frames

    struct Source {
        std::string mount;  // "/name.mp3"
        Codec codec = Codec::Mp3;
        int frequencyHz = 440;
        int sampleRate = 44100;
        int channels = 2;
        int bitrateKbps = 128;
        std::string stationName = "Korvanel Test Tone";
        std::string description = "A sine tone";
    };

    static constexpr const char* kAdminUser = "admin";

    IcecastServer();
    ~IcecastServer();
    IcecastServer(const IcecastServer&) = delete;
    IcecastServer& operator=(const IcecastServer&) = delete;

    // Whether icecast2 and ffmpeg are installed at all.
    static bool available();

    // Starts icecast and waits until it answers as itself: a port another
    // test took in the meantime is left for the next free one.
    bool start(std::chrono::milliseconds bound = std::chrono::seconds(10));
    // Ends icecast itself (its sources go too): every listener is cut off.
    void stop();
    // Starts icecast again on the same port, with no sources.
    bool restart(std::chrono::milliseconds bound = std::chrono::seconds(10));
    // Starts an ffmpeg source on the mount and waits until listeners can
    // connect to it.
    bool startSource(const Source& source, std::chrono::milliseconds bound = std::chrono::seconds(10));
    // A source client that sends the chained Ogg file at `path` (one logical
    // stream per title) to the mount in real time, over and over; rate is
    // the granule positions' sample rate.
    bool startChainedSource(const std::string& mount, const std::string& path, int rate,
                            std::chrono::milliseconds bound = std::chrono::seconds(10));
    // Ends the mount's source client (the listeners' streams end).
    void stopSource(const std::string& mount);
    // Sets the mount's title through icecast's admin metadata call.
    bool setTitle(const std::string& mount, const std::string& title);

    int port() const { return port_; }
    std::string url(const std::string& mount) const;
    // icecast's and its sources' own log lines, for failure messages.
    std::string errorLog() const;

private:
    struct Child;

    bool launch(std::chrono::milliseconds bound);
    bool launchSource(const Source& source, std::chrono::milliseconds bound);
    bool mountAnswers(const std::string& mount) const;
    // The answer's status line and body of a GET with optional basic auth.
    std::string request(const std::string& target, bool admin) const;

    TempFolder folder_;
    // Passwords of this server alone, so that a request or a source that
    // reaches another test's icecast on a reused port is refused there.
    std::string sourcePassword_;
    std::string adminPassword_;
    int port_ = 0;
    std::unique_ptr<Child> server_;
    std::string serverEndings_;  // how earlier servers of this port ended, for errorLog()
    std::map<std::string, std::unique_ptr<Child>> sources_;
};

}  // namespace korvanel::test
