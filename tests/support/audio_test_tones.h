#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvanel::test {

// Generated test audio and what can be measured in decoded samples.

// Writes a sine tone file with ffmpeg ("libmp3lame", "libvorbis", "wmav2"...);
// metadata entries are "key=value". False when ffmpeg failed.
bool makeToneFile(const std::string& path, const std::string& codec, int frequencyHz,
                  double seconds, const std::vector<std::string>& metadata = {},
                  int sampleRate = 44100, int channels = 2);

// The bytes of such a file, made in a temporary folder (its extension picks
// the container); empty when ffmpeg failed.
std::string toneFileBytes(const std::string& extension, const std::string& codec, int frequencyHz,
                          double seconds, const std::vector<std::string>& metadata = {});

// Interleaved signed 16-bit samples of one channel, from raw bytes.
std::vector<std::int16_t> channelSamples(const std::string& pcm, int channels, int channel);

// The frequency of a sine tone from the periods between its upward zero
// crossings, ignoring silence before and between; 0 without a tone.
double toneFrequency(const std::vector<std::int16_t>& samples, int sampleRate);

// Largest absolute sample value.
int peakLevel(const std::vector<std::int16_t>& samples);

// The longest silence between the first and the last sound, in seconds: an
// encoder's padding at either end is no gap.
double longestGap(const std::vector<std::int16_t>& samples, int sampleRate);

}  // namespace korvanel::test
