#include "audio/engine/ffmpeg_decoder.h"

#include <cstring>

#include "audio/engine/ffmpeg_functions.h"

// The parser path: live raw MPEG audio and ADTS split into frames by
// libavcodec's parser, without libavformat.

namespace korvanel {
namespace {

// For the header frame an MP3 encoder puts first ("Xing", "Info" or "VBRI":
// silence to a decoder), the samples of encoder and decoder delay to drop
// after it, as libavformat's demuxer would; nothing for an audio frame.
std::optional<std::size_t> mp3HeaderFrameDelay(const std::uint8_t* frame, std::size_t size) {
    if (size < 4 || frame[0] != 0xFF || (frame[1] & 0xE0) != 0xE0) {
        return std::nullopt;
    }
    const bool mpeg1 = ((frame[1] >> 3) & 3) == 3;
    const bool mono = ((frame[3] >> 6) & 3) == 3;
    const std::size_t tag = 4 + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
    const auto at = [&](std::size_t offset, const char* text) {
        return offset + 4 <= size && std::memcmp(frame + offset, text, 4) == 0;
    };
    if (at(4 + 32, "VBRI")) {
        return 0;
    }
    if (!at(tag, "Xing") && !at(tag, "Info")) {
        return std::nullopt;
    }
    if (tag + 8 > size) {
        return 0;
    }
    const std::uint32_t flags = (static_cast<std::uint32_t>(frame[tag + 4]) << 24) | (frame[tag + 5] << 16) |
                                (frame[tag + 6] << 8) | frame[tag + 7];
    std::size_t encoder = tag + 8 + ((flags & 1) != 0 ? 4 : 0) + ((flags & 2) != 0 ? 4 : 0) +
                          ((flags & 4) != 0 ? 100 : 0) + ((flags & 8) != 0 ? 4 : 0);
    // The encoder's delay in the LAME extension, 21 bytes after its name.
    if (encoder + 24 > size || !(at(encoder, "LAME") || at(encoder, "Lavf") || at(encoder, "Lavc"))) {
        return 0;
    }
    const std::size_t delay = (static_cast<std::size_t>(frame[encoder + 21]) << 4) | (frame[encoder + 22] >> 4);
    return delay + 529;  // the decoder's own delay is 529 samples
}

}  // namespace

AudioError FfmpegDecoder::openParsed(ReadFunction read, const std::string& formatName) {
    read_ = std::move(read);
    const AVCodecID codecId = formatName == "aac" ? AV_CODEC_ID_AAC : AV_CODEC_ID_MP3;
    if (const AudioError error = openDecoder(codecId, nullptr); error != AudioError::Ok) {
        return error;
    }
    parser_.reset(codecs_.av_parser_init(codecId));
    if (!parser_) {
        return AudioError::FileFormat;
    }
    input_.assign(kIoBufferBytes + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    return AudioError::Ok;
}

bool FfmpegDecoder::refillInput(Step& step) {
    for (;;) {
        const std::size_t skipped =
            static_cast<std::size_t>(std::min<std::uint64_t>(skipBytes_, inputEnd_ - inputStart_));
        inputStart_ += skipped;
        skipBytes_ -= skipped;
        const std::size_t available = inputEnd_ - inputStart_;
        if (skipBytes_ == 0 && !startChecked_ && (available >= 10 || readEnded_)) {
            // An ID3v2 header: "ID3", version, flags, then the size in four
            // seven-bit bytes; a footer adds ten more. Tags may follow one
            // another.
            const std::uint8_t* head = input_.data() + inputStart_;
            if (available >= 10 && std::memcmp(head, "ID3", 3) == 0 && head[3] != 0xFF && head[4] != 0xFF &&
                ((head[6] | head[7] | head[8] | head[9]) & 0x80) == 0) {
                skipBytes_ = 10 + ((static_cast<std::uint64_t>(head[6]) << 21) | (head[7] << 14) | (head[8] << 7) |
                                   head[9]) +
                             ((head[5] & 0x10) != 0 ? 10 : 0);
                continue;
            }
            startChecked_ = true;
        }
        if (startChecked_ && available > 0) {
            return true;
        }
        if (readEnded_) {
            step = Step::End;
            return false;
        }
        // Keep what is unread (only the start of a tag header can be).
        std::memmove(input_.data(), input_.data() + inputStart_, available);
        inputStart_ = 0;
        inputEnd_ = available;
        const int count = read_(std::span(input_.data() + inputEnd_, kIoBufferBytes - inputEnd_));
        if (count < 0 || (interrupted_ && interrupted_())) {
            step = Step::Stopped;
            return false;
        }
        readEnded_ = count == 0;
        inputEnd_ += static_cast<std::size_t>(count);
        std::memset(input_.data() + inputEnd_, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    }
}

FfmpegDecoder::Step FfmpegDecoder::decodeParsed(const PcmSink& pcm) {
    Step step = Step::Decoded;
    const bool haveInput = refillInput(step);
    if (!haveInput && step == Step::Stopped) {
        return step;
    }
    // At the end, the parser is asked once more with no input for the frame it holds.
    std::uint8_t* data = nullptr;
    int size = 0;
    const int used = codecs_.av_parser_parse2(
        parser_.get(), codec_.get(), &data, &size, haveInput ? input_.data() + inputStart_ : nullptr,
        haveInput ? static_cast<int>(inputEnd_ - inputStart_) : 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (haveInput) {
        inputStart_ = used < 0 ? inputEnd_ : inputStart_ + static_cast<std::size_t>(used);
    }
    if (size > 0 && !firstPacketChecked_) {
        firstPacketChecked_ = true;
        if (codec_->codec_id != AV_CODEC_ID_AAC) {
            if (const std::optional<std::size_t> delay =
                    mp3HeaderFrameDelay(data, static_cast<std::size_t>(size))) {
                skipSamples_ = *delay;
                return haveInput ? Step::Decoded : drain(pcm);
            }
        }
    }
    if (size > 0) {
        if (!decodeBytes(data, size, pcm)) {
            return Step::Stopped;
        }
    }
    return haveInput ? Step::Decoded : drain(pcm);
}

}  // namespace korvanel
