#include "tests/support/loudness_pieces.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/support/audio_file_tools.h"
#include "tests/support/temp_folder.h"

namespace korvanel::test {
namespace {

// Mono counts as heard on both speakers, as the player measures it.
constexpr const char* kMeter = "ebur128=peak=true:dualmono=true";

std::optional<double> numberAfter(const std::string& text, std::size_t from, const std::string& label) {
    const std::size_t at = text.find(label, from);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    char* end = nullptr;
    const std::string rest = text.substr(at + label.size(), 32);
    const double value = std::strtod(rest.c_str(), &end);
    if (end == rest.c_str()) {
        return std::nullopt;
    }
    return value;
}

std::optional<Loudness> parseSummary(const std::string& output) {
    const std::size_t summary = output.rfind("Summary:");
    if (summary == std::string::npos) {
        return std::nullopt;
    }
    const auto integrated = numberAfter(output, summary, "I:");
    const std::size_t truePeak = output.find("True peak:", summary);
    const auto peak = truePeak == std::string::npos ? std::nullopt : numberAfter(output, truePeak, "Peak:");
    if (!integrated || !peak) {
        return std::nullopt;
    }
    return Loudness{*integrated, *peak};
}

std::string formatNumber(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.4f", value);
    return text;
}

}  // namespace

std::optional<Loudness> measureFileLoudness(const std::string& path) {
    const ToolResult result = runTool(
        {"ffmpeg", "-hide_banner", "-nostats", "-i", path, "-af", kMeter, "-f", "null", "-"}, 120);
    if (result.exitCode != 0) {
        return std::nullopt;
    }
    return parseSummary(result.output);
}

std::optional<Loudness> measureLoudness(const std::string& pcm, int sampleRate, int channels, double fromSeconds,
                                        double toSeconds) {
    const std::size_t frameBytes = static_cast<std::size_t>(channels) * 2;
    const std::size_t frames = pcm.size() / frameBytes;
    const auto frameAt = [&](double seconds) {
        return std::min(frames, static_cast<std::size_t>(std::max(0.0, seconds) * sampleRate));
    };
    const std::size_t first = frameAt(fromSeconds);
    const std::size_t last = toSeconds < 0.0 ? frames : frameAt(toSeconds);
    if (last <= first) {
        return std::nullopt;
    }
    TempFolder folder;
    const std::string raw = folder.file("measured.raw");
    writeFile(raw, pcm.substr(first * frameBytes, (last - first) * frameBytes));
    const ToolResult result =
        runTool({"ffmpeg", "-hide_banner", "-nostats", "-f", "s16le", "-ar", std::to_string(sampleRate), "-ac",
                 std::to_string(channels), "-i", raw, "-af", kMeter, "-f", "null", "-"},
                120);
    if (result.exitCode != 0) {
        return std::nullopt;
    }
    return parseSummary(result.output);
}

bool makeLoudnessPiece(const std::string& path, double lufs, const PieceShape& shape, const std::string& codec) {
    std::string expression =
        "(0.03*sin(2*PI*220*t)+0.02*sin(2*PI*277*t)+0.015*sin(2*PI*330*t))*(0.7+0.3*sin(2*PI*0.25*t))"
        "+0.9*sin(2*PI*2500*t)*exp(-" + formatNumber(shape.hitDecay) + "*mod(t,0.5))";
    if (shape.quietDb != 0.0) {
        const std::string factor = formatNumber(std::pow(10.0, -shape.quietDb / 20.0));
        expression = "(" + expression + ")*if(between(t," + formatNumber(shape.quietFrom) + "," +
                     formatNumber(shape.quietTo) + ")," + factor + ",1)";
    }
    const std::string layout = shape.channels == 1 ? "mono" : "stereo";
    std::string channels = expression;
    if (shape.channels == 2) {
        channels += "|" + expression;
    }
    TempFolder folder;
    const std::string base = folder.file("base.wav");
    const ToolResult made = runTool({"ffmpeg", "-hide_banner", "-nostats", "-y", "-f", "lavfi", "-i",
                                     "aevalsrc='" + channels + "':s=" + std::to_string(shape.sampleRate) +
                                         ":c=" + layout + ":d=" + formatNumber(shape.seconds),
                                     "-c:a", "pcm_s16le", base},
                                    120);
    if (made.exitCode != 0) {
        return false;
    }
    const std::optional<Loudness> measured = measureFileLoudness(base);
    if (!measured) {
        return false;
    }
    std::vector<std::string> encode = {"ffmpeg", "-hide_banner", "-nostats", "-y", "-i", base, "-af",
                                       "volume=" + formatNumber(lufs - measured->integratedLufs) + "dB",
                                       "-c:a", codec};
    if (codec == "libmp3lame") {
        encode.insert(encode.end(), {"-b:a", "192k"});
    }
    encode.push_back(path);
    return runTool(encode, 120).exitCode == 0;
}

}  // namespace korvanel::test
