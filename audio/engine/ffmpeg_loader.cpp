#include "audio/engine/ffmpeg_loader.h"

#include <optional>
#include <string>

#include "app/shared_library.h"
#include "audio/engine/ffmpeg_functions.h"

namespace korvanel {

struct FfmpegLoader::Loaded {
    SharedLibrary avutil;
    SharedLibrary swresample;
    SharedLibrary avcodec;
    SharedLibrary avformat;
    FfmpegFunctions functions;
};

FfmpegLibraryNames FfmpegLibraryNames::installed() {
    // The major versions name the ABI the headers describe.
    const auto name = [](const char* stem, int major) {
        return std::string(stem) + ".so." + std::to_string(major);
    };
    return {name("libavutil", LIBAVUTIL_VERSION_MAJOR), name("libswresample", LIBSWRESAMPLE_VERSION_MAJOR),
            name("libavcodec", LIBAVCODEC_VERSION_MAJOR), name("libavformat", LIBAVFORMAT_VERSION_MAJOR)};
}

FfmpegLoader::FfmpegLoader(FfmpegLibraryNames names)
    : loaded_(std::async(std::launch::async, [names = std::move(names)] { return load(names); }).share()) {}

FfmpegLoader::~FfmpegLoader() { loaded_.wait(); }

const FfmpegFunctions* FfmpegLoader::functions() const {
    const std::shared_ptr<const Loaded>& loaded = loaded_.get();
    return loaded ? &loaded->functions : nullptr;
}

std::shared_ptr<const FfmpegLoader::Loaded> FfmpegLoader::load(const FfmpegLibraryNames& names) {
    std::optional<SharedLibrary> avutil = SharedLibrary::open(names.avutil);
    std::optional<SharedLibrary> swresample = SharedLibrary::open(names.swresample);
    std::optional<SharedLibrary> avcodec = SharedLibrary::open(names.avcodec);
    std::optional<SharedLibrary> avformat = SharedLibrary::open(names.avformat);
    if (!avutil || !swresample || !avcodec || !avformat) {
        return nullptr;
    }
    FfmpegFunctions f;
    bool complete = true;
    const auto resolve = [&complete](const SharedLibrary& library, const char* name, auto& function) {
        complete = library.resolve(name, function) && complete;
    };
#define KORVANEL_FROM_AVUTIL(name) resolve(*avutil, #name, f.name);
#define KORVANEL_FROM_SWRESAMPLE(name) resolve(*swresample, #name, f.name);
#define KORVANEL_FROM_AVCODEC(name) resolve(*avcodec, #name, f.name);
#define KORVANEL_FROM_AVFORMAT(name) resolve(*avformat, #name, f.name);
    KORVANEL_AVUTIL_FUNCTIONS(KORVANEL_FROM_AVUTIL)
    KORVANEL_SWRESAMPLE_FUNCTIONS(KORVANEL_FROM_SWRESAMPLE)
    KORVANEL_AVCODEC_FUNCTIONS(KORVANEL_FROM_AVCODEC)
    KORVANEL_AVFORMAT_FUNCTIONS(KORVANEL_FROM_AVFORMAT)
#undef KORVANEL_FROM_AVUTIL
#undef KORVANEL_FROM_SWRESAMPLE
#undef KORVANEL_FROM_AVCODEC
#undef KORVANEL_FROM_AVFORMAT
    if (!complete) {
        return nullptr;
    }
    // FFmpeg logs every damaged frame of a radio stream on stderr, the
    // decoders at error level, so a stream of garbage would flood it; the
    // engine reports failures through its error codes instead.
    f.av_log_set_level(AV_LOG_FATAL);
    return std::make_shared<const Loaded>(
        Loaded{std::move(*avutil), std::move(*swresample), std::move(*avcodec), std::move(*avformat), f});
}

}  // namespace korvanel
