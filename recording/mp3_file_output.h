#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "recording/output_file.h"

namespace korvanel {

// An "Info" frame (the Xing header of a constant bit rate file) in the
// format of `firstFrame`: frame count, byte count and a table of contents,
// in the smallest frame of that format that holds them. Empty when the
// first frame is not Layer III.
std::string makeMp3InfoFrame(std::string_view firstFrame, std::uint32_t audioFrames, std::uint32_t streamBytes);

// An MP3 file written from encoder output: it begins with an info frame
// that is filled in when the file is closed, so players know its length
// and can seek. Only whole frames are written. Not thread-safe.
class Mp3FileOutput {
public:
    bool create(const std::string& path);
    // Whole frames. On failure the file is cut back and closed.
    bool writeFrames(std::string_view frames, std::size_t count);
    // Fills in the info frame and closes the file.
    bool close();

    bool isOpen() const { return file_.isOpen(); }
    const std::string& path() const { return file_.path(); }

private:
    OutputFile file_;
    std::uint32_t audioFrames_ = 0;
    std::size_t infoFrameBytes_ = 0;
    std::string firstFrameHeader_;
};

}  // namespace korvanel
