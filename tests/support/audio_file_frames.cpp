#include "tests/support/audio_file_frames.h"

#include <cmath>

namespace korvanel::test {

std::string mpegHeader(const MpegHeaderFields& fields) {
    std::string header(4, '\0');
    header[0] = static_cast<char>(0xFF);
    header[1] = static_cast<char>(0xE0 | fields.versionBits << 3 | fields.layerBits << 1 | 1);
    header[2] = static_cast<char>(fields.bitrateIndex << 4 | fields.rateIndex << 2 | (fields.padding ? 2 : 0));
    header[3] = static_cast<char>(fields.mono ? 0xC0 : 0x00);
    return header;
}

std::string mpegFrame(const MpegHeaderFields& fields, std::size_t frameBytes, char fill) {
    std::string frame = mpegHeader(fields);
    frame.resize(frameBytes, fill);
    return frame;
}

std::string mp3Frames128k(std::size_t count) {
    MpegHeaderFields fields;
    fields.padding = true;
    std::string frames;
    frames.reserve(count * kMp3Frame128kBytes);
    for (std::size_t i = 0; i < count; ++i) {
        // Vary the body so a misplaced cut would show.
        frames += mpegFrame(fields, kMp3Frame128kBytes, static_cast<char>(i % 200));
    }
    return frames;
}

std::string sinePcm(double seconds, int sampleRate, int channels, long firstSample) {
    const long frames = static_cast<long>(seconds * sampleRate);
    std::string pcm;
    pcm.reserve(static_cast<std::size_t>(frames * channels * 2));
    for (long i = firstSample; i < firstSample + frames; ++i) {
        for (int channel = 0; channel < channels; ++channel) {
            const double frequency = channel == 0 ? 440.0 : 660.0;
            const auto value = static_cast<int>(12000.0 * std::sin(2.0 * 3.14159265358979 * frequency * static_cast<double>(i) / sampleRate));
            pcm.push_back(static_cast<char>(value & 0xFF));
            pcm.push_back(static_cast<char>((value >> 8) & 0xFF));
        }
    }
    return pcm;
}

namespace {

void addLacing(std::string& lacing, std::size_t packetBytes, bool goesOn) {
    while (packetBytes >= 255) {
        lacing.push_back(static_cast<char>(255));
        packetBytes -= 255;
    }
    if (!goesOn) {
        lacing.push_back(static_cast<char>(packetBytes));
    }
}

std::string assemblePage(unsigned char headerType, unsigned serial, unsigned sequence, const std::string& lacing,
                         const std::string& body) {
    std::string page("OggS", 4);
    page.push_back('\0');
    page.push_back(static_cast<char>(headerType));
    page.append(8, '\0');  // granule position
    for (int shift = 0; shift < 32; shift += 8) {
        page.push_back(static_cast<char>((serial >> shift) & 0xFF));
    }
    for (int shift = 0; shift < 32; shift += 8) {
        page.push_back(static_cast<char>((sequence >> shift) & 0xFF));
    }
    page.append(4, '\0');  // CRC
    page.push_back(static_cast<char>(lacing.size()));
    page += lacing;
    page += body;
    return page;
}

}  // namespace

std::string oggPage(unsigned char headerType, unsigned serial, unsigned sequence, const std::string& body,
                    bool lastPacketGoesOn) {
    std::string lacing;
    addLacing(lacing, body.size(), lastPacketGoesOn);
    return assemblePage(headerType, serial, sequence, lacing, body);
}

std::string oggPageOfPackets(unsigned char headerType, unsigned serial, unsigned sequence,
                             const std::vector<std::string>& packets) {
    std::string lacing;
    std::string body;
    for (const std::string& packet : packets) {
        addLacing(lacing, packet.size(), false);
        body += packet;
    }
    return assemblePage(headerType, serial, sequence, lacing, body);
}

std::string oggHeaderPages(unsigned serial) {
    return oggPage(2, serial, 0, std::string("\x01vorbis", 7) + std::string(23, 'i')) +
           oggPageOfPackets(0, serial, 1, {std::string("\x03vorbis", 7) + "comments", std::string("\x05vorbis", 7) + "setup"});
}

std::string withoutPageNumbering(const std::string& pages) {
    std::string out = pages;
    std::size_t offset = 0;
    while (offset + 27 <= out.size() && out.compare(offset, 4, "OggS") == 0) {
        out[offset + 5] = static_cast<char>(out[offset + 5] & ~4);
        out.replace(offset + 18, 8, 8, '\0');
        const std::size_t segments = static_cast<unsigned char>(out[offset + 26]);
        std::size_t length = 27 + segments;
        for (std::size_t i = 0; i < segments && offset + 27 + i < out.size(); ++i) {
            length += static_cast<unsigned char>(out[offset + 27 + i]);
        }
        offset += length;
    }
    return out;
}

}  // namespace korvanel::test
