#include "audio/output_devices.h"

#include "audio/audio_library.h"

namespace korvanel {

std::vector<OutputDevice> listOutputDevices(AudioLibrary& library) {
    // A guard against a library that never says "no more".
    constexpr int kMaxDevices = 256;
    std::vector<OutputDevice> devices;
    for (int number = audio::kNoSoundDevice; number < kMaxDevices; ++number) {
        AudioResult<std::string> description = library.deviceDescription(number);
        if (!description) {
            break;
        }
        if (description->find("luetooth") == std::string::npos) {
            devices.push_back(OutputDevice{number, std::move(description).value()});
        }
    }
    return devices;
}

}  // namespace korvanel
