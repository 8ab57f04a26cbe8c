#pragma once

#include <string>
#include <vector>

namespace korvanel {

class AudioLibrary;

struct OutputDevice {
    int number = 0;  // what "Sound/PlayOnDevices" names
    std::string name;
};

// The devices a listener can choose, by the numbers the device setting uses:
// the no-sound device, the system's default output, then each sound card.
// Bluetooth devices are left out: they come and go and renumber the rest.
std::vector<OutputDevice> listOutputDevices(AudioLibrary& library);

}  // namespace korvanel
