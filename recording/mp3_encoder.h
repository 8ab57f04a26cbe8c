#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "recording/lame_library.h"

namespace korvanel {

// The settings of one encoder stream.
struct Mp3EncoderConfig {
    static constexpr int kJointStereo = 1;
    static constexpr int kMono = 3;
    static constexpr int kHighQuality = 2;  // the library's quality scale: 0 best, 9 fastest

    int sampleRate = 44100;  // input; the output keeps it
    int channels = 2;
    int channelMode = kJointStereo;
    int bitrateKbps = 128;  // constant bit rate
    int quality = kHighQuality;
    bool original = true;
    bool noBitReservoir = true;  // every frame decodes on its own, so files can be cut anywhere
    bool crc = false;
    bool copyright = false;
    bool privateFlag = false;
    int emphasis = 0;
    bool strictIso = false;
};

// The configuration for a stream of this format: mode 3 (mono) for one
// channel, else joint stereo.
Mp3EncoderConfig encoderConfigFor(int frequency, int channels, int bitrateKbps);

enum class EncoderInitResult {
    Ok = 0,
    NoLibrary,
    BadFormat,        // channel count or sample rate the library cannot take
    LibraryRejected,  // the library refused the parameters or had no memory
};

// One MP3 encoder stream over the loaded library, in four calls: start a
// stream, encode a chunk of PCM, flush the end of the stream, close it.
// Not thread-safe: one encoder writer owns it.
class Mp3Encoder {
public:
    explicit Mp3Encoder(const LameLibrary* library) : library_(library) {}
    ~Mp3Encoder() { closeStream(); }
    Mp3Encoder(const Mp3Encoder&) = delete;
    Mp3Encoder& operator=(const Mp3Encoder&) = delete;

    // Starts a stream (closing any open one). samplesPerChunk counts 16-bit
    // values over all channels; outputBufferSize is what one chunk, or the
    // flush, can produce at most.
    EncoderInitResult initStream(const Mp3EncoderConfig& config, std::size_t& samplesPerChunk,
                                 std::size_t& outputBufferSize);
    // Encodes interleaved samples (any whole number of sample frames up to
    // samplesPerChunk). False on an encoder error.
    bool encodeChunk(const std::int16_t* samples, std::size_t sampleCount, unsigned char* output,
                     std::size_t outputSize, std::size_t& written);
    // Encodes what the library still holds (the end of the stream).
    bool deinitStream(unsigned char* output, std::size_t outputSize, std::size_t& written);
    void closeStream();

    bool isStreamOpen() const { return flags_ != nullptr; }

private:
    const LameLibrary* library_;
    LameLibrary::Flags* flags_ = nullptr;
    int channels_ = 0;
};

// An MPEG-1 Layer III bit rate: the smallest of 32 ... 256 kbit/s that is
// not below kbps, and 320 above 256.
int snapToLayer3Bitrate(int kbps);

}  // namespace korvanel
