#include "audio/engine/pulse_sound_output.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "audio/engine/pulse_functions.h"
#include "base/product.h"

namespace korvanel {
namespace {

constexpr int kConnectTimeoutMs = 2000;
constexpr int kStreamTimeoutMs = 3000;
constexpr int kOperationTimeoutMs = 500;
constexpr int kMinBufferMs = 50;
constexpr int kMaxBufferMs = 2000;
// Writes come when the server has room for this share of the buffer: five
// writes per buffer length, about 20 a second at 250 ms.
constexpr int kWritesPerBuffer = 5;
constexpr const char* kIconName = "korvanel";

std::int64_t nowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Holds the loop lock, except on the loop's own thread, which has it already.
class LoopLock {
public:
    LoopLock(const PulseFunctions& f, pa_threaded_mainloop* loop)
        : f_(f), loop_(loop), locked_(!f.pa_threaded_mainloop_in_thread(loop)) {
        if (locked_) {
            f_.pa_threaded_mainloop_lock(loop_);
        }
    }
    ~LoopLock() {
        if (locked_) {
            f_.pa_threaded_mainloop_unlock(loop_);
        }
    }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;
    bool outsideLoop() const { return locked_; }

private:
    const PulseFunctions& f_;
    pa_threaded_mainloop* loop_;
    bool locked_;
};

struct Proplist {
    Proplist(const PulseFunctions& f) : f_(f), list(f.pa_proplist_new()) {}
    ~Proplist() { f_.pa_proplist_free(list); }
    Proplist(const Proplist&) = delete;
    Proplist& operator=(const Proplist&) = delete;
    void set(const char* key, const std::string& value) { f_.pa_proplist_sets(list, key, value.c_str()); }
    const PulseFunctions& f_;
    pa_proplist* list;
};

}  // namespace

// One playback stream on the server.
class PulsePlaybackStream final : public PlaybackStream {
public:
    PulsePlaybackStream(PulseSoundOutput& owner, const PlaybackFormat& format, PlaybackSource& source)
        : owner_(owner),
          f_(*owner.functions_),
          source_(source),
          channels_(format.channels),
          frameBytes_(static_cast<std::size_t>(format.channels) * 2),
          bytesPerSecond_(static_cast<std::uint64_t>(format.frequency) * frameBytes_),
          frequency_(format.frequency) {}

    ~PulsePlaybackStream() override {
        if (stream_ == nullptr) {
            return;
        }
        LoopLock lock(f_, owner_.loop_);
        running_ = false;
        if (kick_ != nullptr) {
            f_.pa_threaded_mainloop_get_api(owner_.loop_)->time_free(kick_);
        }
        f_.pa_stream_set_write_callback(stream_, nullptr, nullptr);
        f_.pa_stream_set_state_callback(stream_, nullptr, nullptr);
        f_.pa_stream_disconnect(stream_);
        f_.pa_stream_unref(stream_);
    }
    PulsePlaybackStream(const PulsePlaybackStream&) = delete;
    PulsePlaybackStream& operator=(const PulsePlaybackStream&) = delete;

