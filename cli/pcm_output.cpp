#include "cli/pcm_output.h"

namespace korvanel {

std::unique_ptr<PcmOutput> PcmOutput::open(const std::string& path) {
    if (path == "-") {
        return std::make_unique<PcmOutput>(stdout, false);
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return nullptr;
    }
    return std::make_unique<PcmOutput>(file, true);
}

PcmOutput::~PcmOutput() {
    if (owned_) {
        std::fclose(file_);
    } else {
        std::fflush(file_);
    }
}

}  // namespace korvanel
