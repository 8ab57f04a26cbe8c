#pragma once

#include <cstdint>

namespace korvanel::event {

// Events that components post to the main window's queue. A text payload
// travels in Job::text. The HTTP client's preset events are declared with
// the client.
inline constexpr std::uint32_t kStarted = 0x1E414;       // the window itself, once at start
inline constexpr std::uint32_t kConnecting = 0x1E41F;    // text: the address; empty only refreshes
inline constexpr std::uint32_t kError = 0x1E420;         // text: the message
inline constexpr std::uint32_t kMessage = 0x1E421;       // text: the message, shown in a box
inline constexpr std::uint32_t kConnected = 0x1E422;     // text: the address that answered
inline constexpr std::uint32_t kStalled = 0x1E423;
inline constexpr std::uint32_t kResumed = 0x1E424;
inline constexpr std::uint32_t kStreamLost = 0x1E425;
inline constexpr std::uint32_t kStreamEnded = 0x1E426;
inline constexpr std::uint32_t kStopped = 0x1E427;
inline constexpr std::uint32_t kInfoChanged = 0x1E428;
inline constexpr std::uint32_t kReconnecting = 0x1E429;  // text: the message
inline constexpr std::uint32_t kResolving = 0x1E42A;     // text: the playlist address
inline constexpr std::uint32_t kResolved = 0x1E42B;
inline constexpr std::uint32_t kResolveFailed = 0x1E42C;
inline constexpr std::uint32_t kSecureFailed = 0x1E434;  // text: the address; arg1: why (a TlsFailure)
// The current station and favorites.xml; text: the station's title.
inline constexpr std::uint32_t kFavoriteAdded = 0x1E435;
inline constexpr std::uint32_t kFavoriteExists = 0x1E436;
inline constexpr std::uint32_t kFavoriteFailed = 0x1E437;
inline constexpr std::uint32_t kSoundOutput = 0x1E438;  // text: which output plays, for the log
inline constexpr std::uint32_t kLoudnessMemoryIgnored = 0x1E439;  // text: the file's path, for the log
inline constexpr std::uint32_t kLevelled = 0x1E43A;  // text: the settled gain in dB ("-4.5"), for the log
// The window's own request, handled on its worker with the other events.
inline constexpr std::uint32_t kUpdatePresets = 0x1E440;
// arg1: how many elements of a station directory's answer were left out.
inline constexpr std::uint32_t kDirectorySkipped = 0x1E441;
// The recorder stopped writing a file; text: the file's path.
inline constexpr std::uint32_t kRecordingNotCreated = 0x1E442;
inline constexpr std::uint32_t kRecordingNotWritten = 0x1E443;

}  // namespace korvanel::event
