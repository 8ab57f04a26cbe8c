#include "audio/engine/fmp4_demuxer.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <string_view>

namespace korvanel {

namespace {

using Bytes = std::span<const std::uint8_t>;

std::uint64_t bigEndian(Bytes data, std::size_t at, std::size_t bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i) {
        value = (value << 8) | data[at + i];
    }
    return value;
}

std::string_view typeOf(Bytes data, std::size_t at) {
    return {reinterpret_cast<const char*>(data.data() + at), 4};
}

// Where the box at `at` ends and its body begins; nothing for a box that
// does not fit in data. A size of 0 runs to the end.
struct BoxSpan {
    std::size_t header = 0;
    std::size_t size = 0;
};

std::optional<BoxSpan> boxAt(Bytes data, std::size_t at) {
    if (data.size() - at < 8) {
        return std::nullopt;
    }
    std::uint64_t size = bigEndian(data, at, 4);
    std::size_t header = 8;
    if (size == 1) {
        if (data.size() - at < 16) {
            return std::nullopt;
        }
        size = bigEndian(data, at + 8, 8);
        header = 16;
    } else if (size == 0) {
        size = data.size() - at;
    }
    if (size < header || size > data.size() - at) {
        return std::nullopt;
    }
    return BoxSpan{header, static_cast<std::size_t>(size)};
}

// Calls visit(type, body) for each whole box in data, in order.
template <class Visit>
void forEachBox(Bytes data, const Visit& visit) {
    for (std::size_t at = 0; at < data.size();) {
        const std::optional<BoxSpan> box = boxAt(data, at);
        if (!box) {
            return;
        }
        visit(typeOf(data, at + 4), data.subspan(at + box->header, box->size - box->header));
        at += box->size;
    }
}

// The first child box of that type, or nothing.
std::optional<Bytes> childBox(Bytes data, std::string_view type) {
    std::optional<Bytes> found;
    forEachBox(data, [&](std::string_view seen, Bytes body) {
        if (!found && seen == type) {
            found = body;
        }
    });
    return found;
}

// A descriptor of an esds box: its tag and body, and where the next one starts.
struct Descriptor {
    std::uint8_t tag = 0;
    Bytes body;
};

std::optional<Descriptor> descriptorAt(Bytes data, std::size_t& at) {
    if (at + 2 > data.size()) {
        return std::nullopt;
    }
    Descriptor descriptor;
    descriptor.tag = data[at++];
    std::size_t length = 0;
    for (int i = 0; i < 4; ++i) {
        if (at >= data.size()) {
            return std::nullopt;
        }
        const std::uint8_t byte = data[at++];
        length = (length << 7) | (byte & 0x7F);
        if ((byte & 0x80) == 0) {
            break;
        }
    }
    if (length > data.size() - at) {
        return std::nullopt;
    }
    descriptor.body = data.subspan(at, length);
    at += length;
    return descriptor;
}

// Reads bits from the front of an AudioSpecificConfig.
class BitReader {
public:
    explicit BitReader(Bytes data) : data_(data) {}
    std::optional<unsigned> take(unsigned count) {
        unsigned value = 0;
        for (unsigned i = 0; i < count; ++i, ++bit_) {
            if (bit_ / 8 >= data_.size()) {
                return std::nullopt;
            }
            value = (value << 1) | ((data_[bit_ / 8] >> (7 - bit_ % 8)) & 1u);
        }
        return value;
    }

private:
    Bytes data_;
    std::size_t bit_ = 0;
};

std::optional<unsigned> objectType(BitReader& bits) {
    const std::optional<unsigned> type = bits.take(5);
    if (type && *type == 31) {
        const std::optional<unsigned> extended = bits.take(6);
        return extended ? std::optional<unsigned>(32 + *extended) : std::nullopt;
    }
    return type;
}

// The ADTS header fields an AudioSpecificConfig gives; HE-AAC's core, as
// ADTS carries it (its decoders find the extension themselves).
bool readAudioConfig(Bytes config, Fmp4Track& track, std::string& unsupported) {
    BitReader bits(config);
    std::optional<unsigned> type = objectType(bits);
    std::optional<unsigned> frequency = bits.take(4);
    const std::optional<unsigned> channels = bits.take(4);
    if (!type || !frequency || !channels) {
        return false;
    }
    if (*type == 5 || *type == 29) {
        const std::optional<unsigned> extension = bits.take(4);
        if (!extension || (*extension == 15 && !bits.take(24))) {
            return false;
        }
        type = objectType(bits);
        if (!type) {
            return false;
        }
    }
    if (*type < 1 || *type > 4 || *frequency > 12 || *channels == 0 || *channels > 7) {
        unsupported = "aac (object type " + std::to_string(*type) + ")";
        return false;
    }
    track.profile = *type - 1;
    track.frequencyIndex = *frequency;
    track.channelConfiguration = *channels;
    return true;
}

// An mp4a sample entry: its esds names the codec and, for AAC, its config.
bool readMp4a(Bytes entry, Fmp4Track& track, std::string& unsupported) {
    constexpr std::size_t kAudioSampleEntryBytes = 28;
    if (entry.size() < kAudioSampleEntryBytes) {
        return false;
    }
    const std::optional<Bytes> esds = childBox(entry.subspan(kAudioSampleEntryBytes), "esds");
    if (!esds || esds->size() < 4) {
        return false;
    }
    std::size_t at = 4;  // version and flags
    const std::optional<Descriptor> es = descriptorAt(*esds, at);
    if (!es || es->tag != 0x03 || es->body.size() < 3) {
        return false;
    }
    const std::uint8_t flags = es->body[2];
    std::size_t inner = 3 + ((flags & 0x80) != 0 ? 2 : 0);
    if ((flags & 0x40) != 0) {
        inner += inner < es->body.size() ? 1u + es->body[inner] : 1u;
    }
    inner += (flags & 0x20) != 0 ? 2 : 0;
    while (inner < es->body.size()) {
        const std::optional<Descriptor> config = descriptorAt(es->body, inner);
        if (!config) {
            return false;
        }
        if (config->tag != 0x04 || config->body.size() < 13) {
            continue;
        }
        const std::uint8_t objectTypeIndication = config->body[0];
        if (objectTypeIndication == 0x6B || objectTypeIndication == 0x69) {
            track.codec = Fmp4Track::Codec::Mp3;
            return true;
        }
        if (objectTypeIndication != 0x40 && (objectTypeIndication < 0x66 || objectTypeIndication > 0x68)) {
            unsupported = "mp4a (object type " + std::to_string(objectTypeIndication) + ")";
            return false;
        }
        std::size_t specific = 13;
        const std::optional<Descriptor> info = descriptorAt(config->body, specific);
        track.codec = Fmp4Track::Codec::Aac;
        return info && info->tag == 0x05 && readAudioConfig(info->body, track, unsupported);
    }
    return false;
}

// A Vorbis comment block of no comments, as Opus and FLAC carry them.
std::string emptyComments() {
    const std::string vendor = "Korvanel Radio";
    std::string comments;
    appendLittleEndian(comments, vendor.size(), 4);
    comments += vendor;
    appendLittleEndian(comments, 0, 4);
    return comments;
}

// An Opus sample entry's dOps (big-endian) as the OpusHead an Ogg stream
// begins with (little-endian), then an OpusTags of no comments.
bool readOpus(Bytes entry, Fmp4Track& track) {
    constexpr std::size_t kAudioSampleEntryBytes = 28;
    const std::optional<Bytes> dops =
        entry.size() >= kAudioSampleEntryBytes ? childBox(entry.subspan(kAudioSampleEntryBytes), "dOps") : std::nullopt;
    if (!dops || dops->size() < 11 || (*dops)[0] != 0) {
        return false;
    }
    const Bytes box = *dops;
    std::string head = "OpusHead";
    head += '\x01';
    head += static_cast<char>(box[1]);                    // channels
    appendLittleEndian(head, bigEndian(box, 2, 2), 2);       // pre-skip
    appendLittleEndian(head, bigEndian(box, 4, 4), 4);       // input sample rate
    appendLittleEndian(head, bigEndian(box, 8, 2), 2);       // output gain
    head += static_cast<char>(box[10]);                   // channel mapping family
    if (box[10] != 0) {
        const std::size_t table = 2 + static_cast<std::size_t>(box[1]);
        if (box.size() < 11 + table) {
            return false;
        }
        head.append(reinterpret_cast<const char*>(box.data() + 11), table);
    }
    const std::string tags = "OpusTags" + emptyComments();
    track.codec = Fmp4Track::Codec::Opus;
    track.oggHeaders = {head, tags};
    return true;
}

// A fLaC sample entry's dfLa (FLAC's own metadata blocks, STREAMINFO
// first) as the first packet of Ogg FLAC, then a comment block.
bool readFlac(Bytes entry, Fmp4Track& track) {
    constexpr std::size_t kAudioSampleEntryBytes = 28;
    const std::optional<Bytes> dfla =
        entry.size() >= kAudioSampleEntryBytes ? childBox(entry.subspan(kAudioSampleEntryBytes), "dfLa") : std::nullopt;
    constexpr std::size_t kStreamInfoBytes = 34;
    if (!dfla || dfla->size() < 4 + 4 + kStreamInfoBytes || ((*dfla)[4] & 0x7F) != 0 ||
        bigEndian(*dfla, 5, 3) != kStreamInfoBytes) {
        return false;
    }
    std::string mapping("\x7F" "FLAC\x01\x00\x00\x01" "fLaC", 13);  // one header packet follows
    mapping += '\0';  // STREAMINFO, not the last block: the comments come after it
    mapping.append(reinterpret_cast<const char*>(dfla->data() + 5), 3 + kStreamInfoBytes);
    const std::string comments = emptyComments();
    std::string block(1, '\x84');  // the last block: comments
    block += static_cast<char>(comments.size() >> 16 & 0xFF);
    block += static_cast<char>(comments.size() >> 8 & 0xFF);
    block += static_cast<char>(comments.size() & 0xFF);
    track.codec = Fmp4Track::Codec::Flac;
    track.oggHeaders = {mapping, block + comments};
    return true;
}

std::uint32_t fullBoxUint32(Bytes body, std::size_t at) {
    return body.size() >= at + 4 ? static_cast<std::uint32_t>(bigEndian(body, at, 4)) : 0;
}

}  // namespace

