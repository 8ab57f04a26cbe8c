#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace korvanel {

class ChannelNotices;
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
// A notification that comes while the sound before it is still buffered is
// taken in two steps: when it arrives, the recorder hears of it at once, so
// files split where it sits in the stream; when its sound plays, it goes to
// the stream information and the queue, so the listener sees it in time.
//
// Threads: parseHeaders() and the parse after opening run on the player's
// worker, metadataArrived() on the library's network or decoder thread,
// metadataHeard() on a sound card's thread; all may overlap. The stream
// information locks itself; what has arrived has a lock of its own.
class MetadataParser {
public:
    static constexpr std::size_t kMaxValueBytes = 4096;

    // What one set of tags or one notification says.
    struct Reading {
        std::optional<std::string> title;
        std::optional<std::string> stationName;
        std::optional<int> bitrate;
        bool titleIfChanged = false;  // a repeated ICY title is no change
        bool changed = false;         // a change whatever the values
        std::uint64_t arrival = 0;    // which metadataArrived() gave it
    };

    // recorder and notices may be null.
    MetadataParser(StreamInfo& info, RecordingSink* recorder, ChannelNotices* notices);

    // The ICY response headers (status line, then "icy-name:..." lines).
    void parseHeaders(std::span<const std::string> headers);
    // Tags or one notification: Vorbis comments for an Ogg stream, "key =
    // value" tags for Windows Media, "StreamTitle='...';" otherwise. An
    // empty span stands for no text at all. Arrived and heard at once.
    void parseMetadata(std::span<const std::string> texts);
    // A notification has arrived: the recorder hears of it. The reading is
    // for metadataHeard() once its sound plays.
    Reading metadataArrived(std::span<const std::string> texts);
    void metadataHeard(const Reading& reading);

    // The title of an ICY metadata text, or nothing without "StreamTitle='".
    static std::optional<std::string> icyStreamTitle(std::string_view text);
    // The value after `opening` ("StreamTitle='") up to "';", or nothing without it.
    static std::optional<std::string> icyField(std::string_view text, std::string_view opening);
    // Decodes numeric character references ("&#8364;", "&#x20AC;") in
    // UTF-8 text; malformed ones stay as they are.
    static std::string decodeCharacterReferences(std::string_view text);
    // Text as UTF-8, cut at a zero byte and to kMaxValueBytes.
    static std::string cleanValue(std::string_view text);

private:
    Reading read(std::span<const std::string> texts) const;
    static Reading readOggComments(std::span<const std::string> texts);
    Reading readWindowsMediaTags(std::span<const std::string> texts) const;
    static Reading readIcyMetadata(std::span<const std::string> texts);
    // Writes the reading to the stream information; true when it changed.
    bool apply(const Reading& reading);
    void tellRecorder();
    void report(bool changed);

    StreamInfo& info_;
    RecordingSink* const recorder_;
    ChannelNotices* const notices_;
    // Arrived and not yet heard: what the recorder names files by until
    // the last arrival is heard.
    std::mutex arrivedLock_;
    std::uint64_t arrivals_ = 0;
    std::optional<std::string> arrivedTitle_;
    std::optional<std::string> arrivedStationName_;
};

}  // namespace korvanel
