#include "recording/recorder.h"

#include <chrono>
#include <utility>

#include "base/window_event.h"
#include "audio/stream_info.h"
#include "recording/recording_paths.h"
#include "settings/settings_store.h"

namespace korvanel {
namespace {

// The worker also wakes this often to pass queued samples to the encoder,
// since the sound card's thread only queues them without waking it.
constexpr auto kPcmPollInterval = std::chrono::milliseconds(50);

std::size_t nonNegative(int value) {
    return value > 0 ? static_cast<std::size_t>(value) : 0;
}

}  // namespace

Recorder::Recorder(StreamInfo& streamInfo, ReportEvent report, std::string encoderLibrary)
    : streamInfo_(streamInfo),
      report_(std::move(report)),
      encoderLibrary_(std::move(encoderLibrary)),
      writers_(encoderLibrary_),
      // Samples that arrived before a change belong to the state before it.
      work_([](Work& work) { work(); }, [this] { drainPcm(); }) {
    setFolder("saved");
}

Recorder::~Recorder() {
    post([this] {
        if (writer_ != nullptr) {
            check(writer_->close());
        }
    });
    work_.stop(SerialQueue<Work>::Pending::Run);
}

void Recorder::waitUntilIdle() { work_.waitUntilIdle(); }

void Recorder::drainPcm() {
    if (pcmQueue_.size() == 0) {
        return;
    }
    pcmQueue_.takeAll(pcm_);
    if (capturingNow_ && writers_.isEncoder(writer_)) {
        check(writer_->encodePcm(pcm_.data(), pcm_.size()));
    }
    pcm_.resize(0);
}

// --- Settings and the switch -------------------------------------------------

void Recorder::applySettings(SettingsStore& store) {
    setFolder(store.getString("Recording/Path"));
    setFilePattern(store.getString("Recording/FilePattern"));
    WriterSettings settings;
    settings.maxBuffer = nonNegative(store.getInt("Recording/MaxBuffer"));
    settings.encodeOgg = store.getBool("Recording/LameEncodeOgg");
    encodeOgg_ = settings.encodeOgg;
    settings.continuous = store.getBool("Recording/LameContinuous");
    settings.bitrate = store.getInt("Recording/LameBitrate");
    const std::string timeFormat = store.getString("Recording/TimeFormat");
    const std::string dateFormat = store.getString("Recording/DateFormat");
    post([this, settings, timeFormat, dateFormat] {
        writers_.setSettings(settings);
        naming_.pattern().setTimeFormat(timeFormat);
        naming_.pattern().setDateFormat(dateFormat);
    });
    if (store.getBool("Recording/Enabled") && !isRecording()) {
        setRecording(true);
    } else {
        post([this] { streamInfoChanged(); });  // the pattern may name files otherwise now
    }
    post([this] { writers_.applySettings(); });
}

void Recorder::collectSettings(SettingsStore& store) {
    store.setBool("Recording/Enabled", isRecording());
}

void Recorder::setFolder(const std::string& path) {
    std::string folder = recordingFolderFor(path);
    {
        std::lock_guard guard(stateLock_);
        folder_ = folder;
    }
}

std::string Recorder::folder() const {
    std::lock_guard guard(stateLock_);
    return folder_;
}

void Recorder::setFileOpened(FileOpened callback) {
    std::lock_guard guard(stateLock_);
    fileOpened_ = std::move(callback);
}

void Recorder::setFilePattern(const std::string& text) {
    post([this, text] { naming_.pattern().setPattern(text); });
}

void Recorder::setRecording(bool on) {
    recordSwitch_ = on;
    post([this, on] {
        recording_ = on;
        oggChain_.endWait();
        rename(naming_.expand(current_));
        applyPending();
    });
}

void Recorder::onStreamInfo(const StreamInfo::Snapshot& info) {
    // Queued, so the name changes in order with the stream data.
    post([this, info] {
        current_ = info;
        streamInfoChanged();
    });
}

void Recorder::streamInfoChanged() {
    const std::string name = naming_.expand(current_);
    if (oggChain_.awaitingTitle()) {
        // The buffered pages begin the stream this name belongs to.
        openAfterStreamEnd(name);
        return;
    }
    if (name != naming_.name()) {
        rename(name);
        if (capturingNow_) {
            writer_->dropBuffered();
        }
    }
    applyPending();
}

// --- Data from the output channel ------------------------------------------------

void Recorder::onHeaderData(std::span<const std::uint8_t> data) {
    post([this, bytes = std::string(reinterpret_cast<const char*>(data.data()), data.size())] {
        // An open may read megabytes that turn out not to be audio; as with
        // stream data before a writer is chosen, only the first part is kept.
        if (preBuffer_.size() <= kPreBufferMark) {
            preBuffer_.append(bytes);
        }
    });
}

void Recorder::onPcm(std::span<const std::uint8_t> samples) {
    if (!wantsPcm_.load()) {
        return;
    }
    pcmQueue_.push(samples);
}

void Recorder::onStreamData(std::span<const std::uint8_t> data) {
    post([this, bytes = std::string(reinterpret_cast<const char*>(data.data()), data.size())] {
        takeStreamData(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    });
}

void Recorder::takeStreamData(std::span<const std::uint8_t> data) {
    if (!capturingNow_) {
        if (preBuffer_.size() <= kPreBufferMark) {
            preBuffer_.append(data.data(), data.size());
        }
        return;
    }
    const bool wasOpen = writer_->isOpen();
    const WriteResult result = writer_->writeRaw(data.data(), data.size());
    check(result);
    // The Ogg writer ends a file with its logical stream; with the switch on
    // the recording goes on in a new file (after a failure it does not),
    // named once the decoder reports the next stream's comments. It reports
    // them after these bytes, which reach the recorder first.
    const std::size_t limit = bufferLimitFor(writers_.settings().maxBuffer);
    if (result == WriteResult::Ok && wasOpen && !writer_->isOpen() && recording_) {
        if (oggChain_.streamEnded(limit)) {
            openAfterStreamEnd(naming_.name());
        }
    } else if (oggChain_.tookBytes(data.size(), limit)) {
        openAfterStreamEnd(naming_.name());
    }
}

void Recorder::openAfterStreamEnd(const std::string& name) {
    oggChain_.endWait();
    rename(name);
    applyPending();
}

void Recorder::onOpen() {
    post([this] { preBuffer_.clear(); });
}

void Recorder::onFormat(int frequency, int channels) {
    StreamInfo::Snapshot info = streamInfo_.snapshot();
    // The answer to isCapturing() is known at once, before the worker gets
    // to it: the main window asks as soon as the player reports playing.
    const RecordingWriterSet::Route route = RecordingWriterSet::routeFor(info.kind, encodeOgg_.load());
    const bool ready = route == RecordingWriterSet::Route::Raw ||
                       (route == RecordingWriterSet::Route::Encoder && encoderUsable(channels));
    const std::uint64_t generation = announce(ready, route != RecordingWriterSet::Route::None);
    post([this, frequency, channels, generation, info = std::move(info)] {
        current_ = info;
        startCapturing(frequency, channels, generation);
    });
}

void Recorder::onClose() {
    const std::uint64_t generation = announce(false, false);
    post([this, generation] {
        preBuffer_.clear();
        stopCapturing(true);
        publish(generation, false, false);
    });
}

bool Recorder::encoderUsable(int channels) {
    std::call_once(encoderChecked_, [this] { encoderLoads_ = LameLibrary::load(encoderLibrary_) != nullptr; });
    return encoderLoads_ && (channels == 1 || channels == 2);
}

std::uint64_t Recorder::announce(bool capturing, bool hasWriter) {
    std::lock_guard guard(publishLock_);
    capturing_ = capturing;
    hasWriter_ = hasWriter;
    return ++generation_;
}

void Recorder::publish(std::uint64_t generation, bool capturing, bool hasWriter) {
    std::lock_guard guard(publishLock_);
    if (generation == generation_) {
        capturing_ = capturing;
        hasWriter_ = hasWriter;
    }
}

// --- Capturing (worker) --------------------------------------------------------

void Recorder::stopCapturing(bool finish) {
    oggChain_.endWait();
    if (!capturingNow_) {
        writer_ = nullptr;
        return;
    }
    wantsPcm_ = false;
    work_.setPollInterval(std::chrono::milliseconds(0));
    check(finish ? writer_->finish() : writer_->close());
    writer_ = nullptr;
    openPath_.clear();
    capturingNow_ = false;
}

void Recorder::startCapturing(int frequency, int channels, std::uint64_t generation) {
    stopCapturing(false);
    const RecordingWriterSet::Choice choice = writers_.choose(current_.kind);
    if (choice.extension != nullptr) {
        naming_.setExtension(choice.extension);
    }
    writer_ = choice.writer;
    if (choice.prober != nullptr) {
        StreamWriter& prober = *choice.prober;
        const int bitrate = prober.probeBitrate(preBuffer_.data(), preBuffer_.size());
        if (bitrate != 0) {
            streamInfo_.setBitrate(bitrate);
        }
        const StreamKind found = prober.probeFormat(preBuffer_.data(), preBuffer_.size());
        if (found != StreamKind::Other) {
            streamInfo_.setKind(found);
            current_.kind = found;
        }
    }

    if (writer_ != nullptr) {
        writer_->start(frequency, channels);
        check(writer_->writeRaw(preBuffer_.data(), preBuffer_.size()));
        preBuffer_.clear();
        capturingNow_ = writer_->isReady();
        if (capturingNow_ && writers_.isEncoder(writer_)) {
            pcmQueue_.clear();
            wantsPcm_ = true;
            work_.setPollInterval(kPcmPollInterval);
        }
    }
    publish(generation, capturingNow_, writer_ != nullptr);
    rename(naming_.expand(current_));
    streamInfoChanged();
}

// --- Files (worker) ------------------------------------------------------------------

void Recorder::rename(const std::string& name) { naming_.rename(name, folder()); }

void Recorder::applyPending() {
    if (!capturingNow_) {
        return;
    }
    if (!recording_) {
        check(writer_->close());
        openPath_.clear();
        return;
    }
    const std::string path = naming_.takePending();
    if (path.empty()) {
        return;
    }
    if (writer_->isOpen()) {
        check(writer_->close());  // reported under the old file's name
    }
    createFolders(parentFolder(path));
    openPath_ = path;
    reportedPath_.clear();
    writer_->setFileTags(fileTagsFor(current_.title, current_.stationName));
    const WriteResult result = writer_->open(path);
    check(result);
    if (result == WriteResult::Ok) {
        FileOpened told;
        {
            std::lock_guard guard(stateLock_);
            told = fileOpened_;
        }
        if (told) {
            told(path);
        }
    }
}

void Recorder::check(WriteResult result) {
    if (result == WriteResult::Ok || openPath_.empty() || reportedPath_ == openPath_) {
        return;
    }
    reportedPath_ = openPath_;
    if (report_) {
        // The window words it in the user's language.
        report_(makeEvent(result == WriteResult::NotCreated ? EventKind::RecordingNotCreated : EventKind::RecordingNotWritten,
                        openPath_));
    }
}

}  // namespace korvanel
