#pragma once

#include <string>
#include <string_view>

namespace korvanel {

// The recording folder for a "Recording/Path" value: resolved against the
// program's folder, trailing separators removed, exactly one '/' appended.
std::string recordingFolderFor(const std::string& setting);

// folder + name + suffix + extension, where the suffix is "", "[1]", "[2]",
// ... : the first for which nothing (file, folder or link) exists yet, so
// no recording is ever overwritten. The last component is cut so that it
// stays within 255 bytes with its suffix and extension. Empty when no free
// name was found.
std::string uniqueRecordingPath(const std::string& folder, std::string_view name, std::string_view extension);

// Creates the folder and every missing parent; true when it exists after.
bool createFolders(const std::string& path);

// The folder part of a path ("a/b/c.mp3" -> "a/b"); empty when there is none.
std::string parentFolder(const std::string& path);

}  // namespace korvanel
