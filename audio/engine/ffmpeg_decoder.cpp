#include "audio/engine/ffmpeg_decoder.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "audio/engine/ffmpeg_functions.h"

namespace korvanel {
namespace {

constexpr int kIoBufferBytes = 16384;
// Without find_stream_info the demuxer's probe stays small: start-up speed.
constexpr std::int64_t kProbeBytes = 32768;
constexpr const char* kNetworkProtocols = "http,https,tcp,tls,mmsh,mmst,rtsp,rtp,udp,httpproxy";

std::string lowerCase(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return result;
}

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

void appendEntries(const FfmpegCodecFunctions& ff, const AVDictionary* dictionary, std::vector<std::string>& out,
                   const char* separator) {
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = ff.av_dict_get(dictionary, "", entry, AV_DICT_IGNORE_SUFFIX)) != nullptr) {
        out.push_back(std::string(entry->key) + separator + entry->value);
    }
}

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

// Read while an Ogg stream opens, kept for a start over with libavformat.
constexpr std::size_t kMaxOpeningBytes = 1024 * 1024;

struct OggCodec {
    AVCodecID id;
    int headerPackets;
};

// The codec of an Ogg logical stream from its first packet.
std::optional<OggCodec> oggCodecOf(std::string_view identification) {
    if (identification.size() >= 30 && identification.substr(0, 7) == std::string_view("\x01vorbis", 7)) {
        return OggCodec{AV_CODEC_ID_VORBIS, 3};
    }
    if (identification.size() >= 19 && identification.substr(0, 8) == "OpusHead") {
        return OggCodec{AV_CODEC_ID_OPUS, 2};
    }
    return std::nullopt;
}

std::uint32_t littleEndian(std::string_view data, std::size_t at, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(data[at + static_cast<std::size_t>(i)]);
    }
    return value;
}

