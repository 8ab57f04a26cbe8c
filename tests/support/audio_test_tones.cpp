#include "tests/support/audio_test_tones.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "tests/support/process_runner.h"

namespace korvanel::test {

bool makeToneFile(const std::string& path, const std::string& codec, int frequencyHz,
                  double seconds, const std::vector<std::string>& metadata, int sampleRate,
                  int channels) {
    std::vector<std::string> arguments = {
        "-hide_banner", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
        "sine=frequency=" + std::to_string(frequencyHz) + ":sample_rate=" +
            std::to_string(sampleRate) + ":duration=" + std::to_string(seconds),
        "-ac", std::to_string(channels), "-c:a", codec};
    for (const std::string& entry : metadata) {
        arguments.push_back("-metadata");
        arguments.push_back(entry);
    }
    arguments.push_back(path);
    const ProcessResult result = runProcess("/usr/bin/ffmpeg", arguments, {}, std::chrono::seconds(30));
    return result.exitCode == 0;
}

std::vector<std::int16_t> channelSamples(const std::string& pcm, int channels, int channel) {
    std::vector<std::int16_t> samples;
    const std::size_t frameBytes = static_cast<std::size_t>(channels) * 2;
    for (std::size_t offset = static_cast<std::size_t>(channel) * 2; offset + 2 <= pcm.size();
         offset += frameBytes) {
        std::int16_t sample;
        std::memcpy(&sample, pcm.data() + offset, 2);
        samples.push_back(sample);
    }
    return samples;
}

double toneFrequency(const std::vector<std::int16_t>& samples, int sampleRate) {
    const int peak = peakLevel(samples);
    if (peak < 64) {
        return 0;
    }
    // Crossings with a little hysteresis, so noise near zero does not count.
    const int threshold = peak / 8;
    std::size_t first = 0;
    std::size_t last = 0;
    int crossings = 0;
    bool below = true;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (below && samples[i] > threshold) {
            below = false;
            if (crossings == 0) {
                first = i;
            }
            last = i;
            ++crossings;
        } else if (!below && samples[i] < -threshold) {
            below = true;
        }
    }
    if (crossings < 3 || last <= first) {
        return 0;
    }
    return static_cast<double>(crossings - 1) * sampleRate / static_cast<double>(last - first);
}

int peakLevel(const std::vector<std::int16_t>& samples) {
    int peak = 0;
    for (const std::int16_t sample : samples) {
        peak = std::max(peak, std::abs(static_cast<int>(sample)));
    }
    return peak;
}

}  // namespace korvanel::test
