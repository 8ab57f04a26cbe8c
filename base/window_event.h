#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace korvanel {

// What components tell the main window (the console in korvanel-cli).
enum class EventKind {
    Started,     // the window itself, once at start
    Connecting,  // text: the address; empty only refreshes
    Error,       // text: the message
    Message,     // text: the message, shown in a box
    Connected,   // text: the address that answered
    Stalled,
    Resumed,
    StreamLost,
    StreamEnded,
    Stopped,
    InfoChanged,
    Reconnecting,  // text: the message
    Resolving,     // text: the playlist address
    Resolved,
    ResolveFailed,
    SecureFailed,  // text: the address; detail: why (a TlsFailure)
    // The current station and favorites.xml; text: the station's title.
    FavoriteAdded,
    FavoriteExists,
    FavoriteFailed,
    SoundOutput,            // text: which output plays, for the log
    LoudnessMemoryIgnored,  // text: the file's path, for the log
    Levelled,               // text: the settled gain in dB ("-4.5"), for the log
    // The window's own request, handled on its worker with the other events.
    UpdatePresets,
    // The HTTP client's queued requests.
    PresetsUpdated,
    PresetsUpdateFailed,
    PresetsVersion,  // text: the answer's body
    PresetsCheckFailed,
    DirectorySkipped,  // detail: how many elements of a directory's answer were left out
    // The recorder stopped writing a file; text: the file's path.
    RecordingNotCreated,
    RecordingNotWritten,
};

struct WindowEvent {
    EventKind kind = EventKind::Started;
    std::string text;
    std::int64_t detail = 0;
};

inline WindowEvent makeEvent(EventKind kind, std::string text = {}) {
    return WindowEvent{kind, std::move(text), 0};
}

}  // namespace korvanel
