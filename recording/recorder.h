#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "base/job.h"
#include "audio/recording_sink.h"
#include "audio/stream_info.h"
#include "recording/file_name_pattern.h"
#include "recording/lame_library.h"
#include "recording/pcm_queue.h"
#include "recording/stream_writer.h"
#include "settings/settings_listener.h"
#include "stream/byte_buffer.h"

namespace korvanel {

class EncoderWriter;
class OggStreamWriter;

// Saves the stream that is playing into files named by the file pattern
// and starts a new file whenever that name changes (a new title, a new
// station). MP3, AAC (ADTS) and Ogg streams are written as they arrive; Windows Media
// streams, and Ogg streams when "Recording/LameEncodeOgg" is on, are
// encoded to MP3 from the decoded samples. While the switch is off the
// writers keep recent data in memory, so a recording begins with what was
// just heard.
//
// Threads: the output channel calls the RecordingSink operations from the
// network, decoder, sound card and player threads; the window thread turns
// the switch and applies settings. None of them waits for a file: every
// change is queued to the recorder's own worker thread, which alone touches
// the writers, the files and the naming state. The is... queries read
// atomics and may be called from any thread.
//
// Failures: a file that cannot be created or written is reported once to
// the main window (an error event naming the file); the writer goes on
// buffering. A stream kind without a writer, or an encoder that is not
// ready, leaves isCapturing() false.
class Recorder final : public SettingsListener, public RecordingSink {
public:
    // Posts an event to the main window.
    using ReportEvent = std::function<void(Job)>;
    // Told on the worker thread of each file opened.
    using FileOpened = std::function<void(const std::string& path)>;

    // Stream bytes kept before a writer is chosen: the append that crosses
    // this mark is still taken.
    static constexpr std::size_t kPreBufferMark = 1048576;
    // Nearly three seconds of 48 kHz stereo samples on their way to the
    // encoder; the worker takes them every 50 ms.
    static constexpr std::size_t kPcmQueueBytes = 512 * 1024;

    Recorder(StreamInfo& streamInfo, ReportEvent report,
             std::string encoderLibrary = LameLibrary::kDefaultName);
    // Closes the active writer's file, then stops the worker.
    ~Recorder() override;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // 1-2: settings. Settings turn the switch on, never off.
    void applySettings(SettingsStore& store) override;
    void collectSettings(SettingsStore& store) override;
    // 3-6
    void setFolder(const std::string& path);
    void setFilePattern(const std::string& text);
    void setRecording(bool on);
    void onStreamInfo(const StreamInfo::Snapshot& info) override;
    // 7-12: from the output channel.
    void onHeaderData(std::span<const std::uint8_t> data) override;
    void onPcm(std::span<const std::uint8_t> samples) override;
    void onStreamData(std::span<const std::uint8_t> data) override;
    void onOpen() override;
    void onFormat(int frequency, int channels) override;
    void onClose() override;
    // 13-15
    bool isCapturing() const { return capturing_.load(); }
    bool isRecording() const { return recordSwitch_.load(); }
    bool hasWriter() const { return hasWriter_.load(); }

    // The recording folder, ending with '/'.
    std::string folder() const;
    void setFileOpened(FileOpened callback);
    // Returns once everything handed over before the call has been done.
    void waitUntilIdle();

private:
    struct Settings {
        std::size_t maxBuffer = 5242880;
        bool lameEncodeOgg = false;
        bool lameContinuous = false;
        int lameBitrate = 128;
    };

    // Runs `work` on the worker, in order.
    void post(std::function<void()> work);
    void workerLoop();
    void drainPcm();

    // Worker thread only from here on.
    enum class Route { None, Raw, Encoder };
    Route routeFor(StreamKind kind) const;
    bool encoderUsable(int channels);
    // What isCapturing() and hasWriter() say: announced at once by the
    // caller, then confirmed by the worker unless a newer announcement came.
    std::uint64_t announce(bool capturing, bool hasWriter);
    void publish(std::uint64_t generation, bool capturing, bool hasWriter);

    void startCapturing(int frequency, int channels, std::uint64_t generation);
    void stopCapturing(bool finish);
    void streamInfoChanged();
    void takeStreamData(std::span<const std::uint8_t> data);
    StreamWriter& mp3Writer();
    StreamWriter& aacWriter();
    StreamWriter& oggWriter();
    StreamWriter& encoderWriter();
    std::string expandPattern();
    void setFileName(const std::string& name);
    void applyPending();
    void openAfterStreamEnd(const std::string& name);
    void check(WriteResult result);

    StreamInfo& streamInfo_;
    const ReportEvent report_;
    const std::string encoderLibrary_;

    std::atomic<bool> recordSwitch_{false};
    std::atomic<bool> capturing_{false};
    std::atomic<bool> hasWriter_{false};
    std::atomic<bool> wantsPcm_{false};
    std::atomic<bool> encodeOgg_{false};
    std::mutex publishLock_;
    std::uint64_t generation_ = 0;
    std::once_flag encoderChecked_;
    bool encoderLoads_ = false;
    PcmQueue pcmQueue_{kPcmQueueBytes};

    mutable std::mutex stateLock_;  // guards folder_ and fileOpened_ for other threads
    std::string folder_ = "./";
    FileOpened fileOpened_;

    // Worker state.
    bool recording_ = false;  // the switch as of the work being done
    bool capturingNow_ = false;
    StreamInfo::Snapshot current_;  // station, title and kind as of that work
    Settings settings_;
    FileNamePattern pattern_;
    std::unique_ptr<StreamWriter> mp3Writer_;
    std::unique_ptr<StreamWriter> aacWriter_;
    std::unique_ptr<OggStreamWriter> oggWriter_;
    std::unique_ptr<EncoderWriter> encoderWriter_;
    StreamWriter* writer_ = nullptr;
    ByteBuffer preBuffer_;
    ByteBuffer pcm_;
    std::string fileName_;
    std::string extension_ = ".mp3";
    std::string filePath_;
    std::string openPath_;      // the file the writer has open
    std::string reportedPath_;  // the last file a failure was reported for
    bool namePending_ = false;
    // An Ogg logical stream ended with the switch on: the next file waits
    // for the next stream's comments (its title), the writer keeping its
    // pages meanwhile, so the new title's start is not filed under the old.
    bool awaitingStreamInfo_ = false;
    std::size_t bytesAwaitingInfo_ = 0;

    // The queue to the worker.
    std::mutex queueLock_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> queue_;
    std::uint64_t posted_ = 0;
    std::uint64_t done_ = 0;
    bool stopping_ = false;
    std::thread worker_;  // last: starts when everything above exists
};

}  // namespace korvanel
