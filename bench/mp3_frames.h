#pragma once

#include <cstddef>
#include <string>

namespace korvanel::bench {

// 128 kbit/s, 44.1 kHz MPEG-1 Layer III frames (padded: 418 bytes each),
// whole frames up to at least `bytes`.
inline std::string mp3Frames(std::size_t bytes) {
    std::string frames;
    frames.reserve(bytes + 418);
    while (frames.size() < bytes) {
        std::string frame(418, static_cast<char>(frames.size() / 418 % 251));
        frame[0] = static_cast<char>(0xFF);
        frame[1] = static_cast<char>(0xFB);
        frame[2] = static_cast<char>(0x92);
        frame[3] = 0;
        frames += frame;
    }
    return frames;
}

}  // namespace korvanel::bench
