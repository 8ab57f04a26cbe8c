#pragma once

#include <QString>

#include <optional>

class QMimeData;

namespace korvanel {

// What a drop on the player's window gives to play. Dropped data comes from
// any program and is untrusted.

// Whether the data carries something droppedText() may read: a URL list or
// plain text.
bool acceptsDrop(const QMimeData& data);

// The source to play from dropped data:
// - a URL list: its first URL; a file:// URL as the local path, an http,
//   https, mms or rtsp URL as written; any other URL is refused;
// - plain text: its first line, trimmed; text after a NUL is ignored.
// A URL list without entries falls back to plain text. Data larger than
// limitBytes is refused. Empty text gives an empty string; data with
// neither form gives nothing.
std::optional<QString> droppedText(const QMimeData& data, qsizetype limitBytes);

}  // namespace korvanel
