#pragma once

#include <string_view>

#include "audio/audio_failure.h"

namespace korvanel {

class IcyStreamReader;

enum class BodyKind { Audio, Playlist };

// What the body an answer began holds, judged from its media type and its
// first bytes (read only until they decide, and never more than the
// sniffer's bound). Every byte read is put back, so audio reaches the
// decoder whole. A body that ends before deciding is judged on what came;
// one that stops coming fails as a time-out, like audio that never comes.
AudioResult<BodyKind> bodyKind(IcyStreamReader& reader, std::string_view mediaType);

}  // namespace korvanel
