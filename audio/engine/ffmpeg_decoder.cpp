#include "audio/engine/ffmpeg_decoder.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "audio/engine/ffmpeg_functions.h"
#include "base/ascii_text.h"

// What the three input paths share: the decoder, the conversion to our
// sample format, and what is known of the stream. Each path has its own file:
// ffmpeg_decoder_demuxer.cpp, ffmpeg_decoder_parser.cpp, ffmpeg_decoder_ogg.cpp.

namespace korvanel {
namespace {


}  // namespace

void FfmpegDecoder::appendEntries(const FfmpegCodecFunctions& ff, const AVDictionary* dictionary, std::vector<std::string>& out,
                   const char* separator) {
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = ff.av_dict_get(dictionary, "", entry, AV_DICT_IGNORE_SUFFIX)) != nullptr) {
        out.push_back(std::string(entry->key) + separator + entry->value);
    }
}

FfmpegDecoder::FfmpegDecoder(const FfmpegCodecFunctions& codecs, const FfmpegFormatFunctions* formats,
                             InterruptFunction interrupted)
    : codecs_(codecs),
      formats_(formats),
      interrupted_(std::move(interrupted)),
      io_(nullptr, IoDeleter{&codecs, formats}),
      format_(nullptr, {formats != nullptr ? formats->avformat_close_input : nullptr}),
      parser_(nullptr, {codecs.av_parser_close}),
      codec_(nullptr, {codecs.avcodec_free_context}),
      packet_(nullptr, {codecs.av_packet_free}),
      frame_(nullptr, {codecs.av_frame_free}),
      resampler_(nullptr, {codecs.swr_free}) {}

FfmpegDecoder::~FfmpegDecoder() {
    // The format context refers to the I/O context: close it first.
    format_.reset();
    io_.reset();
}

std::string FfmpegDecoder::formatForContentType(std::string_view contentType) {
    std::string type = lowerAscii(contentType.substr(0, contentType.find(';')));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) {
        type.pop_back();
    }
    if (type == "audio/mpeg" || type == "audio/mp3" || type == "audio/x-mpeg" ||
        type == "audio/mpeg3" || type == "audio/x-mp3") {
        return "mp3";
    }
    if (type == "application/ogg" || type == "audio/ogg" || type == "audio/x-ogg" ||
        type == "audio/vorbis" || type == "application/x-ogg") {
        return "ogg";
    }
    if (type == "audio/aac" || type == "audio/aacp" || type == "audio/x-aac") {
        return "aac";
    }
    return {};
}

