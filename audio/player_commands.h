#pragma once

#include <cstdint>

namespace korvanel::command {

// Jobs that the output channel and the metadata parser post to the player's
// queue. They carry no arguments.
inline constexpr std::uint32_t kStreamEndSync = 0x1E415;  // the output ran out of data
inline constexpr std::uint32_t kStallSync = 0x1E417;      // waiting for data
inline constexpr std::uint32_t kResumeSync = 0x1E418;     // data flows again
inline constexpr std::uint32_t kInfoParsed = 0x1E419;     // station name, title or bitrate set

}  // namespace korvanel::command
