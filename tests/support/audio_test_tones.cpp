#include "tests/support/audio_test_tones.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "tests/support/process_runner.h"
#include "tests/support/temp_folder.h"

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

std::string toneFileBytes(const std::string& extension, const std::string& codec, int frequencyHz,
                          double seconds, const std::vector<std::string>& metadata) {
    TempFolder folder;
    const std::string path = folder.file("tone." + extension);
    return makeToneFile(path, codec, frequencyHz, seconds, metadata) ? readFile(path) : std::string();
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
    // Upward crossings with a little hysteresis, so noise near zero does not
    // count; the median period ignores gaps (stalls) and leading silence.
    const int threshold = peak / 8;
    std::vector<std::size_t> periods;
    std::size_t previous = 0;
    bool seen = false;
    bool below = true;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (below && samples[i] > threshold) {
            below = false;
            if (seen) {
                periods.push_back(i - previous);
            }
            previous = i;
            seen = true;
        } else if (!below && samples[i] < -threshold) {
            below = true;
        }
    }
    if (periods.size() < 3) {
        return 0;
    }
    std::sort(periods.begin(), periods.end());
    // Average the middle half, for a resolution better than one sample.
    const std::size_t from = periods.size() / 4;
    const std::size_t to = periods.size() - periods.size() / 4;
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) {
        sum += static_cast<double>(periods[i]);
    }
    return static_cast<double>(sampleRate) * static_cast<double>(to - from) / sum;
}

int peakLevel(const std::vector<std::int16_t>& samples) {
    int peak = 0;
    for (const std::int16_t sample : samples) {
        peak = std::max(peak, std::abs(static_cast<int>(sample)));
    }
    return peak;
}

double longestGap(const std::vector<std::int16_t>& samples, int sampleRate) {
    std::size_t run = 0;
    std::size_t longest = 0;
    bool started = false;
    for (const std::int16_t sample : samples) {
        started = started || std::abs(sample) > 200;
        if (started && std::abs(sample) < 50) {
            ++run;
        } else {
            longest = std::max(longest, run);
            run = 0;
        }
    }
    return static_cast<double>(longest) / sampleRate;
}

}  // namespace korvanel::test
