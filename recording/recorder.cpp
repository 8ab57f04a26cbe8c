#include "recording/recorder.h"

#include <chrono>
#include <ctime>

#include "base/event_codes.h"
#include "audio/stream_info.h"
#include "recording/aac_stream_writer.h"
#include "recording/encoder_writer.h"
#include "recording/mp3_stream_writer.h"
#include "recording/ogg_stream_writer.h"
#include "recording/recording_paths.h"
#include "settings/settings_store.h"

namespace korvanel {
namespace {

// The worker also wakes this often to pass queued samples to the encoder,
// since the sound card's thread only notifies without waiting.
constexpr auto kPcmPollInterval = std::chrono::milliseconds(50);

std::size_t nonNegative(int value) {
    return value > 0 ? static_cast<std::size_t>(value) : 0;
}

bool isMpegKind(StreamKind kind) {
    switch (kind) {
    case StreamKind::Mp3:
    case StreamKind::MpegLayer1:
    case StreamKind::MpegLayer2:
    case StreamKind::Mpeg2Layer1:
    case StreamKind::Mpeg2Layer2:
    case StreamKind::Mpeg2Layer3:
        return true;
    default:
        return false;
    }
}

}  // namespace

Recorder::Recorder(StreamInfo& streamInfo, ReportEvent report, std::string encoderLibrary)
    : streamInfo_(streamInfo),
      report_(std::move(report)),
      encoderLibrary_(std::move(encoderLibrary)),
      worker_([this] { workerLoop(); }) {
    setFolder("saved");
}

Recorder::~Recorder() {
    post([this] {
        if (writer_ != nullptr) {
            check(writer_->close());
        }
    });
    {
        std::lock_guard guard(queueLock_);
        stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
    // The writers go in the order encoder, Ogg, MP3.
    encoderWriter_.reset();
    oggWriter_.reset();
    aacWriter_.reset();
    mp3Writer_.reset();
}

// --- Queue -----------------------------------------------------------------

void Recorder::post(std::function<void()> work) {
    {
        std::lock_guard guard(queueLock_);
        queue_.push_back(std::move(work));
        ++posted_;
    }
    wake_.notify_one();
}

void Recorder::workerLoop() {
    std::unique_lock lock(queueLock_);
    for (;;) {
        const auto ready = [this] { return stopping_ || !queue_.empty(); };
        // Only encoding needs the poll; otherwise every change comes as a post.
        if (wantsPcm_.load()) {
            wake_.wait_for(lock, kPcmPollInterval, ready);
        } else {
            wake_.wait(lock, ready);
        }
        std::deque<std::function<void()>> work;
        work.swap(queue_);
        const bool stop = stopping_;
        lock.unlock();
        // Samples that arrived before these changes belong to the old state.
        drainPcm();
        for (auto& item : work) {
            item();
        }
        lock.lock();
        done_ += work.size();
        idle_.notify_all();
        if (stop && queue_.empty()) {
            return;
        }
    }
}

void Recorder::waitUntilIdle() {
    std::unique_lock lock(queueLock_);
    const std::uint64_t target = posted_;
    wake_.notify_one();
    idle_.wait(lock, [&] { return done_ >= target; });
}

void Recorder::drainPcm() {
    if (pcmQueue_.size() == 0) {
        return;
    }
    pcmQueue_.takeAll(pcm_);
    if (capturingNow_ && writer_ != nullptr && writer_ == encoderWriter_.get()) {
        check(writer_->encodePcm(pcm_.data(), pcm_.size()));
    }
    pcm_.resize(0);
}

// --- Settings and the switch -------------------------------------------------

void Recorder::applySettings(SettingsStore& store) {
    setFolder(store.getString("Recording/Path"));
    setFilePattern(store.getString("Recording/FilePattern"));
    Settings settings;
    settings.maxBuffer = nonNegative(store.getInt("Recording/MaxBuffer"));
    settings.lameEncodeOgg = store.getBool("Recording/LameEncodeOgg");
    encodeOgg_ = settings.lameEncodeOgg;
    settings.lameContinuous = store.getBool("Recording/LameContinuous");
    settings.lameBitrate = store.getInt("Recording/LameBitrate");
    const std::string timeFormat = store.getString("Recording/TimeFormat");
    const std::string dateFormat = store.getString("Recording/DateFormat");
    post([this, settings, timeFormat, dateFormat] {
        settings_ = settings;
        pattern_.setTimeFormat(timeFormat);
        pattern_.setDateFormat(dateFormat);
    });
    if (store.getBool("Recording/Enabled") && !isRecording()) {
        setRecording(true);
    } else {
        post([this] { streamInfoChanged(); });  // the pattern may name files otherwise now
    }
    post([this] {
        for (StreamWriter* writer : {static_cast<StreamWriter*>(mp3Writer_.get()), aacWriter_.get(),
                                     static_cast<StreamWriter*>(oggWriter_.get()),
                                     static_cast<StreamWriter*>(encoderWriter_.get())}) {
            if (writer != nullptr) {
                writer->setMaxBuffer(settings_.maxBuffer);
            }
        }
        if (encoderWriter_) {
            encoderWriter_->setContinuous(settings_.lameContinuous);
            encoderWriter_->setBitrate(settings_.lameBitrate);
        }
    });
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
    post([this, text] { pattern_.setPattern(text); });
}

void Recorder::setRecording(bool on) {
    recordSwitch_ = on;
    post([this, on] {
        recording_ = on;
        awaitingStreamInfo_ = false;
        setFileName(expandPattern());
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
    const std::string name = expandPattern();
    if (awaitingStreamInfo_) {
        // The buffered pages begin the stream this name belongs to.
        openAfterStreamEnd(name);
        return;
    }
    if (name != fileName_) {
        setFileName(name);
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
    wake_.notify_one();
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
    // them after these bytes, which reach the recorder first. Should none
    // come, or the writer keep nothing meanwhile, the old name goes on.
    if (result == WriteResult::Ok && wasOpen && !writer_->isOpen() && recording_) {
        if (bufferLimitFor(settings_.maxBuffer) == 0) {
            openAfterStreamEnd(fileName_);
            return;
        }
        awaitingStreamInfo_ = true;
        bytesAwaitingInfo_ = 0;
    } else if (awaitingStreamInfo_) {
        bytesAwaitingInfo_ += data.size();
        if (bytesAwaitingInfo_ > bufferLimitFor(settings_.maxBuffer) / 2) {
            openAfterStreamEnd(fileName_);
        }
    }
}

void Recorder::openAfterStreamEnd(const std::string& name) {
    awaitingStreamInfo_ = false;
    setFileName(name);
    applyPending();
}

void Recorder::onOpen() {
    post([this] { preBuffer_.clear(); });
}

void Recorder::onFormat(int frequency, int channels) {
    StreamInfo::Snapshot info = streamInfo_.snapshot();
    // The answer to isCapturing() is known at once, before the worker gets
    // to it: the main window asks as soon as the player reports playing.
    const Route route = routeFor(info.kind);
    const bool ready = route == Route::Raw || (route == Route::Encoder && encoderUsable(channels));
    const std::uint64_t generation = announce(ready, route != Route::None);
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

Recorder::Route Recorder::routeFor(StreamKind kind) const {
    if (isMpegKind(kind) || kind == StreamKind::Aac) {
        return Route::Raw;
    }
    if (kind == StreamKind::OggVorbis) {
        return encodeOgg_.load() ? Route::Encoder : Route::Raw;
    }
    return kind == StreamKind::WindowsMedia ? Route::Encoder : Route::None;
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

StreamWriter& Recorder::mp3Writer() {
    if (!mp3Writer_) {
        mp3Writer_ = std::make_unique<Mp3StreamWriter>();
        mp3Writer_->setMaxBuffer(settings_.maxBuffer);
    }
    return *mp3Writer_;
}

StreamWriter& Recorder::aacWriter() {
    if (!aacWriter_) {
        aacWriter_ = std::make_unique<AacStreamWriter>();
        aacWriter_->setMaxBuffer(settings_.maxBuffer);
    }
    return *aacWriter_;
}

StreamWriter& Recorder::oggWriter() {
    if (!oggWriter_) {
        oggWriter_ = std::make_unique<OggStreamWriter>();
        oggWriter_->setMaxBuffer(settings_.maxBuffer);
    }
    return *oggWriter_;
}

StreamWriter& Recorder::encoderWriter() {
    if (!encoderWriter_) {
        encoderWriter_ = std::make_unique<EncoderWriter>(encoderLibrary_);
        encoderWriter_->setMaxBuffer(settings_.maxBuffer);
    }
    encoderWriter_->setContinuous(settings_.lameContinuous);
    encoderWriter_->setBitrate(settings_.lameBitrate);
    return *encoderWriter_;
}

void Recorder::stopCapturing(bool finish) {
    awaitingStreamInfo_ = false;
    if (!capturingNow_) {
        writer_ = nullptr;
        return;
    }
    wantsPcm_ = false;
    check(finish ? writer_->finish() : writer_->close());
    writer_ = nullptr;
    openPath_.clear();
    capturingNow_ = false;
}

void Recorder::startCapturing(int frequency, int channels, std::uint64_t generation) {
    stopCapturing(false);
    const StreamKind kind = current_.kind;
    const auto probe = [&](StreamWriter& prober) {
        const int bitrate = prober.probeBitrate(preBuffer_.data(), preBuffer_.size());
        if (bitrate != 0) {
            streamInfo_.setBitrate(bitrate);
        }
        const StreamKind found = prober.probeFormat(preBuffer_.data(), preBuffer_.size());
        if (found != StreamKind::Other) {
            streamInfo_.setKind(found);
            current_.kind = found;
        }
    };
    if (isMpegKind(kind)) {
        extension_ = ".mp3";
        writer_ = &mp3Writer();
        probe(*writer_);
    } else if (kind == StreamKind::OggVorbis) {
        StreamWriter& ogg = oggWriter();
        if (settings_.lameEncodeOgg) {
            extension_ = ".mp3";
            writer_ = &encoderWriter();
        } else {
            extension_ = ".ogg";
            writer_ = &ogg;
        }
        probe(ogg);
    } else if (kind == StreamKind::Aac) {
        extension_ = ".aac";
        writer_ = &aacWriter();
        probe(*writer_);
    } else if (kind == StreamKind::WindowsMedia) {
        extension_ = ".mp3";
        writer_ = &encoderWriter();
    }

    if (writer_ != nullptr) {
        writer_->start(frequency, channels);
        check(writer_->writeRaw(preBuffer_.data(), preBuffer_.size()));
        preBuffer_.clear();
        capturingNow_ = writer_->isReady();
        if (capturingNow_ && writer_ == encoderWriter_.get()) {
            pcmQueue_.clear();
            wantsPcm_ = true;
        }
    }
    publish(generation, capturingNow_, writer_ != nullptr);
    setFileName(expandPattern());
    streamInfoChanged();
}

// --- Naming and files (worker) ------------------------------------------------------

std::string Recorder::expandPattern() {
    return pattern_.expand(current_.stationName, current_.title, std::time(nullptr));
}

void Recorder::setFileName(const std::string& name) {
    fileName_ = name;
    filePath_ = uniqueRecordingPath(folder(), name, extension_);
    namePending_ = true;
}

void Recorder::applyPending() {
    if (!capturingNow_) {
        return;
    }
    if (!recording_) {
        check(writer_->close());
        openPath_.clear();
        return;
    }
    if (!namePending_) {
        return;
    }
    namePending_ = false;
    if (filePath_.empty()) {
        return;
    }
    if (writer_->isOpen()) {
        check(writer_->close());  // reported under the old file's name
    }
    createFolders(parentFolder(filePath_));
    openPath_ = filePath_;
    reportedPath_.clear();
    const WriteResult result = writer_->open(filePath_);
    check(result);
    if (result == WriteResult::Ok) {
        FileOpened told;
        {
            std::lock_guard guard(stateLock_);
            told = fileOpened_;
        }
        if (told) {
            told(filePath_);
        }
    }
}

void Recorder::check(WriteResult result) {
    if (result == WriteResult::Ok || openPath_.empty() || reportedPath_ == openPath_) {
        return;
    }
    reportedPath_ = openPath_;
    if (report_) {
        const char* what = result == WriteResult::NotCreated ? "could not be created" : "could not be written";
        report_(makeJob(event::kError, "Recording stopped: the file " + openPath_ + " " + what + "."));
    }
}

}  // namespace korvanel