std::optional<Fmp4Track> Fmp4Track::parse(std::span<const std::uint8_t> init, std::string& unsupported) {
    const std::optional<Bytes> moov = childBox(init, "moov");
    if (!moov) {
        return std::nullopt;
    }
    std::optional<Fmp4Track> found;
    forEachBox(*moov, [&](std::string_view type, Bytes trak) {
        if (found || type != "trak") {
            return;
        }
        const std::optional<Bytes> tkhd = childBox(trak, "tkhd");
        const std::optional<Bytes> mdia = childBox(trak, "mdia");
        const std::optional<Bytes> hdlr = mdia ? childBox(*mdia, "hdlr") : std::nullopt;
        if (!tkhd || tkhd->empty() || !hdlr || hdlr->size() < 12 || typeOf(*hdlr, 8) != "soun") {
            return;
        }
        const std::optional<Bytes> minf = childBox(*mdia, "minf");
        const std::optional<Bytes> stbl = minf ? childBox(*minf, "stbl") : std::nullopt;
        const std::optional<Bytes> stsd = stbl ? childBox(*stbl, "stsd") : std::nullopt;
        if (!stsd || stsd->size() < 16) {
            return;
        }
        Fmp4Track track;
        track.trackId = fullBoxUint32(*tkhd, (*tkhd)[0] == 1 ? 20 : 12);
        const Bytes entries = stsd->subspan(8);  // version, flags, entry count
        const std::optional<BoxSpan> entry = boxAt(entries, 0);
        if (!entry) {
            return;
        }
        const std::string_view format = typeOf(entries, 4);
        const Bytes body = entries.subspan(entry->header, entry->size - entry->header);
        const bool read = format == "mp4a"   ? readMp4a(body, track, unsupported)
                          : format == "Opus" ? readOpus(body, track)
                          : format == "fLaC" ? readFlac(body, track)
                                             : format == ".mp3";
        if (read) {
            if (format == ".mp3") {
                track.codec = Codec::Mp3;
            }
            found = track;
        } else if (format != "mp4a") {
            unsupported = format == "Opus" ? "opus" : format == "fLaC" ? "flac" : std::string(format);
            unsupported.erase(std::remove_if(unsupported.begin(), unsupported.end(),
                                             [](char c) { return c < 0x20 || c > 0x7E; }),
                              unsupported.end());
        }
    });
    if (found) {
        // The movie's defaults for the fragments of this track.
        if (const std::optional<Bytes> mvex = childBox(*moov, "mvex")) {
            forEachBox(*mvex, [&](std::string_view type, Bytes trex) {
                if (type == "trex" && trex.size() >= 24 && fullBoxUint32(trex, 4) == found->trackId) {
                    found->defaultSampleSize = fullBoxUint32(trex, 16);
                }
            });
        }
        unsupported.clear();
    }
    return found;
}

