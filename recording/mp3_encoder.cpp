#include "recording/mp3_encoder.h"

namespace korvanel {
namespace {

constexpr int kVbrOff = 0;
constexpr std::size_t kSamplesPerFrame = 1152;
// The library's rule for the worst case: 1.25 x samples + 7200 bytes.
constexpr std::size_t kOutputSlack = 7200;

bool isMpegSampleRate(int rate) {
    switch (rate) {
    case 8000: case 11025: case 12000: case 16000: case 22050: case 24000: case 32000: case 44100: case 48000:
        return true;
    default:
        return false;
    }
}

}  // namespace

int snapToLayer3Bitrate(int kbps) {
    constexpr int kBitrates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256};
    for (int bitrate : kBitrates) {
        if (bitrate >= kbps) {
            return bitrate;
        }
    }
    return 320;
}

Mp3EncoderConfig encoderConfigFor(int frequency, int channels, int bitrateKbps) {
    Mp3EncoderConfig config;
    config.sampleRate = frequency;
    config.channels = channels;
    config.channelMode = channels == 1 ? Mp3EncoderConfig::kMono : Mp3EncoderConfig::kJointStereo;
    config.bitrateKbps = bitrateKbps;
    return config;
}

EncoderInitResult Mp3Encoder::initStream(const Mp3EncoderConfig& config, std::size_t& samplesPerChunk,
                                         std::size_t& outputBufferSize) {
    closeStream();
    if (library_ == nullptr) {
        return EncoderInitResult::NoLibrary;
    }
    if ((config.channels != 1 && config.channels != 2) || config.sampleRate < 8000 || config.sampleRate > 192000) {
        return EncoderInitResult::BadFormat;
    }
    const LameLibrary::Functions& lame = library_->functions();
    LameLibrary::Flags* flags = lame.init();
    if (flags == nullptr) {
        return EncoderInitResult::LibraryRejected;
    }
    lame.setInSampleRate(flags, config.sampleRate);
    // The output keeps the input's rate whenever MP3 can carry it; only
    // other rates are left to the library to choose.
    lame.setOutSampleRate(flags, isMpegSampleRate(config.sampleRate) ? config.sampleRate : 0);
    lame.setNumChannels(flags, config.channels);
    lame.setMode(flags, config.channelMode);
    lame.setVbr(flags, kVbrOff);
    lame.setBitrate(flags, config.bitrateKbps);
    lame.setQuality(flags, config.quality);
    lame.setOriginal(flags, config.original ? 1 : 0);
    lame.setCopyright(flags, config.copyright ? 1 : 0);
    lame.setErrorProtection(flags, config.crc ? 1 : 0);
    lame.setExtension(flags, config.privateFlag ? 1 : 0);
    lame.setEmphasis(flags, config.emphasis);
    lame.setDisableReservoir(flags, config.noBitReservoir ? 1 : 0);
    lame.setStrictIso(flags, config.strictIso ? 1 : 0);
    // Each file gets an info frame of its own when it is closed; the
    // library's would describe the whole stream.
    lame.setWriteVbrTag(flags, 0);
    if (lame.initParams(flags) < 0) {
        lame.close(flags);
        return EncoderInitResult::LibraryRejected;
    }
    flags_ = flags;
    channels_ = config.channels;
    samplesPerChunk = kSamplesPerFrame * static_cast<std::size_t>(config.channels);
    outputBufferSize = kSamplesPerFrame * 5 / 4 + kOutputSlack;
    return EncoderInitResult::Ok;
}

bool Mp3Encoder::encodeChunk(const std::int16_t* samples, std::size_t sampleCount, unsigned char* output,
                             std::size_t outputSize, std::size_t& written) {
    written = 0;
    if (flags_ == nullptr) {
        return false;
    }
    const LameLibrary::Functions& lame = library_->functions();
    const int frames = static_cast<int>(sampleCount / static_cast<std::size_t>(channels_));
    const int capacity = static_cast<int>(outputSize);
    int result;
    if (channels_ == 1) {
        result = lame.encodeBuffer(flags_, samples, samples, frames, output, capacity);
    } else {
        // The library does not change the samples; its signature is just not const.
        result = lame.encodeBufferInterleaved(flags_, const_cast<std::int16_t*>(samples), frames, output, capacity);
    }
    if (result < 0) {
        return false;
    }
    written = static_cast<std::size_t>(result);
    return true;
}

bool Mp3Encoder::deinitStream(unsigned char* output, std::size_t outputSize, std::size_t& written) {
    written = 0;
    if (flags_ == nullptr) {
        return false;
    }
    const int result = library_->functions().encodeFlush(flags_, output, static_cast<int>(outputSize));
    if (result < 0) {
        return false;
    }
    written = static_cast<std::size_t>(result);
    return true;
}

void Mp3Encoder::closeStream() {
    if (flags_ != nullptr) {
        library_->functions().close(flags_);
        flags_ = nullptr;
    }
}

}  // namespace korvanel
