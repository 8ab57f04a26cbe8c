#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "audio/engine/sound_output.h"

namespace korvanel {

// A "sound card" that writes exactly what it is given, signed 16-bit
// interleaved, to a file or pipe, paced in real time: what --pcm-out and
// tests read to hear what the player played. Its one device is 1.
//
// Threads: any thread may call the members; each stream has a thread of its
// own that pulls every period. Writes to the file are serialised.
class FileSoundOutput final : public SoundOutput {
public:
    static constexpr const char* kDescription = "PCM output";

    struct CloseFile {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    using OwnedFile = std::unique_ptr<std::FILE, CloseFile>;

    // The file is not owned (it may be standard output).
    explicit FileSoundOutput(std::FILE* file);
    // A file of its own; null writes nowhere.
    explicit FileSoundOutput(OwnedFile file);
    FileSoundOutput(const FileSoundOutput&) = delete;
    FileSoundOutput& operator=(const FileSoundOutput&) = delete;

    // Bytes written to the file so far.
    std::uint64_t bytesWritten() const { return bytesWritten_.load(); }

    std::string name() const override { return std::string("File: ") + kDescription; }
    int deviceCount() const override { return 1; }
    std::optional<std::string> description(int device) const override;
    Opened open(int device, const PlaybackFormat& format, PlaybackSource& source) override;

    // From the streams' threads.
    void write(std::span<const std::uint8_t> bytes);

private:
    OwnedFile owned_;
    std::mutex writeLock_;
    std::FILE* file_;  // null once a write failed: the reader went away
    std::atomic<std::uint64_t> bytesWritten_{0};
};

}  // namespace korvanel
