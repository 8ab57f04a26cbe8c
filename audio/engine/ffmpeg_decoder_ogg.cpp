#include "audio/engine/ffmpeg_decoder.h"

#include <algorithm>

#include "audio/engine/ffmpeg_functions.h"

// The Ogg path: live Ogg Vorbis and Opus read by our own page reader,
// without libavformat.

namespace korvanel {
namespace {

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
    // FLAC's mapping names how many metadata packets follow; an unknown
    // count (0) is left to libavformat.
    if (identification.size() >= 51 && identification.substr(0, 5) == "\x7F" "FLAC" &&
        identification.substr(9, 4) == "fLaC") {
        const int count = (static_cast<unsigned char>(identification[7]) << 8) | static_cast<unsigned char>(identification[8]);
        if (count > 0) {
            return OggCodec{AV_CODEC_ID_FLAC, 1 + count};
        }
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
    } else if (codec->id == AV_CODEC_ID_FLAC) {
        // STREAMINFO, past the mapping's header and its own block header.
        extradata = headers[0].substr(17, 34);
        oggBitRate_ = 0;
        oggComments_.clear();
        for (std::size_t i = 1; i < headers.size(); ++i) {
            if (!headers[i].empty() && (static_cast<unsigned char>(headers[i][0]) & 0x7F) == 4) {
                oggComments_ = vorbisComments(std::string_view(headers[i]).substr(4));
            }
        }
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

}  // namespace korvanel