// The "KEY=value" entries of a Vorbis comment block (the packet after its
// magic), keys in capitals as libavformat gives them.
std::vector<std::string> vorbisComments(std::string_view block) {
    std::vector<std::string> entries;
    if (block.size() < 4) {
        return entries;
    }
    std::size_t at = 4 + std::size_t{littleEndian(block, 0, 4)};  // past the vendor string
    if (at > block.size() || block.size() - at < 4) {
        return entries;
    }
    const std::uint32_t count = littleEndian(block, at, 4);
    at += 4;
    for (std::uint32_t i = 0; i < count && block.size() - at >= 4; ++i) {
        const std::size_t length = littleEndian(block, at, 4);
        at += 4;
        if (length > block.size() - at) {
            break;
        }
        std::string entry(block.substr(at, length));
        at += length;
        const std::size_t equals = entry.find('=');
        if (equals == std::string::npos || equals == 0) {
            continue;
        }
        for (std::size_t k = 0; k < equals; ++k) {
            entry[k] = static_cast<char>(std::toupper(static_cast<unsigned char>(entry[k])));
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace

void FfmpegDecoder::IoDeleter::operator()(AVIOContext* context) const {
    if (context != nullptr) {
        codecs->av_freep(&context->buffer);
    }
    formats->avio_context_free(&context);
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
    std::string type = lowerCase(contentType.substr(0, contentType.find(';')));
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

AudioError FfmpegDecoder::openOgg(ReadFunction read) {
    read_ = std::move(read);
    ogg_ = std::make_unique<OggPacketReader>();
    openingBytesWhole_ = true;
    Step step = Step::Decoded;
    AudioError error = AudioError::FileFormat;
    // The stream begins where a logical stream does.
    while (std::optional<OggPacketReader::Packet> packet = nextOggPacket(step)) {
        if (packet->firstOfStream) {
            error = startOggStream(std::move(*packet));
            break;
        }
    }
    if (step == Step::Stopped) {
        error = AudioError::Unknown;
    }
    if (error == AudioError::Ok || !openingBytesWhole_) {
        openingBytes_ = std::string();
        openingBytesWhole_ = false;
    }
    return error;
}

std::optional<std::string> FfmpegDecoder::openingBytes() const {
    return openingBytesWhole_ ? std::optional<std::string>(openingBytes_) : std::nullopt;
}

std::optional<OggPacketReader::Packet> FfmpegDecoder::nextOggPacket(Step& step) {
    for (;;) {
        if (std::optional<OggPacketReader::Packet> packet = ogg_->next()) {
            return packet;
        }
        if (readEnded_) {
            step = Step::End;
            return std::nullopt;
        }
        std::uint8_t buffer[kIoBufferBytes];
        const int count = read_(std::span(buffer, sizeof buffer));
        if (count < 0 || (interrupted_ && interrupted_())) {
            step = Step::Stopped;
            return std::nullopt;
        }
        readEnded_ = count == 0;
        const std::span<const std::uint8_t> bytes(buffer, static_cast<std::size_t>(count));
        if (openingBytesWhole_) {
            if (openingBytes_.size() + bytes.size() > kMaxOpeningBytes) {
                openingBytesWhole_ = false;
                openingBytes_ = std::string();
            } else {
                openingBytes_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            }
        }
        ogg_->push(bytes);
    }
}

AudioError FfmpegDecoder::startOggStream(OggPacketReader::Packet identification) {
    std::optional<OggCodec> codec;
    std::vector<std::string> headers;
    while (!codec || static_cast<int>(headers.size()) < codec->headerPackets) {
        if (!codec) {
            codec = oggCodecOf(identification.bytes);
            if (!codec) {
                return AudioError::FileFormat;
            }
            headers.assign(1, identification.bytes);
            continue;
        }
        Step step = Step::Decoded;
        std::optional<OggPacketReader::Packet> packet = nextOggPacket(step);
        if (!packet) {
            return step == Step::Stopped ? AudioError::Unknown : AudioError::FileFormat;
        }
        if (packet->firstOfStream) {
            // Its headers broke off: the next logical stream counts.
            identification = std::move(*packet);
            codec.reset();
        } else if (packet->serial == identification.serial) {
            headers.push_back(std::move(packet->bytes));
        }
    }
    std::string extradata;
    if (codec->id == AV_CODEC_ID_VORBIS) {
        // Xiph lacing: the count less one, the sizes of all but the last, the packets.
        extradata.push_back(2);
        for (std::size_t i = 0; i < 2; ++i) {
            extradata.append(headers[i].size() / 255, '\xFF');
            extradata.push_back(static_cast<char>(headers[i].size() % 255));
        }
        for (const std::string& header : headers) {
            extradata += header;
        }
        const std::int32_t nominal = static_cast<std::int32_t>(littleEndian(headers[0], 20, 4));
        oggBitRate_ = nominal > 0 ? nominal : 0;
        oggComments_ = vorbisComments(std::string_view(headers[1]).substr(std::min<std::size_t>(7, headers[1].size())));
    } else {
        extradata = headers[0];  // libavcodec drops the pre-skip it names
        oggBitRate_ = 0;
        oggComments_ = vorbisComments(std::string_view(headers[1]).substr(std::min<std::size_t>(8, headers[1].size())));
    }
    oggStreamOpen_ = false;
    if (const AudioError error = openDecoder(codec->id, nullptr, extradata); error != AudioError::Ok) {
        return error;
    }
    oggSerial_ = identification.serial;
    oggStreamOpen_ = true;
    return AudioError::Ok;
}

FfmpegDecoder::Step FfmpegDecoder::decodeOgg(const PcmSink& pcm, const MetadataSink& metadata) {
    Step step = Step::Decoded;
    std::optional<OggPacketReader::Packet> packet = nextOggPacket(step);
    if (!packet) {
        return step == Step::Stopped ? step : drain(pcm);
    }
    if (packet->firstOfStream) {
        // A new logical stream (a station's next title): what the old one
        // holds comes out first, then the new one's comments.
        if (oggStreamOpen_ && codecs_.avcodec_send_packet(codec_.get(), nullptr) >= 0 && !receiveFrames(pcm)) {
            return Step::Stopped;
        }
        const AudioError error = startOggStream(std::move(*packet));
        if (error == AudioError::Unknown) {
            return Step::Stopped;
        }
        if (error == AudioError::Ok && metadata) {
            metadata(oggComments_);
        }
        return Step::Decoded;
    }
    if (!oggStreamOpen_ || packet->serial != oggSerial_) {
        return Step::Decoded;  // a stream we do not decode
    }
    if (!decodeBytes(reinterpret_cast<std::uint8_t*>(packet->bytes.data()), static_cast<int>(packet->bytes.size()),
                     pcm)) {
        return Step::Stopped;
    }
    return Step::Decoded;
}

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
        const std::string key = lowerCase(entry->key) == "artist" ? "author" : entry->key;
        result.push_back(key + " = " + entry->value);
    }
    return result;
}

}  // namespace korvanel
