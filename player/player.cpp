#include "player/player.h"

#include <chrono>

#include "base/window_event.h"
#include "audio/leveller.h"
#include "audio/output_channel.h"
#include "settings/language_texts.h"
#include "stream/playlist_resolver.h"

namespace korvanel {

Player::Player(const Dependencies& uses, LibraryFactory makeLibrary)
    : uses_(uses), makeLibrary_(std::move(makeLibrary)) {
    queue_.post(Command::Init);
}

Player::~Player() { shutdown(); }

void Player::shutdown() {
    // Cut a running connect run short, then let the worker finish it.
    if (state_.load() == State::Connecting) {
        stop();
    }
    queue_.stop(SerialQueue<Message>::Pending::Drop);
    if (channel_) {
        channelView_ = nullptr;
        channel_->shutdown();
    }
}

void Player::applySettings(SettingsStore& store) {
    // Runs on the window thread too: only the published channel is used.
    if (OutputChannel* output = channel()) {
        output->setBufferLength(store.getInt("Sound/BufferSize"));
        output->setHlsBandwidth(store.getInt("Sound/HlsBandwidth"));
        output->setServerBuffer(store.getInt("Sound/ServerBufferMs"));
        output->setDevices(store.getString("Sound/PlayOnDevices"));
    }
}

void Player::collectSettings(SettingsStore&) {}

void Player::stop() {
    // Commands still queued would undo the stop: a next or play behind a
    // running connect run would start another one once it ends.
    queue_.clearPending();
    {
        // Under the lock with which a connect run allows its opens, so this
        // cancel can only meet the run it stops.
        std::lock_guard<std::mutex> guard(waitLock_);
        State connecting = State::Connecting;
        if (state_.compare_exchange_strong(connecting, State::StopRequested)) {
            if (OutputChannel* output = channel()) {
                output->cancelOpen();  // an open waiting on the network returns now
            }
            uses_.resolver.cancelDownloads();  // so does a playlist download
            stopRequested_.notify_all();
            return;
        }
    }
    queue_.post(Command::Stop);
}

void Player::play() { queue_.post(Command::Play); }
void Player::next() { queue_.post(Command::Next); }
void Player::previous() { queue_.post(Command::Previous); }
void Player::notify(ChannelNotice notice) { queue_.post(notice); }

bool Player::isMuted() const { return muted_; }

void Player::mute() {
    muted_ = true;
    if (OutputChannel* output = channel()) {
        savedVolume_ = output->volume();
        output->setVolume(0.0);
    }
}

void Player::unmute() {
    muted_ = false;
    if (OutputChannel* output = channel()) {
        output->setVolume(savedVolume_);
    }
}

void Player::setVolume(double volume) {
    if (OutputChannel* output = channel()) {
        output->setVolume(volume);
    }
    muted_ = false;
}

double Player::volume() const {
    if (muted_) {
        return savedVolume_;
    }
    const OutputChannel* output = channel();
    return output ? output->volume() : 0.0;
}

std::uint32_t Player::level() const {
    const OutputChannel* output = channel();
    return output ? output->level() : 0;
}

double Player::progress() const {
    const OutputChannel* output = channel();
    return output ? output->progress() : -1.0;  // no output: nothing is buffered, as with a live stream
}

void Player::handle(Message& message) {
    if (const Command* command = std::get_if<Command>(&message)) {
        run(*command);
    } else {
        onNotice(std::get<ChannelNotice>(message));
    }
}

void Player::run(Command command) {
    switch (command) {
        case Command::Init:
            init();
            break;
        case Command::Play:
            if (state_.load() != State::Idle && channel_) {
                closeAndReportStopped();
            }
            connectRun(1, 0);
            break;
        case Command::Next:
        case Command::Previous:
            moveTo(command == Command::Next);
            break;
        case Command::Stop:
            if (channel_) {
                closeAndReportStopped();
            }
            break;
    }
}

void Player::onNotice(ChannelNotice notice) {
    switch (notice) {
        case ChannelNotice::StreamEnded:
            onStreamEnd();
            break;
        case ChannelNotice::Stalled:
            state_ = State::Buffering;
            postEvent(EventKind::Stalled);
            break;
        case ChannelNotice::Resumed:
            state_ = State::Playing;
            postEvent(EventKind::Resumed);
            break;
        case ChannelNotice::InfoParsed:
            postEvent(EventKind::InfoChanged);
            break;
    }
}

void Player::init() {
    auto created = std::make_unique<OutputChannel>(makeLibrary_ ? makeLibrary_() : nullptr);
    if (!created->init()) {
        created->shutdown();
        return;
    }
    created->setSoundEffects(uses_.soundEffects);
    created->setLeveller(uses_.leveller);
    created->setRecorder(uses_.recorder);
    created->setStreamInfo(uses_.streamInfo);
    created->setNotices(this);
    created->setVolume(uses_.settings.getInt("Session/Volume") * 0.01);
    channel_ = std::move(created);
    channelView_ = channel_.get();
    applySettings(uses_.settings);
}

void Player::closeAndReportStopped() {
    channel_->close();
    state_ = State::Idle;
    postEvent(EventKind::Stopped);
}

void Player::moveTo(bool forward) {
    if (channel_) {
        closeAndReportStopped();
    }
    if (forward ? uses_.resolver.hasNext() : uses_.resolver.hasPrevious()) {
        forward ? uses_.resolver.next() : uses_.resolver.previous();
        connectRun(1, 0);
    }
}

void Player::onStreamEnd() {
    if (!channel_) {
        return;
    }
    if (!channel_->isLiveStream()) {
        postEvent(EventKind::StreamEnded);
        moveTo(true);
        return;
    }
    postEvent(EventKind::StreamLost);
    channel_->close();
    const SettingsStore& settings = uses_.settings;
    // The settings only switch reconnecting on or off; the counts are fixed.
    if (settings.getInt("General/ReconnectRetries") + settings.getInt("General/RestartRetries") <= 0) {
        return;
    }
    postEvent(EventKind::Reconnecting, text("Player/Message/Reconnecting"));
    connectRun(3, 1);
}

bool Player::connectRun(int perSource, int restarts) {
    if (!channel_) {
        postEvent(EventKind::Message, text("Player/Error/InitError"));
        return false;
    }
    if (uses_.resolver.isEmpty()) {
        postEvent(EventKind::Message, text("Player/Error/NoSource"));
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(waitLock_);
        channel_->allowOpen();
        uses_.resolver.allowDownloads();
        state_ = State::Connecting;
    }
    postEvent(EventKind::Connecting);
    if (uses_.leveller != nullptr) {
        uses_.leveller->setStation(uses_.resolver.firstSource());
    }

    int attempt = 0;
    int restart = 0;
    while (state_.load() == State::Connecting) {
        ++attempt;
        Outcome outcome = Outcome::Skip;
        bool connectionOutcome = false;
        bool openFailed = false;
        std::string address;
        std::string why;  // the failed open's
        if (uses_.resolver.needsResolving()) {
            postEvent(EventKind::Resolving, uses_.resolver.currentAddress());
            if (uses_.resolver.resolveCurrent()) {
                postEvent(EventKind::Resolved);
                outcome = Outcome::Resolved;
            } else {
                // A refused certificate is named, not left as "could not retrieve".
                const TlsFailure refused = uses_.resolver.lastSecureFailure();
                postEvent(EventKind::Error,
                          refused == TlsFailure::None
                              ? text("Player/Error/PlaylistFailed")
                              : formatted("Player/Error/PlaylistRefused", text(tlsFailureTextKey(refused))));
                postEvent(EventKind::ResolveFailed);
                outcome = Outcome::Retryable;
            }
        } else {
            connectionOutcome = true;
            address = uses_.resolver.currentAddress();
            if (!address.empty()) {
                postEvent(EventKind::Connecting, address);
                const ChannelResult opened = channel_->open(address);
                why = opened ? std::string() : opened.error().text();
                switch (outcomeOf(opened)) {
                    case OpenResult::Opened: outcome = Outcome::Ok; break;
                    case OpenResult::Fatal: outcome = Outcome::Fatal; break;
                    case OpenResult::Timeout: outcome = Outcome::Retryable; break;
                    case OpenResult::Playlist:
                        // Known by its bytes, not its name: resolved next time round.
                        uses_.resolver.markCurrentAsPlaylist();
                        outcome = Outcome::Resolved;
                        break;
                    case OpenResult::Failed:
                    case OpenResult::Unsupported:
                        outcome = Outcome::Skip;
                        openFailed = true;
                        break;
                }
            }
        }

        if (state_.load() == State::StopRequested) {
            break;
        }
        if (outcome == Outcome::Ok) {
            State connecting = State::Connecting;
            // A stop that comes in right now still wins.
            if (!state_.compare_exchange_strong(connecting, State::Playing)) {
                break;
            }
            // The address travels with the event: a stop right after it may
            // clear the stream information before the event is handled.
            postEvent(EventKind::Connected, address);
            // Which output plays is known once a card opened; said when it changes.
            if (std::string output = channel_->outputName(); !output.empty() && output != outputName_) {
                outputName_ = output;
                postEvent(EventKind::SoundOutput, std::move(output));
            }
            return true;
        }
        if (outcome == Outcome::Fatal) {
            state_ = State::Idle;
            postEvent(EventKind::Message, formatted("Player/Error/Critical", why));
            return false;
        }
        if (outcome == Outcome::Resolved) {
            continue;  // the new current entry is tested again: nested playlists resolve in turn
        }
        if (connectionOutcome) {
            // The engine only says it could not open the stream; a secure
            // server is asked once more whether its certificate is why.
            if (openFailed && state_.load() == State::Connecting) {
                if (const TlsFailure refused = uses_.resolver.checkCertificate(address); refused != TlsFailure::None) {
                    why = text(tlsFailureTextKey(refused));
                }
            }
            postEvent(EventKind::Error, formatted("Player/Error/Connect", why));
        }
        if (attempt < perSource && outcome == Outcome::Retryable) {
            postEvent(EventKind::Message, formatted("Player/Message/WaitRetry", kRetryWaitSeconds));
            wait(kRetryWaitSeconds);
            continue;
        }
        attempt = 0;
        if (uses_.resolver.hasNext()) {
            uses_.resolver.next();
            continue;
        }
        if (restart++ >= restarts) {
            state_ = State::Idle;
            postEvent(EventKind::Message, text("Player/Error/AllFailed"));
            return false;
        }
        postEvent(EventKind::Message, formatted("Player/Message/WaitRestart", kRestartWaitSeconds));
        if (wait(kRestartWaitSeconds)) {
            uses_.resolver.rewind();
        }
    }

    // A stop was requested, possibly during a wait.
    channel_->close();
    state_ = State::Idle;
    postEvent(EventKind::Stopped);
    return false;
}

bool Player::wait(int seconds) {
    const auto duration = std::chrono::duration<double>(seconds * waitScale_);
    std::unique_lock<std::mutex> lock(waitLock_);
    return !stopRequested_.wait_for(lock, duration, [this] { return state_.load() == State::StopRequested; });
}

void Player::postEvent(EventKind kind, std::string eventText) {
    uses_.events.post(makeEvent(kind, std::move(eventText)));
}

std::string Player::text(const char* key) const { return uses_.language.getString(key); }

std::string Player::formatted(const char* key, const std::string& argument) const {
    return formatText(text(key), {argument});
}

std::string Player::formatted(const char* key, int argument) const {
    return formatText(text(key), {std::int64_t{argument}});
}

}  // namespace korvanel
