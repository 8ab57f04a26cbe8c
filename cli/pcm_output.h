#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace korvanel {

// Where --pcm-out writes: a file it creates, or standard output for "-".
class PcmOutput {
public:
    static std::unique_ptr<PcmOutput> open(const std::string& path);
    PcmOutput(std::FILE* file, bool owned) : file_(file), owned_(owned) {}
    ~PcmOutput();
    PcmOutput(const PcmOutput&) = delete;
    PcmOutput& operator=(const PcmOutput&) = delete;

    std::FILE* file() const { return file_; }

private:
    std::FILE* file_;
    bool owned_;
};

}  // namespace korvanel
