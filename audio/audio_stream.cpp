#include "audio/audio_stream.h"

#include <utility>

#include "audio/audio_library.h"

namespace korvanel {

AudioSync::AudioSync(AudioSync&& other) noexcept
    : library_(std::exchange(other.library_, nullptr)), stream_(other.stream_), sync_(other.sync_) {}

AudioSync& AudioSync::operator=(AudioSync&& other) noexcept {
    if (this != &other) {
        remove();
        library_ = std::exchange(other.library_, nullptr);
        stream_ = other.stream_;
        sync_ = other.sync_;
    }
    return *this;
}

AudioResult<void> AudioSync::remove() {
    AudioLibrary* library = std::exchange(library_, nullptr);
    if (library == nullptr) {
        return audioFailure(AudioError::Handle);
    }
    return library->channelRemoveSync(stream_, sync_);
}

AudioStream::AudioStream(AudioStream&& other) noexcept
    : library_(std::exchange(other.library_, nullptr)), id_(other.id_) {}

AudioStream& AudioStream::operator=(AudioStream&& other) noexcept {
    if (this != &other) {
        free();
        library_ = std::exchange(other.library_, nullptr);
        id_ = other.id_;
    }
    return *this;
}

AudioResult<void> AudioStream::free() {
    if (library_ == nullptr) {
        return audioFailure(AudioError::Handle);
    }
    // A callback of the stream may still read library_ (asking for its
    // queue), so it is cleared only once the free has waited them out.
    AudioResult<void> freed = library_->streamFree(id_);
    library_ = nullptr;
    return freed;
}

std::optional<std::vector<std::string>> AudioStream::tags(std::uint32_t type) const {
    if (library_ == nullptr) {
        return std::nullopt;
    }
    return library_->streamGetTags(id_, type);
}

std::int64_t AudioStream::length() const {
    return library_ != nullptr ? library_->streamGetLength(id_) : audio::kUnknownLength;
}

AudioResult<ChannelInfo> AudioStream::info() const {
    if (library_ == nullptr) {
        return audioFailure(AudioError::Handle);
    }
    return library_->channelGetInfo(id_);
}

AudioResult<void> AudioStream::play(bool restart) {
    if (library_ == nullptr) {
        return audioFailure(AudioError::Handle);
    }
    return library_->channelPlay(id_, restart);
}

AudioResult<void> AudioStream::stop() {
    if (library_ == nullptr) {
        return audioFailure(AudioError::Handle);
    }
    return library_->channelStop(id_);
}

ActiveState AudioStream::activity() const {
    return library_ != nullptr ? library_->channelIsActive(id_) : ActiveState::Stopped;
}

AudioResult<SyncId> AudioStream::addSync(std::uint32_t type, std::uint64_t param, SyncCallback callback) {
    if (library_ == nullptr) {
        return audioFailure(AudioError::Handle);
    }
    return library_->channelSetSync(id_, type, param, std::move(callback));
}

AudioResult<AudioSync> AudioStream::setSync(std::uint32_t type, std::uint64_t param, SyncCallback callback) {
    AudioResult<SyncId> made = addSync(type, param, std::move(callback));
    if (!made) {
        return fail(made.error());
    }
    return AudioSync(*library_, id_, *made);
}

AudioResult<void> AudioStream::setLifelongSync(std::uint32_t type, std::uint64_t param, SyncCallback callback) {
    AudioResult<SyncId> made = addSync(type, param, std::move(callback));
    if (!made) {
        return fail(made.error());
    }
    return {};
}

std::uint32_t AudioStream::level() const {
    return library_ != nullptr ? library_->channelGetLevel(id_) : audio::kLevelError;
}

AudioResult<void> AudioStream::setAttributes(int frequency, int volume, int pan) {
    if (library_ == nullptr) {
        return audioFailure(AudioError::Handle);
    }
    return library_->channelSetAttributes(id_, frequency, volume, pan);
}

AudioResult<void> AudioStream::setVolume(int volume) {
    return setAttributes(audio::kFrequencyUnchanged, volume, audio::kPanUnchanged);
}

std::optional<ChannelAttributes> AudioStream::attributes() const {
    if (library_ == nullptr) {
        return std::nullopt;
    }
    return library_->channelGetAttributes(id_);
}

AudioResult<std::uint32_t> AudioStream::read(std::span<std::uint8_t> buffer) {
    if (library_ == nullptr) {
        return audioFailure(AudioError::Handle);
    }
    return library_->channelGetData(id_, buffer);
}

std::int64_t AudioStream::position() const {
    return library_ != nullptr ? library_->channelGetPosition(id_) : audio::kUnknownLength;
}

std::uint64_t AudioStream::queued() const { return library_ != nullptr ? library_->channelGetQueued(id_) : 0; }

bool AudioStream::setMediaName(const std::string& name) {
    return library_ != nullptr && library_->channelSetMediaName(id_, name);
}

AudioResult<AudioStream> AudioLibrary::wrap(AudioResult<StreamId> made) {
    if (!made) {
        return fail(made.error());
    }
    return AudioStream(*this, *made);
}

AudioResult<AudioStream> AudioLibrary::openOutput(int frequency, int channels, std::uint32_t flags,
                                                  SampleCallback samples) {
    return wrap(streamCreate(frequency, channels, flags, std::move(samples)));
}

AudioResult<AudioStream> AudioLibrary::openUrl(const std::string& url, std::uint32_t offset, std::uint32_t flags,
                                               DownloadCallback download) {
    return wrap(streamCreateUrl(url, offset, flags, std::move(download)));
}

AudioResult<AudioStream> AudioLibrary::openWindowsMedia(const std::string& address, std::uint32_t flags) {
    return wrap(wmaStreamCreateFile(address, flags));
}

}  // namespace korvanel