bool Fmp4Demuxer::looksLikeFragment(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 8) {
        return false;
    }
    const std::string_view type = typeOf(bytes, 4);
    for (const std::string_view known : {"styp", "moof", "sidx", "emsg", "prft", "ftyp", "free"}) {
        if (type == known) {
            return true;
        }
    }
    return false;
}

bool Fmp4Demuxer::feed(std::span<const std::uint8_t> bytes, const AudioSink& audio, const TagSink& onTag) {
    if (skip_ > 0) {
        const std::size_t passed = std::min(skip_, bytes.size());
        skip_ -= passed;
        bytes = bytes.subspan(passed);
    }
    held_.insert(held_.end(), bytes.begin(), bytes.end());
    std::size_t at = 0;
    bool more = true;
    while (more && held_.size() - at >= 8) {
        const Bytes rest(held_.data() + at, held_.size() - at);
        std::uint64_t size = bigEndian(rest, 0, 4);
        std::size_t header = 8;
        if (size == 1) {
            if (rest.size() < 16) {
                break;
            }
            size = bigEndian(rest, 8, 8);
            header = 16;
        }
        if (size == 0) {
            break;  // runs to the segment's end
        }
        if (size < header) {
            // No box can be that small: the rest of the segment is not ours to read.
            held_.clear();
            skip_ = SIZE_MAX;
            return true;
        }
        if (size > kMaxBoxBytes) {
            skip_ = static_cast<std::size_t>(std::min<std::uint64_t>(size - rest.size(), SIZE_MAX));
            at = held_.size();
            break;
        }
        if (size > rest.size()) {
            break;
        }
        more = takeBox(rest.first(static_cast<std::size_t>(size)), header, audio, onTag);
        at += static_cast<std::size_t>(size);
    }
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(at));
    return more;
}