AudioError FfmpegDecoder::openDecoder(int codecId, const AVCodecParameters* parameters, std::string_view extradata) {
    const AVCodec* decoder = codecs_.avcodec_find_decoder(static_cast<AVCodecID>(codecId));
    if (decoder == nullptr) {
        return AudioError::FileFormat;
    }
    codec_.reset(codecs_.avcodec_alloc_context3(decoder));
    if (!packet_) {
        packet_.reset(codecs_.av_packet_alloc());
    }
    if (!frame_) {
        frame_.reset(codecs_.av_frame_alloc());
    }
    if (!codec_ || !packet_ || !frame_) {
        return AudioError::Memory;
    }
    if (!extradata.empty()) {
        // The context frees it; the decoder may read past its end.
        auto* bytes = static_cast<std::uint8_t*>(codecs_.av_malloc(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (bytes == nullptr) {
            return AudioError::Memory;
        }
        std::memcpy(bytes, extradata.data(), extradata.size());
        std::memset(bytes + extradata.size(), 0, AV_INPUT_BUFFER_PADDING_SIZE);
        codec_->extradata = bytes;
        codec_->extradata_size = static_cast<int>(extradata.size());
    }
    if ((parameters != nullptr && codecs_.avcodec_parameters_to_context(codec_.get(), parameters) < 0) ||
        codecs_.avcodec_open2(codec_.get(), decoder, nullptr) < 0) {
        return AudioError::FileFormat;
    }
    return AudioError::Ok;
}

bool FfmpegDecoder::parsesWithoutDemuxer(const std::string& formatName, std::optional<std::int64_t> totalBytes) {
    return !totalBytes && (formatName == "mp3" || formatName == "aac" || formatName == "ogg");
}

bool FfmpegDecoder::decodeBytes(std::uint8_t* data, int size, const PcmSink& pcm) {
    // The packet only borrows the bytes: the decoder copies what it keeps.
    packet_->data = data;
    packet_->size = size;
    const int sent = codecs_.avcodec_send_packet(codec_.get(), packet_.get());
    codecs_.av_packet_unref(packet_.get());
    // A damaged packet is skipped; the stream goes on.
    return (sent < 0 && sent != AVERROR(EAGAIN)) || receiveFrames(pcm);
}

FfmpegDecoder::Step FfmpegDecoder::drain(const PcmSink& pcm) {
    flushing_ = true;
    if (codecs_.avcodec_send_packet(codec_.get(), nullptr) >= 0 && !receiveFrames(pcm)) {
        return Step::Stopped;
    }
    return Step::End;
}

bool FfmpegDecoder::convert(const AVFrame& frame, const PcmSink& pcm) {
    AVChannelLayout inLayout{};
    if (frame.ch_layout.nb_channels > 0 && frame.ch_layout.order != AV_CHANNEL_ORDER_UNSPEC) {
        codecs_.av_channel_layout_copy(&inLayout, &frame.ch_layout);
    } else {
        const int count = frame.ch_layout.nb_channels > 0 ? frame.ch_layout.nb_channels
                                                          : codec_->ch_layout.nb_channels;
        if (count <= 0) {
            return true;  // nothing sensible to convert; skip the frame
        }
        codecs_.av_channel_layout_default(&inLayout, count);
    }
    const std::uint64_t layoutKey =
        (static_cast<std::uint64_t>(inLayout.nb_channels) << 56) ^
        (inLayout.order == AV_CHANNEL_ORDER_NATIVE ? inLayout.u.mask : 0);
    if (frame.sample_rate <= 0) {
        codecs_.av_channel_layout_uninit(&inLayout);
        return true;
    }
    if (outRate_ == 0) {
        outRate_ = frame.sample_rate;
        outChannels_ = std::clamp(inLayout.nb_channels, 1, 8);
    }
    if (!resampler_ || inRate_ != frame.sample_rate || inFormat_ != frame.format ||
        inLayoutKey_ != layoutKey) {
        AVChannelLayout outLayout{};
        codecs_.av_channel_layout_default(&outLayout, outChannels_);
        SwrContext* context = nullptr;
        const int result = codecs_.swr_alloc_set_opts2(&context, &outLayout, AV_SAMPLE_FMT_S16, outRate_,
                                               &inLayout, static_cast<AVSampleFormat>(frame.format),
                                               frame.sample_rate, 0, nullptr);
        codecs_.av_channel_layout_uninit(&outLayout);
        resampler_.reset(context);
        if (result < 0 || codecs_.swr_init(resampler_.get()) < 0) {
            resampler_.reset();
            codecs_.av_channel_layout_uninit(&inLayout);
            return true;
        }
        inRate_ = frame.sample_rate;
        inFormat_ = frame.format;
        inLayoutKey_ = layoutKey;
    }
    codecs_.av_channel_layout_uninit(&inLayout);

    const int maxSamples = codecs_.swr_get_out_samples(resampler_.get(), frame.nb_samples);
    if (maxSamples <= 0) {
        return true;
    }
    const std::size_t frameBytes = static_cast<std::size_t>(outChannels_) * 2;
    converted_.resize(static_cast<std::size_t>(maxSamples) * frameBytes);
    std::uint8_t* out = converted_.data();
    const int samples = codecs_.swr_convert(resampler_.get(), &out, maxSamples,
                                    const_cast<const std::uint8_t**>(frame.extended_data),
                                    frame.nb_samples);
    if (samples <= 0) {
        return true;
    }
    const std::size_t skipped = std::min(skipSamples_, static_cast<std::size_t>(samples));
    skipSamples_ -= skipped;
    if (skipped == static_cast<std::size_t>(samples)) {
        return true;
    }
    return pcm(std::span<const std::uint8_t>(converted_.data() + skipped * frameBytes,
                                             (static_cast<std::size_t>(samples) - skipped) * frameBytes));
}

bool FfmpegDecoder::receiveFrames(const PcmSink& pcm) {
    for (;;) {
        const int result = codecs_.avcodec_receive_frame(codec_.get(), frame_.get());
        if (result < 0) {
            return true;  // EAGAIN, EOF, or a broken frame: go on with the next packet
        }
        const bool keepGoing = convert(*frame_, pcm);
        codecs_.av_frame_unref(frame_.get());
        if (!keepGoing) {
            return false;
        }
    }
}

FfmpegDecoder::Step FfmpegDecoder::decodeNext(const PcmSink& pcm, const MetadataSink& metadata) {
    if ((!format_ && !parser_ && !ogg_) || !codec_) {
        return Step::Failed;
    }
    if (flushing_) {
        return Step::End;
    }
    if (parser_) {
        return decodeParsed(pcm);
    }
    if (ogg_) {
        return decodeOgg(pcm, metadata);
    }
    return decodeDemuxed(pcm, metadata);
}

bool FfmpegDecoder::inOgg() const {
    return ogg_ != nullptr ||
           (format_ && format_->iformat != nullptr && std::string_view(format_->iformat->name) == "ogg");
}

std::uint32_t FfmpegDecoder::channelType() const {
    AVCodecID codecId = AV_CODEC_ID_NONE;
    if ((parser_ || ogg_) && codec_) {
        codecId = codec_->codec_id;  // the parser names the layer it found
    } else if (format_ && streamIndex_ >= 0) {
        codecId = format_->streams[streamIndex_]->codecpar->codec_id;
    } else {
        return 0;
    }
    switch (codecId) {
        case AV_CODEC_ID_MP3: return audio::kChannelTypeMp3;
        case AV_CODEC_ID_MP2: return audio::kChannelTypeMp2;
        case AV_CODEC_ID_MP1: return audio::kChannelTypeMp1;
        case AV_CODEC_ID_VORBIS: return audio::kChannelTypeOgg;
        // Recorded as Ogg only when they came in Ogg.
        case AV_CODEC_ID_OPUS: return inOgg() ? audio::kChannelTypeOggOpus : audio::kChannelTypeStream;
        case AV_CODEC_ID_FLAC: return inOgg() ? audio::kChannelTypeOggFlac : audio::kChannelTypeStream;
        case AV_CODEC_ID_AAC: return audio::kChannelTypeAac;
        case AV_CODEC_ID_WMAV1:
        case AV_CODEC_ID_WMAV2:
        case AV_CODEC_ID_WMAPRO:
        case AV_CODEC_ID_WMAVOICE:
        case AV_CODEC_ID_WMALOSSLESS: return audio::kChannelTypeWindowsMedia;
        default: return audio::kChannelTypeStream;
    }
}

std::int64_t FfmpegDecoder::durationUs() const {
    if (!format_ || format_->duration == AV_NOPTS_VALUE || format_->duration <= 0) {
        return -1;
    }
    return format_->duration;
}

std::int64_t FfmpegDecoder::bitRate() const {
    if (ogg_) {
        return oggBitRate_;
    }
    if (parser_ && codec_) {
        return codec_->bit_rate > 0 ? codec_->bit_rate : 0;
    }
    if (!format_ || streamIndex_ < 0) {
        return 0;
    }
    const std::int64_t rate = format_->streams[streamIndex_]->codecpar->bit_rate;
    if (rate > 0) {
        return rate;
    }
    if (codec_ && codec_->bit_rate > 0) {
        return codec_->bit_rate;
    }
    return format_->bit_rate > 0 ? format_->bit_rate : 0;
}

std::vector<std::string> FfmpegDecoder::comments() const {
    if (ogg_) {
        return oggComments_;
    }
    std::vector<std::string> result;
    if (!format_ || streamIndex_ < 0) {
        return result;
    }
    appendEntries(codecs_, format_->streams[streamIndex_]->metadata, result, "=");
    if (result.empty()) {
        appendEntries(codecs_, format_->metadata, result, "=");
    }
    return result;
}

std::vector<std::string> FfmpegDecoder::windowsMediaTags() const {
    std::vector<std::string> result;
    if (!format_) {
        return result;
    }
    const std::int64_t rate = bitRate();
    if (rate > 0) {
        result.push_back("bitrate = " + std::to_string(rate));
    }
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = codecs_.av_dict_get(format_->metadata, "", entry, AV_DICT_IGNORE_SUFFIX)) != nullptr) {
        // libavformat names the ASF author "artist"; the Windows Media form is "author".
        const std::string key = lowerAscii(entry->key) == "artist" ? "author" : entry->key;
        result.push_back(key + " = " + entry->value);
    }
    return result;
}

}  // namespace korvanel
