#pragma once

#include <optional>
#include <string>

namespace korvanel::test {

// Test music at a known loudness, and loudness measured by ffmpeg's ebur128
// filter: an independent yardstick for what the leveller made.

struct PieceShape {
    double seconds = 12.0;
    int sampleRate = 44100;
    int channels = 2;
    // A passage this many dB below the rest (0: none), from..to seconds.
    double quietDb = 0.0;
    double quietFrom = 0.0;
    double quietTo = 0.0;
    // How fast each hit decays (per second): 60 gives peaks about 14 dB over
    // the loudness, as in mastered music; 150 about 18 dB, which a boosted
    // station can only play through a limiter.
    double hitDecay = 60.0;
};

// A soft chord under sharp percussive hits every half second, set to `lufs` integrated with ffmpeg's
// volume filter and encoded with `codec` ("libmp3lame", "pcm_s16le", "flac";
// the path's extension picks the container). False when ffmpeg failed.
bool makeLoudnessPiece(const std::string& path, double lufs, const PieceShape& shape, const std::string& codec);

struct Loudness {
    double integratedLufs = 0.0;
    double truePeakDbtp = 0.0;
};

// Of interleaved signed 16-bit samples, from..to seconds (to < 0: the end).
std::optional<Loudness> measureLoudness(const std::string& pcm, int sampleRate, int channels,
                                        double fromSeconds = 0.0, double toSeconds = -1.0);
// Of a file ffmpeg can read.
std::optional<Loudness> measureFileLoudness(const std::string& path);

}  // namespace korvanel::test
