#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "recording/output_file.h"
#include "stream/byte_buffer.h"
#include "stream/ogg_page.h"

namespace korvanel {

// An Ogg file being written from pages cut out of a longer stream. Page
// sequence numbers are renumbered from 0 and the last page gets the
// end-of-stream flag when the file is closed, so every file is a complete
// stream of its own without gaps. Not thread-safe.
class OggFileOutput {
public:
    bool create(const std::string& path);
    // Writes whole pages. On failure the file is cut back to its last whole
    // unit and closed.
    bool writePages(std::string_view pages);
    // Marks the last page as the end of the stream and closes the file.
    bool close();
    // Pages written from now on count their granule positions this much
    // lower (never below 0): a file cut from the middle of a stream starts
    // at its own beginning. create() sets it back to 0.
    void setGranuleShift(std::int64_t shift) { granuleShift_ = shift; }

    bool isOpen() const { return file_.isOpen(); }
    const std::string& path() const { return file_.path(); }
    std::uint64_t size() const { return file_.size(); }

private:
    OutputFile file_;
    std::uint32_t nextSequence_ = 0;
    ByteBuffer scratch_;
    ByteBuffer lastPage_;  // as written, to set its flag at close
    std::uint64_t lastPageOffset_ = 0;
    std::int64_t granuleShift_ = 0;
};

}  // namespace korvanel
