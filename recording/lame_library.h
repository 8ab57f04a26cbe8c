#pragma once

#include <memory>
#include <string>
#include <utility>

#include "base/shared_library.h"

namespace korvanel {

// The MP3 encoder library (libmp3lame), loaded at run time so that the
// program runs without it; only recording to MP3 then fails. Holds the few
// entry points the encoder needs, declared here with the library's C
// signatures (enums are passed as int).
class LameLibrary {
public:
    static constexpr const char* kDefaultName = "libmp3lame.so.0";

    struct Flags;  // the library's lame_global_flags, opaque

    struct Functions {
        Flags* (*init)();
        int (*setInSampleRate)(Flags*, int);
        int (*setOutSampleRate)(Flags*, int);
        int (*setNumChannels)(Flags*, int);
        int (*setMode)(Flags*, int);
        int (*setBitrate)(Flags*, int);
        int (*setQuality)(Flags*, int);
        int (*setOriginal)(Flags*, int);
        int (*setCopyright)(Flags*, int);
        int (*setErrorProtection)(Flags*, int);
        int (*setExtension)(Flags*, int);
        int (*setEmphasis)(Flags*, int);
        int (*setDisableReservoir)(Flags*, int);
        int (*setStrictIso)(Flags*, int);
        int (*setVbr)(Flags*, int);
        int (*setWriteVbrTag)(Flags*, int);
        int (*initParams)(Flags*);
        int (*encodeBuffer)(Flags*, const short*, const short*, int, unsigned char*, int);
        int (*encodeBufferInterleaved)(Flags*, short*, int, unsigned char*, int);
        int (*encodeFlush)(Flags*, unsigned char*, int);
        int (*close)(Flags*);
    };

    // The library with every entry point, or nothing when it is missing or
    // incomplete.
    static std::unique_ptr<LameLibrary> load(const std::string& name = kDefaultName);

    const Functions& functions() const { return functions_; }

private:
    struct Key {
        explicit Key() = default;
    };

public:
    // Only load() can make one.
    LameLibrary(Key, SharedLibrary library, const Functions& functions)
        : library_(std::move(library)), functions_(functions) {}

private:
    SharedLibrary library_;
    Functions functions_;
};

}  // namespace korvanel
