#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "audio/audio_library.h"
#include "audio/engine/aes_cbc_decryptor.h"
#include "audio/engine/fmp4_demuxer.h"
#include "stream/cancel_signal.h"
#include "stream/hls_playlist.h"
#include "stream/stream_url.h"

namespace korvanel {

class HlsSegment;
class IcyStreamReader;
class TlsClientContext;

// The network side of an HLS stream: follows master playlists to a media
// playlist, starts near its live edge, reloads it as the server adds
// segments, and turns each segment (MPEG-TS or packed audio, clear or
// AES-128) into one continuous run of elementary audio bytes, ADTS AAC or
// MPEG audio, as an ICY stream's body is. Titles from the segments' ID3
// tags and #EXTINF attributes come in their place among those bytes.
//
// Used by one thread at a time; every wait ends on the cancel signal.
class HlsStreamReader {
public:
    struct Options {
        std::uint32_t bufferMs = 5000;  // how far back from the live edge to start
        std::uint64_t maxBandwidth = 0;  // bits per second; 0: the highest variant
    };
    struct Sinks {
        // A false answer stops the reader.
        std::function<bool(std::span<const std::uint8_t>)> audio;
        // The track's title and the station's name from here on; either may be "".
        std::function<void(const std::string& title, const std::string& station)> names;
    };
    enum class End { Finished, Dropped, Stopped };

    static constexpr std::size_t kMaxPlaylistBytes = 1024 * 1024;
    static constexpr int kMaxMasterLevels = 3;
    static constexpr std::chrono::milliseconds kTimeout{5000};

    HlsStreamReader(const CancelSignal& cancel, TlsClientContext* tls, Options options);
    ~HlsStreamReader();
    HlsStreamReader(const HlsStreamReader&) = delete;
    HlsStreamReader& operator=(const HlsStreamReader&) = delete;

    // Whether an answer may carry a playlist rather than audio: by its
    // content type, or by the address's .m3u8 when the type says nothing.
    static bool mayBePlaylist(std::string_view contentType, const StreamUrl& url);
    // An opened answer's whole body, up to maxBytes (kFileFormat beyond).
    static AudioError readBody(IcyStreamReader& reader, std::size_t maxBytes, std::string& body);

    // With the first playlist's text as it came from url: follows master
    // playlists, loads the media playlist and reads the start of the first
    // segment until the audio format shows. FileFormat for a text that is
    // no HLS playlist, a master loop or an audio format we cannot decode,
    // with what the kind cannot say (an encryption method, a key's length,
    // an audio codec) as the failure's detail.
    AudioResult<void> open(std::string_view text, const StreamUrl& url);
    // "aac", "mp3" or "ogg", once open.
    const std::string& formatName() const { return formatName_; }
    // False for a playlist that ends (#EXT-X-ENDLIST): it plays like a file.
    bool live() const { return !playlist_.ended; }
    // The media playlist's address, once open.
    const StreamUrl& mediaUrl() const { return mediaUrl_; }

    // Hands the stream to the sinks until it ends, drops (a playlist that
    // stops advancing for three target durations, a segment or reload that
    // fails twice in a row) or is stopped.
    End run(const Sinks& sinks);

private:
    class Segment;
    enum class Pumped { Done, FormatKnown, Failed, Stopped };

    AudioError fetch(const StreamUrl& url, std::size_t maxBytes, std::string& body, StreamUrl& answered);
    bool reload();
    std::size_t startIndex() const;
    AudioResult<void> begin(const HlsPlaylist::Segment& segment);
    // The decryptor a key asks for (none for NONE), its key fetched once.
    AudioResult<std::unique_ptr<AesCbcDecryptor>> cipherFor(const HlsPlaylist::Key& key, std::uint64_t sequence);
    // The fMP4 initialisation section, fetched when it is another than the last.
    AudioResult<void> loadInit(const HlsPlaylist::Map& map, std::uint64_t sequence);
    Pumped pump(const Sinks& sinks, bool untilFormatKnown);
    void titleFromPlaylist(const HlsPlaylist::Segment& segment, const Sinks& sinks);
    bool wait(std::chrono::steady_clock::duration time) const;

    const CancelSignal& cancel_;
    TlsClientContext* tls_;
    const Options options_;
    StreamUrl mediaUrl_;
    HlsPlaylist playlist_;
    std::string formatName_;
    std::unique_ptr<HlsSegment> segment_;  // the one being read
    std::uint64_t nextSequence_ = 0;
    std::string lastTitle_;
    std::string lastStation_;
    std::map<std::string, std::array<std::uint8_t, 16>> keys_;  // by address
    std::optional<Fmp4Track> init_;
    std::unique_ptr<Fmp4OggStream> oggStream_;  // init_'s, for Opus and FLAC
    std::uint64_t initsLoaded_ = 0;
    HlsPlaylist::Map initMap_;  // where init_ came from
    // What open() read of the first segment, for run() to hand on first.
    std::vector<std::uint8_t> early_;
    struct EarlyNames {
        std::size_t offset = 0;  // in early_
        std::string title;
        std::string station;
    };
    std::vector<EarlyNames> earlyNames_;
};

}  // namespace korvanel
