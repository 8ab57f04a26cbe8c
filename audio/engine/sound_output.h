#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>

namespace korvanel {

// What an output stream hands the sound output each time it wants samples.
// Runs on the output's own thread; copies and returns, never waits.
class PlaybackSource {
public:
    virtual ~PlaybackSource() = default;
    // Fills `out` with interleaved signed 16-bit samples, silence where there
    // is nothing; returns the bytes that belong to the stream (the rest is
    // padding) and whether the stream has ended.
    struct Filled {
        std::size_t bytes = 0;
        bool ended = false;
    };
    virtual Filled fill(std::span<std::uint8_t> out) = 0;
    // The output lost its device or its server: the stream cannot play on.
    virtual void lost() = 0;
};

struct PlaybackFormat {
    int frequency = 44100;
    int channels = 2;
};

// One playback stream on one device of a sound output. Created halted.
//
// Threads: any thread may call the members; the source is called on the
// output's own thread. Once halt() or the
// destructor returns, the source is not being called and will not be until
// the next start(), unless the call was made from the output's own thread.
class PlaybackStream {
public:
    virtual ~PlaybackStream() = default;
    // Starts pulling from the source.
    virtual void start() = 0;
    // Stops pulling and drops what the device holds, so it falls silent at once.
    virtual void halt() = 0;
    // Whether the output applies the volume itself (a sound server's stream
    // volume); otherwise the source scales its samples.
    virtual bool appliesVolume() const { return false; }
    // The stream's gain, 0..10000 for 0..100 %; only where appliesVolume().
    virtual void setVolume(int /*gain*/) {}
    // The desktop's name for what plays (the station); only where it shows one.
    virtual void setMediaName(const std::string& /*name*/) {}
    // Bytes handed over that the listener has not heard yet: what the
    // server or device still holds, as of now.
    virtual std::uint64_t queuedBytes() const { return 0; }
    virtual bool runsOn(std::thread::id thread) const = 0;
};

// A sound output: the desktop's sound server, SDL, or a file. Numbers its
// devices the way the engine does: 1 is the system's default output, 2, 3,
// ... the output's own devices.
//
// Threads: every member may be called from any thread.
class SoundOutput {
public:
    virtual ~SoundOutput() = default;
    // Which output this is, for the log and the device list:
    // "Sound server: ...", "SDL: ...", "File: ...".
    virtual std::string name() const = 0;
    // False once the output can open no more streams (its server went away):
    // the engine then chooses again when no stream is left on it.
    virtual bool usable() const { return true; }
    // The buffer a sound server keeps for each stream opened from now on;
    // outputs without one ignore it.
    virtual void setBufferMs(int /*milliseconds*/) {}
    // Highest device number (1 when only the default exists).
    virtual int deviceCount() const = 0;
    virtual std::optional<std::string> description(int device) const = 0;
    // A halted stream on `device`, or none and the reason.
    struct Opened {
        std::unique_ptr<PlaybackStream> stream;
        std::string error;
    };
    // The source must outlive the stream.
    virtual Opened open(int device, const PlaybackFormat& format, PlaybackSource& source) = 0;
};

}  // namespace korvanel