    // Opens the stream corked on the named sink (the default for none);
    // empty on success, else what failed.
    std::string connect(const char* sink, int bufferMs) {
        LoopLock lock(f_, owner_.loop_);
        if (!owner_.connected_.load()) {
            return "Sound server: the connection to the server was lost";
        }
        pa_sample_spec spec{};
        spec.format = PA_SAMPLE_S16NE;
        spec.rate = static_cast<std::uint32_t>(frequency_);
        spec.channels = static_cast<std::uint8_t>(channels_);
        pa_channel_map map{};
        f_.pa_channel_map_init_auto(&map, spec.channels, PA_CHANNEL_MAP_WAVEEX);
        Proplist properties(f_);
        properties.set(PA_PROP_MEDIA_ROLE, "music");
        properties.set(PA_PROP_MEDIA_NAME, product::kName);
        properties.set(PA_PROP_APPLICATION_ICON_NAME, kIconName);
        stream_ = f_.pa_stream_new_with_proplist(owner_.context_, product::kName, &spec, &map, properties.list);
        if (stream_ == nullptr) {
            return serverError();
        }
        f_.pa_stream_set_state_callback(stream_, &PulsePlaybackStream::onState, this);
        f_.pa_stream_set_write_callback(stream_, &PulsePlaybackStream::onWrite, this);

        const std::uint64_t bufferBytes = bytesPerSecond_ * static_cast<std::uint64_t>(bufferMs) / 1000;
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.tlength = static_cast<std::uint32_t>(bufferBytes - bufferBytes % frameBytes_);
        attributes.prebuf = static_cast<std::uint32_t>(-1);
        const std::uint64_t request = bufferBytes / kWritesPerBuffer;
        attributes.minreq = static_cast<std::uint32_t>(request - request % frameBytes_);
        attributes.fragsize = static_cast<std::uint32_t>(-1);
        // The buffer is ours, not a latency for the sink to meet: asking the
        // sink to fit within it would cut the writes smaller and more often.
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_INTERPOLATE_TIMING |
                                                          PA_STREAM_AUTO_TIMING_UPDATE);
        if (f_.pa_stream_connect_playback(stream_, sink, &attributes, flags, nullptr, nullptr) < 0) {
            return serverError();
        }
        owner_.waitLocked(
            [this] {
                const pa_stream_state_t state = f_.pa_stream_get_state(stream_);
                return state != PA_STREAM_UNCONNECTED && state != PA_STREAM_CREATING;
            },
            kStreamTimeoutMs);
        if (f_.pa_stream_get_state(stream_) != PA_STREAM_READY) {
            return serverError();
        }
        ready_ = true;
        return {};
    }

    void start() override {
        LoopLock lock(f_, owner_.loop_);
        running_ = true;
        queuedBytes_.store(0);
        queuedAtUs_.store(nowUs());
        finish(f_.pa_stream_cork(stream_, 0, &PulsePlaybackStream::onDone, this), lock);
        // The server asked for samples while corked; the loop answers now.
        if (kick_ == nullptr) {
            kick_ = f_.pa_context_rttime_new(owner_.context_, f_.pa_rtclock_now(), &PulsePlaybackStream::onKick, this);
        }
    }

    void halt() override {
        LoopLock lock(f_, owner_.loop_);
        running_ = false;
        // Corked and emptied: the server plays nothing more of it.
        finish(f_.pa_stream_cork(stream_, 1, &PulsePlaybackStream::onDone, this), lock);
        finish(f_.pa_stream_flush(stream_, &PulsePlaybackStream::onDone, this), lock);
        queuedBytes_.store(0);
    }

    bool appliesVolume() const override { return true; }

    void setVolume(int gain) override {
        LoopLock lock(f_, owner_.loop_);
        pa_cvolume volume{};
        const auto value = static_cast<pa_volume_t>(static_cast<std::uint64_t>(std::clamp(gain, 0, 10000)) *
                                                    PA_VOLUME_NORM / 10000);
        f_.pa_cvolume_set(&volume, static_cast<unsigned>(channels_), value);
        const std::uint32_t index = f_.pa_stream_get_index(stream_);
        if (index != PA_INVALID_INDEX) {
            finish(f_.pa_context_set_sink_input_volume(owner_.context_, index, &volume, nullptr, nullptr), lock,
                   Wait::No);
        }
    }

    void setMediaName(const std::string& name) override {
        LoopLock lock(f_, owner_.loop_);
        Proplist properties(f_);
        properties.set(PA_PROP_MEDIA_NAME, name.empty() ? std::string(product::kName) : name);
        finish(f_.pa_stream_proplist_update(stream_, PA_UPDATE_REPLACE, properties.list, nullptr, nullptr), lock,
               Wait::No);
    }

    std::uint64_t queuedBytes() const override {
        const std::uint64_t queued = queuedBytes_.load();
        const std::int64_t elapsedUs = std::max<std::int64_t>(nowUs() - queuedAtUs_.load(), 0);
        const std::uint64_t played = static_cast<std::uint64_t>(elapsedUs) * bytesPerSecond_ / 1000000;
        return queued > played ? queued - played : 0;
    }

    bool runsOn(std::thread::id thread) const override { return loopThread_.load() == thread; }

private:
    enum class Wait { Yes, No };

