#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace korvanel {

// The playlist forms a download can turn out to be, whatever its address.
enum class PlaylistForm { Pls, M3u, Asx, Xspf };

// Decides from a response's media type and its first bytes whether it is a
// playlist to resolve rather than audio to decode. Audio never starts with
// a playlist's words, so the first bytes decide when they can; the media
// type decides a text that names no form of its own, and never makes
// binary bytes (an ASF file under an ASX type) a playlist.
class PlaylistSniffer {
public:
    // Past this many bytes a text that has not said what it is is no
    // playlist: a stream is never held back longer than that.
    static constexpr std::size_t kDecisiveBytes = 4096;

    enum class Verdict { Playlist, NotPlaylist, NeedMore };
    struct Result {
        Verdict verdict = Verdict::NotPlaylist;
        std::optional<PlaylistForm> form;  // set with Playlist
    };

    // complete: bytes is all there is (the body ended), so nothing more
    // can come to decide.
    static Result sniff(std::string_view mediaType, std::string_view bytes, bool complete);

    // Starts with the header object of an ASF file: Windows Media audio,
    // which some stations serve under an ASX playlist's name.
    static bool isAsfFile(std::string_view bytes);

    // The form the media type alone names; none for every other type.
    static std::optional<PlaylistForm> formOfMediaType(std::string_view mediaType);
};

}  // namespace korvanel
