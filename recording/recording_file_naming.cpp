#include "recording/recording_file_naming.h"

#include <ctime>

#include "recording/recording_paths.h"

namespace korvanel {

std::string RecordingFileNaming::expand(const StreamInfo::Snapshot& playing) {
    return pattern_.expand(playing.stationName, playing.title, std::time(nullptr));
}

void RecordingFileNaming::rename(const std::string& name, const std::string& folder) {
    name_ = name;
    path_ = uniqueRecordingPath(folder, name, extension_);
    pending_ = true;
}

std::string RecordingFileNaming::takePending() {
    if (!pending_) {
        return {};
    }
    pending_ = false;
    return path_;
}

}  // namespace korvanel
