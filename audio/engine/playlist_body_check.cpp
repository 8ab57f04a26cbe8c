#include "audio/engine/playlist_body_check.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "audio/engine/icy_stream_reader.h"
#include "stream/playlist_sniffer.h"

namespace korvanel {

AudioResult<BodyKind> bodyKind(IcyStreamReader& reader, std::string_view mediaType) {
    std::string seen;
    PlaylistSniffer::Result result;
    for (;;) {
        std::array<std::uint8_t, 2048> buffer{};
        const std::size_t wanted = std::min(buffer.size(), PlaylistSniffer::kDecisiveBytes - seen.size());
        const NetworkConnection::ReadResult read =
            reader.read(std::span<std::uint8_t>(buffer.data(), wanted), IcyStreamReader::kTimeout);
        if (read.status == NetStatus::TimedOut) {
            return audioFailure(AudioError::Timeout);
        }
        if (read.status == NetStatus::Cancelled) {
            return audioFailure(AudioError::Unknown);
        }
        if (read.status != NetStatus::Ok && read.status != NetStatus::Closed && seen.empty()) {
            return audioFailure(AudioError::FileOpen);
        }
        const bool ended = read.status != NetStatus::Ok || read.count == 0;
        seen.append(reinterpret_cast<const char*>(buffer.data()), ended ? 0 : read.count);
        // Only a body that closed is known to be all there is; the rest of
        // a cut one is for the decoder to miss.
        result = PlaylistSniffer::sniff(mediaType, seen, ended);
        if (ended || result.verdict != PlaylistSniffer::Verdict::NeedMore) {
            break;
        }
    }
    reader.unread(std::move(seen));
    return result.verdict == PlaylistSniffer::Verdict::Playlist ? BodyKind::Playlist : BodyKind::Audio;
}

}  // namespace korvanel
