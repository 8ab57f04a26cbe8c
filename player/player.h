#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <variant>

#include "base/event_sink.h"
#include "base/serial_queue.h"
#include "audio/audio_library.h"
#include "audio/channel_notice.h"
#include "settings/settings_listener.h"

namespace korvanel {

class Leveller;
class OutputChannel;
class PlaylistResolver;
class RecordingSink;
class SettingsStore;
class SoundEffects;
class StreamInfo;

// Turns the playlist resolver's list into sound: resolves playlists, opens
// streams, retries, starts the list over, and reconnects when a live stream
// drops, reporting every step to the main window as events.
//
// Threads: all the work runs as messages on the player's one worker, in
// posting order. The window thread (the command line's main thread in
// korvanel-cli) calls play/stop/next/previous (which only post, or mark a
// running connect run as stopped), the volume operations, level() and
// progress(); the settings are applied on either. The output channel's
// library callbacks post their notices too (notify). A stop request cuts the retry and
// restart waits short, and an open that waits on the network.
// waitLock_ guards the waits and makes a stop's cancel and a run's start
// exclusive; the mute state is the window thread's own.
class Player final : public SettingsListener, public ChannelNotices {
public:
    enum class State : int { Idle = 0, Connecting = 1, StopRequested = 2, Buffering = 3, Playing = 4 };

    static constexpr int kRetryWaitSeconds = 5;
    static constexpr int kRestartWaitSeconds = 10;

    // Makes the audio library when the player initialises; may return null
    // (no library), which leaves the player without an output channel.
    using LibraryFactory = std::function<std::unique_ptr<AudioLibrary>()>;

    // What the player works with; none of it is owned, all of it outlives
    // the player. The pointers may be null (tests without them).
    struct Dependencies {
        SettingsStore& settings;
        const SettingsStore& language;
        PlaylistResolver& resolver;
        EventSink& events;
        SoundEffects* soundEffects = nullptr;
        RecordingSink* recorder = nullptr;
        StreamInfo* streamInfo = nullptr;
        Leveller* leveller = nullptr;
    };

    Player(const Dependencies& uses, LibraryFactory makeLibrary);
    ~Player() override;

    void applySettings(SettingsStore& store) override;
    void collectSettings(SettingsStore& store) override;
    // From the output channel, on the library's threads: queued for the worker.
    void notify(ChannelNotice notice) override;

    // Ends the worker (a running connect run is cut short) and the audio;
    // afterwards nothing is posted to the main window any more. Idempotent.
    void shutdown();

    void stop();
    void play();
    void next();
    void previous();
    bool isMuted() const;
    void mute();
    void unmute();
    // 0.0 to 1.0.
    void setVolume(double volume);
    double volume() const;
    std::uint32_t level() const;
    // The share of a file stream played, 0 to 100; -1 for a live stream or no output.
    double progress() const;

    State state() const { return state_.load(); }
    // Messages queued that the worker has not taken yet.
    std::size_t pendingCount() const { return queue_.pendingCount(); }
    // Whether every message posted before the call was handled within the bound.
    bool waitUntilIdleFor(std::chrono::milliseconds bound) { return queue_.waitUntilIdleFor(bound); }
    // Null until Init ran, and when the library could not be set up. Only
    // for the player's worker and for reading on other threads while the
    // player lives.
    OutputChannel* channel() const { return channelView_.load(); }

    // The waits of the connect run, shortened by tests.
    void setWaitScale(double scale) { waitScale_ = scale; }

private:
    enum class Outcome { Ok, Fatal, Retryable, Skip, Resolved };
    // What the window asks of the worker; the channel's notices travel beside.
    enum class Command { Init, Play, Next, Previous, Stop };
    using Message = std::variant<Command, ChannelNotice>;

    void handle(Message& message);
    void run(Command command);
    void onNotice(ChannelNotice notice);

    void init();
    bool connectRun(int perSource, int restarts);
    void closeAndReportStopped();
    void moveTo(bool forward);
    void onStreamEnd();
    // Waits, returning early (false) when a stop is requested.
    bool wait(int seconds);
    void postEvent(EventKind kind, std::string text = {});
    std::string text(const char* key) const;
    std::string formatted(const char* key, const std::string& argument) const;
    std::string formatted(const char* key, int argument) const;

    Dependencies uses_;
    LibraryFactory makeLibrary_;
    std::unique_ptr<OutputChannel> channel_;         // the worker's
    std::atomic<OutputChannel*> channelView_{nullptr};  // the same, for other threads
    std::atomic<State> state_{State::Idle};
    double waitScale_ = 1.0;
    std::string outputName_;  // the worker's: the sound output last told of

    // Guards the waits, and makes a stop's cancel and a run's start exclusive.
    std::mutex waitLock_;
    std::condition_variable stopRequested_;

    // The window thread's: the volume operations run there only.
    bool muted_ = false;
    double savedVolume_ = 0.0;

    // Last: its worker uses everything above and goes first.
    SerialQueue<Message> queue_{[this](Message& message) { handle(message); }};
};

}  // namespace korvanel
