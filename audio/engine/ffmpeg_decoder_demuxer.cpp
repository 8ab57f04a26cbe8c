#include "audio/engine/ffmpeg_decoder.h"

#include "audio/engine/ffmpeg_functions.h"

// The demuxer path: libavformat over our own reader or its own protocols.

namespace korvanel {
namespace {

// Without find_stream_info the demuxer's probe stays small: start-up speed.
constexpr std::int64_t kProbeBytes = 32768;

constexpr const char* kNetworkProtocols = "http,https,tcp,tls,mmsh,mmst,rtsp,rtp,udp,httpproxy";

AudioError openError(int code, bool timedOut) {
    if (timedOut || code == AVERROR(ETIMEDOUT)) {
        return AudioError::Timeout;
    }
    if (code == AVERROR_EXIT) {
        return AudioError::Unknown;
    }
    if (code == AVERROR_INVALIDDATA || code == AVERROR_DECODER_NOT_FOUND ||
        code == AVERROR_DEMUXER_NOT_FOUND || code == AVERROR_STREAM_NOT_FOUND) {
        return AudioError::FileFormat;
    }
    if (code == AVERROR(ENOMEM)) {
        return AudioError::Memory;
    }
    return AudioError::FileOpen;
}

}  // namespace

void FfmpegDecoder::IoDeleter::operator()(AVIOContext* context) const {
    if (context != nullptr) {
        codecs->av_freep(&context->buffer);
    }
    formats->avio_context_free(&context);
}

int FfmpegDecoder::readPacket(void* opaque, std::uint8_t* buffer, int size) {
    auto* self = static_cast<FfmpegDecoder*>(opaque);
    if (self->readEnded_ || size <= 0) {
        return AVERROR_EOF;
    }
    const int count = self->read_(std::span(buffer, static_cast<std::size_t>(size)));
    if (count < 0) {
        return AVERROR_EXIT;
    }
    if (count == 0) {
        self->readEnded_ = true;
        return AVERROR_EOF;
    }
    return count;
}

std::int64_t FfmpegDecoder::seek(void* opaque, std::int64_t /*offset*/, int whence) {
    auto* self = static_cast<FfmpegDecoder*>(opaque);
    // The stream cannot seek; it can only tell its size when the server did.
    if ((whence & AVSEEK_SIZE) != 0 && self->totalBytes_) {
        return *self->totalBytes_;
    }
    return -1;
}

int FfmpegDecoder::interruptCallback(void* opaque) {
    auto* self = static_cast<FfmpegDecoder*>(opaque);
    return self->interrupted_ && self->interrupted_() ? 1 : 0;
}

AudioError FfmpegDecoder::openCustom(ReadFunction read, const std::string& formatName,
                                     std::optional<std::int64_t> totalBytes) {
    read_ = std::move(read);
    totalBytes_ = totalBytes;
    auto* buffer = static_cast<std::uint8_t*>(codecs_.av_malloc(kIoBufferBytes));
    if (buffer == nullptr) {
        return AudioError::Memory;
    }
    io_.reset(formats_->avio_alloc_context(buffer, kIoBufferBytes, 0, this, &FfmpegDecoder::readPacket,
                                 nullptr, &FfmpegDecoder::seek));
    if (!io_) {
        codecs_.av_free(buffer);
        return AudioError::Memory;
    }
    io_->seekable = 0;

    AVFormatContext* context = formats_->avformat_alloc_context();
    if (context == nullptr) {
        return AudioError::Memory;
    }
    context->pb = io_.get();
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
    context->probesize = kProbeBytes;
    context->interrupt_callback = AVIOInterruptCB{&FfmpegDecoder::interruptCallback, this};
    const AVInputFormat* input = formatName.empty() ? nullptr : formats_->av_find_input_format(formatName.c_str());
    // Our reader is the only input: a demuxer must not open anything else.
    AVDictionary* raw = nullptr;
    codecs_.av_dict_set(&raw, "protocol_whitelist", "none", 0);
    const int result = formats_->avformat_open_input(&context, nullptr, input, &raw);
    codecs_.av_dict_free(&raw);
    if (result < 0) {
        // avformat_open_input freed the context on failure.
        return openError(result, false);
    }
    format_.reset(context);
    return openStream();
}

AudioError FfmpegDecoder::openUrl(const std::string& url, std::chrono::milliseconds timeout) {
    AVFormatContext* context = formats_->avformat_alloc_context();
    if (context == nullptr) {
        return AudioError::Memory;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool timedOut = false;
    InterruptFunction outer = interrupted_;
    interrupted_ = [&]() {
        if (outer && outer()) {
            return true;
        }
        timedOut = std::chrono::steady_clock::now() >= deadline;
        return timedOut;
    };
    context->interrupt_callback = AVIOInterruptCB{&FfmpegDecoder::interruptCallback, this};
    AVDictionary* raw = nullptr;
    const std::string timeoutUs = std::to_string(
        std::chrono::duration_cast<std::chrono::microseconds>(timeout).count());
    codecs_.av_dict_set(&raw, "timeout", timeoutUs.c_str(), 0);
    codecs_.av_dict_set(&raw, "rw_timeout", timeoutUs.c_str(), 0);
    codecs_.av_dict_set(&raw, "reconnect", "0", 0);
    // Addresses come from station lists: never let one reach local files.
    codecs_.av_dict_set(&raw, "protocol_whitelist", kNetworkProtocols, 0);
    std::unique_ptr<AVDictionary, FfmpegRelease<AVDictionary>> options(raw, {codecs_.av_dict_free});
    AVDictionary* optionsRaw = options.release();
    int result = formats_->avformat_open_input(&context, url.c_str(), nullptr, &optionsRaw);
    options.reset(optionsRaw);
    AudioError error = AudioError::Ok;
    if (result < 0) {
        error = openError(result, timedOut);
    } else {
        format_.reset(context);
        result = formats_->avformat_find_stream_info(format_.get(), nullptr);
        error = result < 0 ? openError(result, timedOut) : openStream();
    }
    interrupted_ = std::move(outer);
    return error;
}

AudioError FfmpegDecoder::openStream() {
    streamIndex_ = formats_->av_find_best_stream(format_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    // Without stream info the rate and channels are not known yet, which
    // av_find_best_stream insists on: then the first audio stream will do.
    for (unsigned i = 0; streamIndex_ < 0 && i < format_->nb_streams; ++i) {
        if (format_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            streamIndex_ = static_cast<int>(i);
        }
    }
    if (streamIndex_ < 0) {
        return AudioError::FileFormat;
    }
    const AVStream* stream = format_->streams[streamIndex_];
    if (const AudioError error = openDecoder(stream->codecpar->codec_id, stream->codecpar);
        error != AudioError::Ok) {
        return error;
    }
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        if (static_cast<int>(i) != streamIndex_) {
            format_->streams[i]->discard = AVDISCARD_ALL;
        }
    }
    return AudioError::Ok;
}

FfmpegDecoder::Step FfmpegDecoder::decodeDemuxed(const PcmSink& pcm, const MetadataSink& metadata) {
    const int result = formats_->av_read_frame(format_.get(), packet_.get());
    if (result < 0) {
        if (result == AVERROR_EXIT || (interrupted_ && interrupted_())) {
            return Step::Stopped;
        }
        if (result == AVERROR(EAGAIN)) {
            return Step::Decoded;
        }
        // End of input (or an unrecoverable read error): drain the decoder.
        return drain(pcm);
    }
    if (packet_->stream_index != streamIndex_) {
        codecs_.av_packet_unref(packet_.get());
        return Step::Decoded;
    }
    takeStreamEvents(*packet_, metadata);
    const int sent = codecs_.avcodec_send_packet(codec_.get(), packet_.get());
    codecs_.av_packet_unref(packet_.get());
    if (sent < 0 && sent != AVERROR(EAGAIN)) {
        return Step::Decoded;  // a damaged packet; the stream goes on
    }
    return receiveFrames(pcm) ? Step::Decoded : Step::Stopped;
}

void FfmpegDecoder::takeStreamEvents(const AVPacket& packet, const MetadataSink& metadata) {
    std::size_t size = 0;
    const std::uint8_t* data =
        codecs_.av_packet_get_side_data(&packet, AV_PKT_DATA_METADATA_UPDATE, &size);
    if (data == nullptr || size == 0) {
        return;
    }
    AVDictionary* raw = nullptr;
    if (codecs_.av_packet_unpack_dictionary(data, size, &raw) < 0) {
        codecs_.av_dict_free(&raw);
        return;
    }
    std::unique_ptr<AVDictionary, FfmpegRelease<AVDictionary>> update(raw, {codecs_.av_dict_free});
    // Keep the stream's own dictionary current, so comments() reads the new set.
    AVStream* stream = format_->streams[streamIndex_];
    codecs_.av_dict_free(&stream->metadata);
    codecs_.av_dict_copy(&stream->metadata, update.get(), 0);
    std::vector<std::string> comments;
    appendEntries(codecs_, update.get(), comments, "=");
    if (metadata) {
        metadata(std::move(comments));
    }
}

}  // namespace korvanel