    // Releases an operation, first waiting for the server's answer where
    // that is asked for and possible (never on the loop's own thread).
    void finish(pa_operation* operation, const LoopLock& lock, Wait wait = Wait::Yes) {
        if (operation == nullptr) {
            return;
        }
        if (wait == Wait::Yes && lock.outsideLoop()) {
            owner_.waitLocked([&] { return f_.pa_operation_get_state(operation) != PA_OPERATION_RUNNING; },
                              kOperationTimeoutMs);
        }
        f_.pa_operation_unref(operation);
    }

    std::string serverError() const {
        return std::string("Sound server: ") + f_.pa_strerror(f_.pa_context_errno(owner_.context_));
    }

    // Loop thread, lock held.
    void write() {
        loopThread_.store(std::this_thread::get_id());
        if (!running_ || stream_ == nullptr) {
            return;
        }
        std::size_t size = f_.pa_stream_writable_size(stream_);
        if (size == static_cast<std::size_t>(-1) || size < frameBytes_) {
            return;
        }
        void* data = nullptr;
        if (f_.pa_stream_begin_write(stream_, &data, &size) < 0 || data == nullptr) {
            return;
        }
        size -= size % frameBytes_;
        if (size == 0) {
            f_.pa_stream_cancel_write(stream_);
            return;
        }
        source_.fill(std::span(static_cast<std::uint8_t*>(data), size));
        // What the server holds before this write, as it reports it, plus
        // this write: that much is still to be heard.
        pa_usec_t latencyUs = 0;
        int negative = 0;
        std::uint64_t queued = queuedBytes();
        if (f_.pa_stream_get_latency(stream_, &latencyUs, &negative) == 0) {
            queued = negative != 0 ? 0 : latencyUs * bytesPerSecond_ / 1000000;
        }
        f_.pa_stream_write(stream_, data, size, nullptr, 0, PA_SEEK_RELATIVE);
        queuedBytes_.store(queued + size);
        queuedAtUs_.store(nowUs());
    }

    static void onWrite(pa_stream*, std::size_t, void* self) { static_cast<PulsePlaybackStream*>(self)->write(); }

    static void onKick(pa_mainloop_api* api, pa_time_event* event, const struct timeval*, void* self) {
        auto* stream = static_cast<PulsePlaybackStream*>(self);
        api->time_free(event);
        stream->kick_ = nullptr;
        stream->write();
    }

    static void onDone(pa_stream*, int, void* self) {
        auto* stream = static_cast<PulsePlaybackStream*>(self);
        stream->f_.pa_threaded_mainloop_signal(stream->owner_.loop_, 0);
    }

    static void onState(pa_stream* stream, void* self) {
        auto* me = static_cast<PulsePlaybackStream*>(self);
        const pa_stream_state_t state = me->f_.pa_stream_get_state(stream);
        if ((state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) && me->ready_) {
            me->ready_ = false;
            me->running_ = false;
            me->source_.lost();  // its sink or the server is gone
        }
        me->f_.pa_threaded_mainloop_signal(me->owner_.loop_, 0);
    }

    PulseSoundOutput& owner_;
    const PulseFunctions& f_;
    PlaybackSource& source_;
    const int channels_;
    const std::size_t frameBytes_;
    const std::uint64_t bytesPerSecond_;
    const int frequency_;
    pa_stream* stream_ = nullptr;
    pa_time_event* kick_ = nullptr;  // loop lock: a write asked for on the loop's thread
    bool running_ = false;  // loop lock
    bool ready_ = false;    // loop lock
    std::atomic<std::uint64_t> queuedBytes_{0};
    std::atomic<std::int64_t> queuedAtUs_{0};
    std::atomic<std::thread::id> loopThread_{};
};

PulseSoundOutput::PulseSoundOutput(const std::string& libraryName, const std::string& applicationName)
    : library_(SharedLibrary::open(libraryName)), functions_(std::make_unique<PulseFunctions>()) {
    if (!library_) {
        failure_ = "Sound server: " + libraryName + " is not installed";
        return;
    }
    bool complete = true;
    PulseFunctions& f = *functions_;
#define KORVANEL_RESOLVE_PULSE(name) complete = library_->resolve(#name, f.name) && complete;
    KORVANEL_PULSE_FUNCTIONS(KORVANEL_RESOLVE_PULSE)
#undef KORVANEL_RESOLVE_PULSE
    if (!complete) {
        failure_ = "Sound server: " + libraryName + " is too old";
        return;
    }
    if (!connect(applicationName)) {
        disconnect();
    }
}

