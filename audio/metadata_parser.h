#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace korvanel {

class JobPool;
class RecordingSink;
class StreamInfo;

// Reads station name, address, title and bit rate out of a stream's ICY
// headers, its tags and its metadata notifications into the stream
// information; then tells the recorder and, when anything was set, posts
// InfoParsed to the player's queue.
//
// Input comes from the network and is untrusted: any length, any bytes.
// Valid UTF-8 is kept; any other text is read as ISO-8859-1. Values are cut
// at the first zero byte and to kMaxValueBytes.
//
// Threads: parseHeaders() and the parse after opening run on the player's
// worker, parseMetadata() from a notification on the library's decoder
// thread; the parser keeps no state of its own, so both may overlap.
class MetadataParser {
public:
    static constexpr std::size_t kMaxValueBytes = 4096;

    // recorder and queue may be null.
    MetadataParser(StreamInfo& info, RecordingSink* recorder, JobPool* queue);

    // The ICY response headers (status line, then "icy-name:..." lines).
    void parseHeaders(std::span<const std::string> headers);
    // Tags or one notification: Vorbis comments for an Ogg stream, "key =
    // value" tags for Windows Media, "StreamTitle='...';" otherwise. An
    // empty span stands for no text at all.
    void parseMetadata(std::span<const std::string> texts);

    // The title of an ICY metadata text, or nothing without "StreamTitle='".
    static std::optional<std::string> icyStreamTitle(std::string_view text);
    // Decodes numeric character references ("&#8364;", "&#x20AC;") in
    // UTF-8 text; malformed ones stay as they are.
    static std::string decodeCharacterReferences(std::string_view text);
    // Text as UTF-8, cut at a zero byte and to kMaxValueBytes.
    static std::string cleanValue(std::string_view text);

private:
    bool parseOggComments(std::span<const std::string> texts);
    bool parseWindowsMediaTags(std::span<const std::string> texts);
    bool parseIcyMetadata(std::span<const std::string> texts);
    void finish(bool changed);

    StreamInfo& info_;
    RecordingSink* const recorder_;
    JobPool* const queue_;
};

}  // namespace korvanel