bool Fmp4Demuxer::finish(const AudioSink& audio, const TagSink& onTag) {
    bool more = true;
    if (held_.size() >= 8 && bigEndian(held_, 0, 4) == 0) {
        more = takeBox(held_, 8, audio, onTag);
    }
    held_.clear();
    skip_ = 0;
    return more;
}

bool Fmp4Demuxer::takeBox(std::span<const std::uint8_t> box, std::size_t headerBytes, const AudioSink& audio,
                          const TagSink& onTag) {
    const std::string_view type = typeOf(box, 4);
    const Bytes body = box.subspan(headerBytes);
    if (type == "moof") {
        moofBytes_ = box.size();
        readFragment(body);
    } else if (type == "mdat") {
        return readSamples(body, headerBytes, audio);
    } else if (type == "emsg" && body.size() >= 4) {
        // Timed metadata: the ID3 tag it carries, for the audio that follows.
        const std::uint8_t version = body[0];
        std::size_t at = 4;
        const auto skipString = [&] {
            while (at < body.size() && body[at] != 0) {
                ++at;
            }
            ++at;
        };
        if (version == 0) {
            skipString();  // scheme
            skipString();  // value
            at += 16;      // timescale, time delta, duration, id
        } else {
            at += 20;  // timescale, presentation time, duration, id
            skipString();
            skipString();
        }
        if (at + 3 <= body.size() && body[at] == 'I' && body[at + 1] == 'D' && body[at + 2] == '3') {
            onTag(body.subspan(at));
        }
    }
    return true;
}

void Fmp4Demuxer::readFragment(std::span<const std::uint8_t> moof) {
    sampleSizes_.clear();
    dataOffset_ = -1;
    bool taken = false;
    forEachBox(moof, [&](std::string_view type, Bytes traf) {
        if (type != "traf" || taken) {
            return;
        }
        const std::optional<Bytes> tfhd = childBox(traf, "tfhd");
        if (!tfhd || tfhd->size() < 8) {
            return;
        }
        const std::uint32_t flags = fullBoxUint32(*tfhd, 0) & 0xFFFFFF;
        if (track_.trackId != 0 && fullBoxUint32(*tfhd, 4) != track_.trackId) {
            return;
        }
        taken = true;
        std::size_t at = 8;
        at += (flags & 0x01) != 0 ? 8 : 0;  // base data offset
        at += (flags & 0x02) != 0 ? 4 : 0;  // sample description index
        at += (flags & 0x08) != 0 ? 4 : 0;  // default duration
        const std::uint32_t defaultSize =
            (flags & 0x10) != 0 ? fullBoxUint32(*tfhd, at) : track_.defaultSampleSize;
        forEachBox(traf, [&](std::string_view child, Bytes trun) {
            if (child != "trun" || trun.size() < 8) {
                return;
            }
            const std::uint32_t runFlags = fullBoxUint32(trun, 0) & 0xFFFFFF;
            const std::uint32_t count = fullBoxUint32(trun, 4);
            std::size_t field = 8;
            if ((runFlags & 0x001) != 0) {
                if (dataOffset_ < 0 && trun.size() >= field + 4) {
                    dataOffset_ = static_cast<std::int32_t>(fullBoxUint32(trun, field));
                }
                field += 4;
            }
            field += (runFlags & 0x004) != 0 ? 4 : 0;
            const std::size_t perSample = 4u * static_cast<unsigned>(std::popcount(runFlags & 0xF00));
            for (std::uint32_t i = 0; i < count && sampleSizes_.size() < kMaxSamples; ++i) {
                if (perSample > 0 && trun.size() < field + perSample) {
                    return;
                }
                std::size_t sizeAt = field + ((runFlags & 0x100) != 0 ? 4 : 0);
                sampleSizes_.push_back((runFlags & 0x200) != 0 ? fullBoxUint32(trun, sizeAt) : defaultSize);
                field += perSample;
            }
        });
    });
}

