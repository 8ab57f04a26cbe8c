#include "audio/engine/file_sound_output.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <thread>
#include <vector>

namespace korvanel {
namespace {

// 100 ms, as a sound card's buffer of 4096 frames: each period costs a
// wake-up, which outweighs the copying, so the file wakes seldom.
constexpr int kPeriodsPerSecond = 10;

// One stream and the thread that plays it.
class FilePlaybackStream final : public PlaybackStream {
public:
    FilePlaybackStream(FileSoundOutput& owner, const PlaybackFormat& format, PlaybackSource& source)
        : owner_(owner), format_(format), source_(source), thread_([this] { run(); }) {}

    ~FilePlaybackStream() override {
        {
            std::lock_guard<std::mutex> guard(lock_);
            quit_ = true;
            wake_.notify_all();
        }
        if (thread_.get_id() != std::this_thread::get_id()) {
            thread_.join();
        } else {
            thread_.detach();
        }
    }
    FilePlaybackStream(const FilePlaybackStream&) = delete;
    FilePlaybackStream& operator=(const FilePlaybackStream&) = delete;

    void start() override {
        std::lock_guard<std::mutex> guard(lock_);
        if (!playing_) {
            // A card starts its first period at once, not at the next tick.
            playing_ = true;
            started_ = true;
            wake_.notify_all();
        }
    }

    // A fill in progress finishes under the lock: none runs after this.
    void halt() override {
        std::unique_lock<std::mutex> guard(lock_, std::defer_lock);
        if (thread_.get_id() != std::this_thread::get_id()) {
            guard.lock();
        }
        playing_ = false;
    }

    bool runsOn(std::thread::id thread) const override { return thread_.get_id() == thread; }

private:
    void run() {
        const std::size_t frameBytes = static_cast<std::size_t>(format_.channels) * 2;
        const std::size_t periodBytes =
            static_cast<std::size_t>(format_.frequency / kPeriodsPerSecond) * frameBytes;
        std::vector<std::uint8_t> buffer(std::max<std::size_t>(periodBytes, frameBytes));
        const auto period = std::chrono::microseconds(1000000 / kPeriodsPerSecond);
        auto due = std::chrono::steady_clock::now();
        std::unique_lock<std::mutex> lock(lock_);
        for (;;) {
            wake_.wait_until(lock, due, [this] { return quit_ || started_; });
            if (quit_) {
                return;
            }
            const bool firstPeriod = started_;
            if (started_) {
                started_ = false;
                due = std::chrono::steady_clock::now();
            }
            if (!playing_) {
                due += period;
                continue;
            }
            const std::size_t written = play(buffer, firstPeriod, lock);
            // The card's clock runs by what it played: a short first period
            // (the stream had only begun) ends early.
            due += written > 0 && written < buffer.size()
                       ? std::chrono::microseconds(written / frameBytes * 1000000 /
                                                   static_cast<std::size_t>(format_.frequency))
                       : period;
            if (std::chrono::steady_clock::now() > due + 10 * period) {
                due = std::chrono::steady_clock::now();  // far behind (a slow reader): do not race to catch up
            }
        }
    }

    // One period; returns the bytes written. The lock is held while the
    // source fills, not while a slow reader of the file takes the bytes.
    std::size_t play(std::span<std::uint8_t> out, bool firstPeriod, std::unique_lock<std::mutex>& lock) {
        const PlaybackSource::Filled filled = source_.fill(out);
        // Silence where the stream had nothing, except before its first
        // samples (a stream just begun has decoded little, and silence after
        // it would be a gap) and after its end.
        const std::size_t written = filled.ended || (firstPeriod && filled.bytes > 0) ? filled.bytes : out.size();
        if (written > 0) {
            lock.unlock();
            owner_.write(out.first(written));
            lock.lock();
        }
        return written;
    }

    FileSoundOutput& owner_;
    const PlaybackFormat format_;
    PlaybackSource& source_;
    std::mutex lock_;  // held by the thread except while it waits or writes
    std::condition_variable wake_;
    bool quit_ = false;
    bool playing_ = false;
    bool started_ = false;  // play was asked since the last period
    std::thread thread_;     // last: starts once everything above exists
};

}  // namespace

FileSoundOutput::FileSoundOutput(std::FILE* file) : file_(file) {}

FileSoundOutput::FileSoundOutput(OwnedFile file) : owned_(std::move(file)), file_(owned_.get()) {}

std::optional<std::string> FileSoundOutput::description(int device) const {
    return device == 1 ? std::optional<std::string>(kDescription) : std::nullopt;
}

SoundOutput::Opened FileSoundOutput::open(int device, const PlaybackFormat& format, PlaybackSource& source) {
    if (device != 1) {
        return {nullptr, "File: there is no device " + std::to_string(device)};
    }
    return {std::make_unique<FilePlaybackStream>(*this, format, source), {}};
}

void FileSoundOutput::write(std::span<const std::uint8_t> bytes) {
    std::lock_guard<std::mutex> guard(writeLock_);
    if (file_ == nullptr || bytes.empty()) {
        return;
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        file_ = nullptr;  // the reader went away; the player plays on
        return;
    }
    std::fflush(file_);
    bytesWritten_ += bytes.size();
}

}  // namespace korvanel
