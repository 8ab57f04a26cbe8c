#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>

#include "base/window_event.h"
#include "base/serial_queue.h"
#include "audio/recording_sink.h"
#include "audio/stream_info.h"
#include "recording/lame_library.h"
#include "recording/ogg_chain_switch.h"
#include "recording/pcm_queue.h"
#include "recording/recording_file_naming.h"
#include "recording/recording_writer_set.h"
#include "recording/stream_writer.h"
#include "settings/settings_listener.h"
#include "stream/byte_buffer.h"

namespace korvanel {

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
// change is queued to the recorder's own worker (a SerialQueue), which alone
// touches the writer set, the files, the naming and the Ogg chain state.
// Decoded samples (onPcm, on a sound card's thread) go through a PcmQueue
// instead, which the worker empties before each change and every 50 ms
// while encoding. The is... queries read atomics and may be called from any
// thread; publishLock_ orders the announcements behind them, stateLock_
// guards the folder and the file-opened callback.
//
// Failures: a file that cannot be created or written is reported once to
// the main window (an event naming the file); the writer goes on
// buffering. A stream kind without a writer, or an encoder that is not
// ready, leaves isCapturing() false.
class Recorder final : public SettingsListener, public RecordingSink {
public:
    // Posts an event to the main window.
    using ReportEvent = std::function<void(WindowEvent)>;
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

    // Settings turn the switch on, never off.
    void applySettings(SettingsStore& store) override;
    void collectSettings(SettingsStore& store) override;
    // From the window: where and under which names to record, and the switch.
    void setFolder(const std::string& path);
    void setFilePattern(const std::string& text);
    void setRecording(bool on);
    void onStreamInfo(const StreamInfo::Snapshot& info) override;
    // From the output channel.
    void onHeaderData(std::span<const std::uint8_t> data) override;
    void onPcm(std::span<const std::uint8_t> samples) override;
    void onStreamData(std::span<const std::uint8_t> data) override;
    void onOpen() override;
    void onFormat(int frequency, int channels) override;
    void onClose() override;
    // What the window shows; any thread.
    bool isCapturing() const { return capturing_.load(); }
    bool isRecording() const { return recordSwitch_.load(); }
    bool hasWriter() const { return hasWriter_.load(); }

    // The recording folder, ending with '/'.
    std::string folder() const;
    void setFileOpened(FileOpened callback);
    // Returns once everything handed over before the call has been done.
    void waitUntilIdle();

private:
    using Work = std::function<void()>;

    // Runs `work` on the worker, in order.
    void post(Work work) { work_.post(std::move(work)); }
    void drainPcm();

    bool encoderUsable(int channels);
    // What isCapturing() and hasWriter() say: announced at once by the
    // caller, then confirmed by the worker unless a newer announcement came.
    std::uint64_t announce(bool capturing, bool hasWriter);
    void publish(std::uint64_t generation, bool capturing, bool hasWriter);

    // Worker thread only from here on.
    void startCapturing(int frequency, int channels, std::uint64_t generation);
    void stopCapturing(bool finish);
    void streamInfoChanged();
    void takeStreamData(std::span<const std::uint8_t> data);
    void rename(const std::string& name);
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
    std::uint64_t generation_ = 0;  // guarded by publishLock_
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
    RecordingWriterSet writers_;
    StreamWriter* writer_ = nullptr;
    RecordingFileNaming naming_;
    OggChainSwitch oggChain_;
    ByteBuffer preBuffer_;
    ByteBuffer pcm_;
    std::string openPath_;      // the file the writer has open
    std::string reportedPath_;  // the last file a failure was reported for

    // Last: the worker starts when everything it uses exists.
    SerialQueue<Work> work_;
};

}  // namespace korvanel
