#pragma once

#include <future>
#include <memory>
#include <string>

namespace korvanel {

struct FfmpegFunctions;

// The file names of FFmpeg's libraries.
struct FfmpegLibraryNames {
    std::string avutil;
    std::string swresample;
    std::string avcodec;
    std::string avformat;
    // Those of the versions the program was built against.
    static FfmpegLibraryNames installed();
};

// Loads FFmpeg's libraries on a thread of its own from construction on.
// Mapping and binding them (and the hundred-odd libraries they pull in) takes
// tens of milliseconds, longer than connecting to a stream and reading its
// response head, so the two overlap instead of adding up; a program that
// never decodes never waits for them.
//
// Threads: functions() from any thread. The destructor waits for a load
// still under way.
class FfmpegLoader {
public:
    explicit FfmpegLoader(FfmpegLibraryNames names = FfmpegLibraryNames::installed());
    ~FfmpegLoader();
    FfmpegLoader(const FfmpegLoader&) = delete;
    FfmpegLoader& operator=(const FfmpegLoader&) = delete;

    // Waits for the load: every function, or nullptr when a library or one
    // of its functions is missing.
    const FfmpegFunctions* functions() const;

private:
    struct Loaded;
    static std::shared_ptr<const Loaded> load(const FfmpegLibraryNames& names);

    std::shared_future<std::shared_ptr<const Loaded>> loaded_;
};

}  // namespace korvanel
