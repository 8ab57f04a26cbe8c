#pragma once

#include <future>
#include <memory>
#include <mutex>
#include <string>

namespace korvanel {

struct FfmpegCodecFunctions;
struct FfmpegFormatFunctions;

// The file names of FFmpeg's libraries.
struct FfmpegLibraryNames {
    std::string avutil;
    std::string swresample;
    std::string avcodec;
    std::string avformat;
    // Those of the versions the program was built against.
    static FfmpegLibraryNames installed();
};

// Loads FFmpeg's libraries at run time. Mapping and binding them (and the
// hundred-odd libraries they pull in) takes tens of milliseconds: the codec
// libraries load on a thread of its own from construction on, so that the
// load overlaps a stream's connect instead of adding to it, and libavformat,
// which costs as much again and which raw MPEG and ADTS radio streams do
// without, loads only when a stream first needs it.
//
// Threads: both calls from any thread. The destructor waits for a load
// still under way.
class FfmpegLoader {
public:
    explicit FfmpegLoader(FfmpegLibraryNames names = FfmpegLibraryNames::installed());
    ~FfmpegLoader();
    FfmpegLoader(const FfmpegLoader&) = delete;
    FfmpegLoader& operator=(const FfmpegLoader&) = delete;

    // Waits for the codec libraries: every function, or nullptr when a
    // library or one of its functions is missing.
    const FfmpegCodecFunctions* codecs() const;
    // The same for libavformat, loaded by the first caller (others wait).
    const FfmpegFormatFunctions* formats() const;

private:
    struct Codecs;
    struct Formats;
    static std::shared_ptr<const Codecs> loadCodecs(const FfmpegLibraryNames& names);

    const std::string avformatName_;
    std::shared_future<std::shared_ptr<const Codecs>> codecs_;
    mutable std::once_flag formatsOnce_;
    mutable std::unique_ptr<const Formats> formats_;
};

}  // namespace korvanel
