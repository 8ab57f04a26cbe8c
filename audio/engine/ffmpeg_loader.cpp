#include "audio/engine/ffmpeg_loader.h"

#include <optional>

#include "base/shared_library.h"
#include "audio/engine/ffmpeg_functions.h"

namespace korvanel {

struct FfmpegLoader::Codecs {
    SharedLibrary avutil;
    SharedLibrary swresample;
    SharedLibrary avcodec;
    FfmpegCodecFunctions functions;
};

struct FfmpegLoader::Formats {
    SharedLibrary avformat;
    FfmpegFormatFunctions functions;
};

namespace {

// Resolves a function into `complete`'s tally: one missing spoils the table.
struct Resolver {
    bool complete = true;
    template <class Function>
    void operator()(const SharedLibrary& library, const char* name, Function& function) {
        complete = library.resolve(name, function) && complete;
    }
};

}  // namespace

FfmpegLibraryNames FfmpegLibraryNames::installed() {
    // The major versions name the ABI the headers describe.
    const auto name = [](const char* stem, int major) {
        return std::string(stem) + ".so." + std::to_string(major);
    };
    return {name("libavutil", LIBAVUTIL_VERSION_MAJOR), name("libswresample", LIBSWRESAMPLE_VERSION_MAJOR),
            name("libavcodec", LIBAVCODEC_VERSION_MAJOR), name("libavformat", LIBAVFORMAT_VERSION_MAJOR)};
}

FfmpegLoader::FfmpegLoader(FfmpegLibraryNames names)
    : avformatName_(names.avformat),
      codecs_(std::async(std::launch::async, [names = std::move(names)] { return loadCodecs(names); }).share()) {}

FfmpegLoader::~FfmpegLoader() { codecs_.wait(); }

const FfmpegCodecFunctions* FfmpegLoader::codecs() const {
    const std::shared_ptr<const Codecs>& loaded = codecs_.get();
    return loaded ? &loaded->functions : nullptr;
}

const FfmpegFormatFunctions* FfmpegLoader::formats() const {
    // libavformat needs the codec libraries in place first.
    if (codecs() == nullptr) {
        return nullptr;
    }
    std::call_once(formatsOnce_, [this] {
        std::optional<SharedLibrary> avformat = SharedLibrary::open(avformatName_);
        if (!avformat) {
            return;
        }
        FfmpegFormatFunctions f;
        Resolver resolve;
#define KORVANEL_FROM_AVFORMAT(name) resolve(*avformat, #name, f.name);
        KORVANEL_AVFORMAT_FUNCTIONS(KORVANEL_FROM_AVFORMAT)
#undef KORVANEL_FROM_AVFORMAT
        if (resolve.complete) {
            formats_ = std::make_unique<const Formats>(Formats{std::move(*avformat), f});
        }
    });
    return formats_ ? &formats_->functions : nullptr;
}

std::shared_ptr<const FfmpegLoader::Codecs> FfmpegLoader::loadCodecs(const FfmpegLibraryNames& names) {
    std::optional<SharedLibrary> avutil = SharedLibrary::open(names.avutil);
    std::optional<SharedLibrary> swresample = SharedLibrary::open(names.swresample);
    std::optional<SharedLibrary> avcodec = SharedLibrary::open(names.avcodec);
    if (!avutil || !swresample || !avcodec) {
        return nullptr;
    }
    FfmpegCodecFunctions f;
    Resolver resolve;
#define KORVANEL_FROM_AVUTIL(name) resolve(*avutil, #name, f.name);
#define KORVANEL_FROM_SWRESAMPLE(name) resolve(*swresample, #name, f.name);
#define KORVANEL_FROM_AVCODEC(name) resolve(*avcodec, #name, f.name);
    KORVANEL_AVUTIL_FUNCTIONS(KORVANEL_FROM_AVUTIL)
    KORVANEL_SWRESAMPLE_FUNCTIONS(KORVANEL_FROM_SWRESAMPLE)
    KORVANEL_AVCODEC_FUNCTIONS(KORVANEL_FROM_AVCODEC)
#undef KORVANEL_FROM_AVUTIL
#undef KORVANEL_FROM_SWRESAMPLE
#undef KORVANEL_FROM_AVCODEC
    if (!resolve.complete) {
        return nullptr;
    }
    // FFmpeg logs every damaged frame of a radio stream on stderr, the
    // decoders at error level, so a stream of garbage would flood it; the
    // engine reports failures through its error codes instead.
    f.av_log_set_level(AV_LOG_FATAL);
    return std::make_shared<const Codecs>(Codecs{std::move(*avutil), std::move(*swresample), std::move(*avcodec), f});
}

}  // namespace korvanel
