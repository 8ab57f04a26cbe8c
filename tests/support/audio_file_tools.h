#pragma once

#include <map>
#include <string>
#include <vector>

namespace korvanel::test {

struct ToolResult {
    int exitCode = -1;   // -1: could not run, or killed after the time-out
    std::string output;  // stdout and stderr together
};

// Runs a program found on PATH with these arguments (never through a
// shell), killing it after timeoutSeconds.
ToolResult runTool(const std::vector<std::string>& arguments, int timeoutSeconds = 60);

// Whether a program is on PATH.
bool haveTool(const std::string& name);

// Makes a test signal with ffmpeg: two sine tones, one per channel.
// Returns false when ffmpeg failed (its output is in *log when given).
bool makeSineWav(const std::string& path, double seconds, int sampleRate, int channels, std::string* log = nullptr);

// Encodes a file with ffmpeg: codec "libmp3lame", "mp2", "libvorbis", ...;
// extraArguments go before the output path (e.g. {"-b:a", "128k"}).
bool encodeWithFfmpeg(const std::string& input, const std::string& output, const std::string& codec,
                      const std::vector<std::string>& extraArguments, std::string* log = nullptr);

// The first audio stream's fields as ffprobe reports them, by name
// ("codec_name", "sample_rate", "bit_rate", "channels", ...); empty when
// ffprobe failed.
std::map<std::string, std::string> probeStream(const std::string& path);

// The warnings and errors mp3val finds in a file, one a line (a file
// without ID3 or APE tags is not a problem); "" for a clean file.
std::string mp3valProblems(const std::string& path);

// The errors and warnings ogginfo finds in a file; "" for a clean file.
std::string ogginfoProblems(const std::string& path);

// How many audio packets ffprobe counts (-1 when it failed).
long countPackets(const std::string& path);

// The seconds of audio ffmpeg decodes from the file, or -1 when decoding
// reported any error.
double decodedSeconds(const std::string& path);

}  // namespace korvanel::test
