#pragma once

#include <string>
#include <utility>

#include "audio/stream_info.h"
#include "recording/file_name_pattern.h"

namespace korvanel {

// The name of the file being recorded: the file pattern expanded for the
// station and title playing, made unique in the recording folder with the
// writer's extension, and whether the writer has yet to move to it. Not
// thread-safe: the recorder's worker owns it.
class RecordingFileNaming {
public:
    FileNamePattern& pattern() { return pattern_; }
    // Used by the names given from now on.
    void setExtension(std::string extension) { extension_ = std::move(extension); }

    // The pattern expanded for what is playing, at the present time.
    std::string expand(const StreamInfo::Snapshot& playing);
    // The next file is `name` in folder (ending with '/'); the writer moves
    // to it at the next takePending().
    void rename(const std::string& name, const std::string& folder);
    const std::string& name() const { return name_; }
    // The path named since the last call, once; empty when none was, or
    // when no free name was found.
    std::string takePending();

private:
    FileNamePattern pattern_;
    std::string name_;
    std::string extension_ = ".mp3";
    std::string path_;
    bool pending_ = false;
};

}  // namespace korvanel
