#include "audio/engine/audio_engine.h"

#include <algorithm>

#include "audio/engine/output_stream.h"
#include "audio/engine/sound_output.h"

// The engine's settings and sound cards; streams and channels are in
// audio_engine.cpp.

namespace korvanel {

bool AudioEngine::setConfig(std::uint32_t option, std::uint32_t value) {
    std::lock_guard<std::mutex> guard(lock_);
    switch (option) {
        case audio::kConfigNetBuffer: streamConfig_.bufferMs = value; break;
        case audio::kConfigHlsBandwidth: streamConfig_.hlsBandwidth = value; break;
        case audio::kConfigServerBuffer:
            streamConfig_.serverBufferMs = value;
            if (output_) {
                output_->setBufferMs(static_cast<int>(value));
            }
            break;
        default: return false;
    }
    return true;
}

std::uint32_t AudioEngine::version() const { return audio::kVersion; }

AudioResult<std::string> AudioEngine::deviceDescription(int device) {
    if (device == audio::kNoSoundDevice) {
        return std::string("No sound");
    }
    std::optional<std::string> description;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (const std::optional<Route> route = routeLocked(device)) {
            description = route->output->description(route->device);
        }
    }
    if (!description) {
        return audioFailure(AudioError::Device);
    }
    return std::move(*description);
}

std::string AudioEngine::outputName() {
    std::lock_guard<std::mutex> guard(lock_);
    return output_ ? output_->name() : std::string();
}

AudioResult<void> AudioEngine::init(int device, int frequency) {
    if (device == -1) {
        device = audio::kDefaultDevice;
    }
    if (frequency <= 0 || frequency > kMaxFrequency) {
        return audioFailure(AudioError::IllegalParameter);
    }
    AudioError error = AudioError::Ok;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (device < 0) {
            error = AudioError::Device;
        } else if (devices_.count(device) != 0) {
            error = AudioError::Already;
        } else if (device != audio::kNoSoundDevice && !routeLocked(device)) {
            error = soundOutputLocked()->deviceCount() == 0 ? AudioError::Driver : AudioError::Device;
        }
        if (error == AudioError::Ok) {
            devices_[device] = Device{};
            selected_ = device;
        }
    }
    if (error != AudioError::Ok) {
        return audioFailure(error);
    }
    return {};
}

AudioResult<void> AudioEngine::setDevice(int device) {
    std::unique_lock<std::mutex> lock(lock_);
    const bool known = devices_.count(device) != 0;
    if (known) {
        selected_ = device;
    }
    lock.unlock();
    return succeededOr(known, device < 0 ? AudioError::Device : AudioError::Init);
}

AudioResult<void> AudioEngine::freeDevice() {
    std::vector<StreamId> outputs;
    bool known = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        known = devices_.erase(selected_) == 1;
        for (const auto& [id, entry] : streams_) {
            if (entry.output && entry.output->device() == selected_) {
                outputs.push_back(StreamId{id});
            }
        }
    }
    for (StreamId output : outputs) {
        remove(output);
    }
    return succeededOr(known, AudioError::Init);
}

AudioResult<void> AudioEngine::startDevice() {
    std::vector<std::shared_ptr<OutputStream>> resume;
    bool known = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto device = devices_.find(selected_);
        if (device != devices_.end()) {
            known = true;
            device->second.stopped = false;
            for (std::uint32_t id : device->second.paused) {
                auto it = streams_.find(id);
                if (it != streams_.end() && it->second.output) {
                    resume.push_back(it->second.output);
                }
            }
            device->second.paused.clear();
        }
    }
    for (auto& output : resume) {
        output->play();
    }
    return succeededOr(known, AudioError::Init);
}

AudioResult<void> AudioEngine::stopDevice() { return haltSelectedDevice(Halt::Stop); }

AudioResult<void> AudioEngine::pauseDevice() { return haltSelectedDevice(Halt::Pause); }

AudioResult<void> AudioEngine::haltSelectedDevice(Halt halt) {
    std::vector<std::shared_ptr<OutputStream>> outputs;
    bool known = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto device = devices_.find(selected_);
        if (device != devices_.end()) {
            known = true;
            device->second.stopped = true;
            if (halt == Halt::Stop) {
                device->second.paused.clear();
            }
            for (const auto& [id, entry] : streams_) {
                if (!entry.output || entry.output->device() != selected_) {
                    continue;
                }
                // A pause remembers what was playing, for startDevice to resume.
                if (halt == Halt::Pause) {
                    if (entry.output->isActive() == ActiveState::Stopped) {
                        continue;
                    }
                    device->second.paused.push_back(id);
                }
                outputs.push_back(entry.output);
            }
        }
    }
    for (auto& output : outputs) {
        output->stop();
    }
    return succeededOr(known, AudioError::Init);
}

AudioResult<void> AudioEngine::setDeviceVolume(int volume) {
    if (volume < 0 || volume > 100) {
        return audioFailure(AudioError::IllegalParameter);
    }
    std::vector<std::shared_ptr<OutputStream>> outputs;
    bool known = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto device = devices_.find(selected_);
        if (device != devices_.end()) {
            known = true;
            device->second.volume = volume;
            for (const auto& [id, entry] : streams_) {
                if (entry.output && entry.output->device() == selected_) {
                    outputs.push_back(entry.output);
                }
            }
        }
    }
    for (auto& output : outputs) {
        output->setDeviceVolume(volume);
    }
    return succeededOr(known, AudioError::Init);
}

int AudioEngine::deviceVolume() {
    int volume = -1;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto device = devices_.find(selected_);
        if (device != devices_.end()) {
            volume = device->second.volume;
        }
    }
    return volume;
}

}  // namespace korvanel