bool Fmp4Demuxer::readSamples(std::span<const std::uint8_t> mdat, std::size_t headerBytes, const AudioSink& audio) {
    // The first sample sits where the fragment says, counted from the moof's
    // start, which comes right before this box.
    std::size_t at = 0;
    const std::int64_t fromBody = dataOffset_ - static_cast<std::int64_t>(moofBytes_ + headerBytes);
    if (dataOffset_ >= 0 && fromBody >= 0 && static_cast<std::uint64_t>(fromBody) <= mdat.size()) {
        at = static_cast<std::size_t>(fromBody);
    }
    if (track_.codec == Fmp4Track::Codec::Opus || track_.codec == Fmp4Track::Codec::Flac) {
        return writeOggPages(mdat, at, audio);
    }
    frame_.clear();
    for (const std::uint32_t size : sampleSizes_) {
        if (size == 0 || size > mdat.size() - at) {
            break;
        }
        if (track_.codec == Fmp4Track::Codec::Aac) {
            const std::size_t length = 7 + static_cast<std::size_t>(size);
            if (length > 0x1FFF) {
                at += size;
                continue;  // more than an ADTS frame can hold: no AAC frame is
            }
            const unsigned channels = track_.channelConfiguration;
            frame_.push_back(0xFF);
            frame_.push_back(0xF1);  // MPEG-4, no checksum
            frame_.push_back(static_cast<std::uint8_t>((track_.profile & 3) << 6 | track_.frequencyIndex << 2 |
                                                       (channels >> 2 & 1)));
            frame_.push_back(static_cast<std::uint8_t>((channels & 3) << 6 | (length >> 11 & 3)));
            frame_.push_back(static_cast<std::uint8_t>(length >> 3 & 0xFF));
            frame_.push_back(static_cast<std::uint8_t>((length & 7) << 5 | 0x1F));
            frame_.push_back(0xFC);
        }
        frame_.insert(frame_.end(), mdat.begin() + static_cast<std::ptrdiff_t>(at),
                      mdat.begin() + static_cast<std::ptrdiff_t>(at + size));
        at += size;
    }
    sampleSizes_.clear();
    dataOffset_ = -1;
    return frame_.empty() || audio(frame_);
}

bool Fmp4Demuxer::writeOggPages(std::span<const std::uint8_t> mdat, std::size_t at, const AudioSink& audio) {
    if (ogg_ == nullptr) {
        sampleSizes_.clear();
        return true;
    }
    std::string pages;
    if (!ogg_->started) {
        for (std::size_t i = 0; i < track_.oggHeaders.size(); ++i) {
            ogg_->pages.write(pages, {{track_.oggHeaders[i], 0}}, i == 0);
        }
        ogg_->started = true;
    }
    std::vector<OggPageWriter::Packet> packets;
    for (const std::uint32_t size : sampleSizes_) {
        if (size == 0 || size > mdat.size() - at) {
            break;
        }
        const std::string_view packet(reinterpret_cast<const char*>(mdat.data() + at), size);
        ogg_->granule += track_.codec == Fmp4Track::Codec::Opus ? opusPacketSamples(packet) : flacFrameSamples(packet);
        packets.push_back({packet, ogg_->granule});
        at += size;
    }
    sampleSizes_.clear();
    dataOffset_ = -1;
    if (!packets.empty()) {
        ogg_->pages.write(pages, packets);
    }
    return pages.empty() || audio(std::span(reinterpret_cast<const std::uint8_t*>(pages.data()), pages.size()));
}

}  // namespace korvanel