PulseSoundOutput::~PulseSoundOutput() { disconnect(); }

template <class Done>
bool PulseSoundOutput::waitLocked(Done done, int timeoutMs) {
    const PulseFunctions& f = *functions_;
    struct Timer {
        PulseSoundOutput* owner;
        bool fired = false;
    } timer{this};
    pa_time_event* event = f.pa_context_rttime_new(
        context_, f.pa_rtclock_now() + static_cast<pa_usec_t>(timeoutMs) * 1000,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
            auto* t = static_cast<Timer*>(data);
            t->fired = true;
            t->owner->functions_->pa_threaded_mainloop_signal(t->owner->loop_, 0);
        },
        &timer);
    while (!done() && !timer.fired) {
        f.pa_threaded_mainloop_wait(loop_);
    }
    if (event != nullptr) {
        f.pa_threaded_mainloop_get_api(loop_)->time_free(event);
    }
    return done();
}

void PulseSoundOutput::onContextState(pa_context* context, void* self) {
    auto* owner = static_cast<PulseSoundOutput*>(self);
    const pa_context_state_t state = owner->functions_->pa_context_get_state(context);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
        owner->connected_.store(false);
    }
    owner->functions_->pa_threaded_mainloop_signal(owner->loop_, 0);
}

bool PulseSoundOutput::connect(const std::string& applicationName) {
    const PulseFunctions& f = *functions_;
    loop_ = f.pa_threaded_mainloop_new();
    if (loop_ == nullptr) {
        failure_ = "Sound server: out of memory";
        return false;
    }
    Proplist properties(f);
    properties.set(PA_PROP_APPLICATION_NAME, applicationName);
    properties.set(PA_PROP_APPLICATION_ICON_NAME, kIconName);
    properties.set(PA_PROP_APPLICATION_ID, kIconName);
    context_ = f.pa_context_new_with_proplist(f.pa_threaded_mainloop_get_api(loop_), applicationName.c_str(),
                                              properties.list);
    if (context_ == nullptr) {
        failure_ = "Sound server: out of memory";
        return false;
    }
    f.pa_context_set_state_callback(context_, &PulseSoundOutput::onContextState, this);
    // Never start a server of our own: without one, SDL plays.
    if (f.pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        f.pa_threaded_mainloop_start(loop_) < 0) {
        failure_ = std::string("Sound server: ") + f.pa_strerror(f.pa_context_errno(context_));
        return false;
    }
    f.pa_threaded_mainloop_lock(loop_);
    waitLocked(
        [&] {
            const pa_context_state_t state = f.pa_context_get_state(context_);
            return state == PA_CONTEXT_READY || state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED;
        },
        kConnectTimeoutMs);
    const bool ready = f.pa_context_get_state(context_) == PA_CONTEXT_READY;
    if (ready) {
        f.pa_context_set_subscribe_callback(
            context_,
            [](pa_context*, pa_subscription_event_type_t type, std::uint32_t, void* self) {
                auto* owner = static_cast<PulseSoundOutput*>(self);
                const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
                if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
                    owner->requestSinks();
                } else if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
                    owner->requestServerInfo();
                }
            },
            this);
        if (pa_operation* operation = f.pa_context_subscribe(
                context_, static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER),
                nullptr, nullptr)) {
            f.pa_operation_unref(operation);
        }
        requestServerInfo();
        requestSinks();
        waitLocked([this] { return sinksKnown_ && serverKnown_; }, kConnectTimeoutMs);
        connected_.store(f.pa_context_get_state(context_) == PA_CONTEXT_READY);
    } else {
        std::lock_guard<std::mutex> guard(namesLock_);
        failure_ = std::string("Sound server: ") + f.pa_strerror(f.pa_context_errno(context_));
    }
    f.pa_threaded_mainloop_unlock(loop_);
    return connected_.load();
}

