#include "recording/mp3_file_output.h"

#include "recording/mpeg_frame_header.h"

namespace korvanel {
namespace {

constexpr std::uint32_t kFramesFlag = 1;
constexpr std::uint32_t kBytesFlag = 2;
constexpr std::uint32_t kTableFlag = 4;
constexpr std::size_t kTableEntries = 100;
// "Info", flags, frames, bytes, table of contents.
constexpr std::size_t kTagBytes = 4 + 4 + 4 + 4 + kTableEntries;

void putBigEndian32(std::string& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
    }
}

}  // namespace

std::string makeMp3InfoFrame(std::string_view firstFrame, std::uint32_t audioFrames, std::uint32_t streamBytes) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(firstFrame.data());
    const auto like = parseMpegFrameHeader(bytes, firstFrame.size());
    if (!like || like->layer != 3) {
        return {};
    }
    // Same version, rate and channel mode; no CRC, no padding; the bit rate
    // index grows until the tag fits.
    unsigned char header[4] = {bytes[0], static_cast<unsigned char>(bytes[1] | 0x01),
                               static_cast<unsigned char>(bytes[2] & 0x0C), bytes[3]};
    const int likeIndex = bytes[2] >> 4;
    for (int index = likeIndex; index <= 14; ++index) {
        header[2] = static_cast<unsigned char>((bytes[2] & 0x0C) | index << 4);
        const auto parsed = parseMpegFrameHeader(header, sizeof header);
        if (!parsed || parsed->frameBytes == 0) {
            continue;
        }
        const std::size_t tagAt = mpegInfoTagOffset(*parsed);
        if (tagAt + kTagBytes > parsed->frameBytes) {
            continue;
        }
        std::string frame(parsed->frameBytes, '\0');
        frame.replace(0, 4, reinterpret_cast<const char*>(header), 4);
        frame.replace(tagAt, 4, "Info");
        putBigEndian32(frame, tagAt + 4, kFramesFlag | kBytesFlag | kTableFlag);
        putBigEndian32(frame, tagAt + 8, audioFrames);
        putBigEndian32(frame, tagAt + 12, streamBytes);
        // Constant bit rate: position in the file grows evenly with time.
        for (std::size_t i = 0; i < kTableEntries; ++i) {
            frame[tagAt + 16 + i] = static_cast<char>(i * 256 / kTableEntries);
        }
        return frame;
    }
    return {};
}

bool Mp3FileOutput::create(const std::string& path) {
    close();
    audioFrames_ = 0;
    infoFrameBytes_ = 0;
    firstFrameHeader_.clear();
    return file_.create(path);
}

bool Mp3FileOutput::writeFrames(std::string_view frames, std::size_t count) {
    if (!file_.isOpen()) {
        return false;
    }
    if (frames.empty()) {
        return true;
    }
    if (file_.size() == 0) {
        // Room for the info frame, in the format of the first frame.
        const std::string placeholder = makeMp3InfoFrame(frames, 0, 0);
        if (!placeholder.empty()) {
            if (!file_.write(placeholder)) {
                file_.close();
                return false;
            }
            infoFrameBytes_ = placeholder.size();
            firstFrameHeader_.assign(frames.substr(0, MpegFrameHeader::kSize));
        }
    }
    if (!file_.write(frames)) {
        close();  // the frames already written keep a correct info frame
        return false;
    }
    audioFrames_ += static_cast<std::uint32_t>(count);
    return true;
}

bool Mp3FileOutput::close() {
    if (!file_.isOpen()) {
        return true;
    }
    bool filled = true;
    if (infoFrameBytes_ > 0) {
        const std::uint64_t size = file_.size();
        const auto streamBytes = static_cast<std::uint32_t>(size > 0xFFFFFFFFu ? 0xFFFFFFFFu : size);
        const std::string info = makeMp3InfoFrame(firstFrameHeader_, audioFrames_, streamBytes);
        filled = info.size() == infoFrameBytes_ && file_.writeAt(0, info);
    }
    return file_.close() && filled;
}

}  // namespace korvanel