void PulseSoundOutput::disconnect() {
    const PulseFunctions& f = *functions_;
    connected_.store(false);
    if (loop_ != nullptr) {
        f.pa_threaded_mainloop_stop(loop_);
    }
    if (context_ != nullptr) {
        f.pa_context_set_state_callback(context_, nullptr, nullptr);
        f.pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        f.pa_context_disconnect(context_);
        f.pa_context_unref(context_);
        context_ = nullptr;
    }
    if (loop_ != nullptr) {
        f.pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
    }
}

void PulseSoundOutput::requestSinks() {
    pa_operation* operation = functions_->pa_context_get_sink_info_list(
        context_,
        [](pa_context*, const pa_sink_info* info, int last, void* self) {
            auto* owner = static_cast<PulseSoundOutput*>(self);
            if (last == 0 && info != nullptr) {
                owner->arrivingSinks_.push_back(Sink{info->name != nullptr ? info->name : "",
                                                     info->description != nullptr ? info->description : ""});
                return;
            }
            {
                std::lock_guard<std::mutex> guard(owner->namesLock_);
                owner->sinks_ = std::move(owner->arrivingSinks_);
            }
            owner->arrivingSinks_.clear();
            owner->sinksKnown_ = true;
            owner->functions_->pa_threaded_mainloop_signal(owner->loop_, 0);
        },
        this);
    if (operation != nullptr) {
        functions_->pa_operation_unref(operation);
    }
}

void PulseSoundOutput::requestServerInfo() {
    pa_operation* operation = functions_->pa_context_get_server_info(
        context_,
        [](pa_context*, const pa_server_info* info, void* self) {
            auto* owner = static_cast<PulseSoundOutput*>(self);
            if (info != nullptr) {
                std::lock_guard<std::mutex> guard(owner->namesLock_);
                owner->serverName_ = std::string(info->server_name != nullptr ? info->server_name : "") + " " +
                                     (info->server_version != nullptr ? info->server_version : "");
            }
            owner->serverKnown_ = true;
            owner->functions_->pa_threaded_mainloop_signal(owner->loop_, 0);
        },
        this);
    if (operation != nullptr) {
        functions_->pa_operation_unref(operation);
    }
}

std::string PulseSoundOutput::failure() const {
    std::lock_guard<std::mutex> guard(namesLock_);
    return failure_;
}

void PulseSoundOutput::setBufferMs(int milliseconds) {
    bufferMs_.store(std::clamp(milliseconds, kMinBufferMs, kMaxBufferMs));
}

std::string PulseSoundOutput::name() const {
    std::lock_guard<std::mutex> guard(namesLock_);
    return "Sound server: " + serverName_;
}

int PulseSoundOutput::deviceCount() const {
    if (!connected_.load()) {
        return 0;
    }
    std::lock_guard<std::mutex> guard(namesLock_);
    return 1 + static_cast<int>(sinks_.size());
}

std::optional<std::string> PulseSoundOutput::description(int device) const {
    if (!connected_.load() || device < 1) {
        return std::nullopt;
    }
    if (device == 1) {
        return std::string("Default output");
    }
    std::lock_guard<std::mutex> guard(namesLock_);
    const auto index = static_cast<std::size_t>(device - 2);
    if (index >= sinks_.size()) {
        return std::nullopt;
    }
    return sinks_[index].description.empty() ? sinks_[index].name : sinks_[index].description;
}

SoundOutput::Opened PulseSoundOutput::open(int device, const PlaybackFormat& format, PlaybackSource& source) {
    if (!connected_.load()) {
        return {nullptr, failure().empty() ? "Sound server: not connected" : failure()};
    }
    std::string sink;
    if (device > 1) {
        std::lock_guard<std::mutex> guard(namesLock_);
        const auto index = static_cast<std::size_t>(device - 2);
        if (index >= sinks_.size()) {
            return {nullptr, "Sound server: there is no device " + std::to_string(device)};
        }
        sink = sinks_[index].name;
    }
    auto stream = std::make_unique<PulsePlaybackStream>(*this, format, source);
    std::string error = stream->connect(sink.empty() ? nullptr : sink.c_str(), bufferMs_.load());
    if (!error.empty()) {
        return {nullptr, std::move(error)};
    }
    return {std::move(stream), {}};
}

}  // namespace korvanel
