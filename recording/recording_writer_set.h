#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "recording/stream_writer.h"
#include "stream/source_classification.h"

namespace korvanel {

class EncoderWriter;
class OggStreamWriter;

// The writer settings of "Recording/...".
struct WriterSettings {
    std::size_t maxBuffer = 5242880;
    bool encodeOgg = false;   // Ogg streams are encoded to MP3 from the samples
    bool continuous = false;  // the encoder runs between files too
    int bitrate = 128;
};

// The recorder's four writers (MP3, AAC, Ogg, and the MP3 encoder), each
// made on first use with the settings in force, and which of them takes a
// stream of a given kind. They stay once made, so data they keep in memory
// survives a change of stream. Not thread-safe: the recorder's worker owns
// it.
class RecordingWriterSet {
public:
    // How a stream of some kind is recorded.
    enum class Route {
        None,     // not at all
        Raw,      // its compressed bytes, as they arrive
        Encoder,  // encoded to MP3 from its decoded samples
    };
    static Route routeFor(StreamKind kind, bool encodeOgg);

    struct Choice {
        StreamWriter* writer = nullptr;  // nullptr: the kind is not recorded
        StreamWriter* prober = nullptr;  // whose probes read the stream's bytes
        const char* extension = nullptr;
    };

    explicit RecordingWriterSet(std::string encoderLibrary);
    // The writers go in the order encoder, Ogg, AAC, MP3.
    ~RecordingWriterSet();
    RecordingWriterSet(const RecordingWriterSet&) = delete;
    RecordingWriterSet& operator=(const RecordingWriterSet&) = delete;

    // For the writers made from now on; those made so far take them at
    // applySettings().
    void setSettings(const WriterSettings& settings) { settings_ = settings; }
    void applySettings();
    const WriterSettings& settings() const { return settings_; }
    // The writer for a stream of this kind, made now if need be.
    Choice choose(StreamKind kind);
    bool isEncoder(const StreamWriter* writer) const;

private:
    StreamWriter& mp3Writer();
    StreamWriter& aacWriter();
    StreamWriter& oggWriter();
    StreamWriter& encoderWriter();

    const std::string encoderLibrary_;
    WriterSettings settings_;
    std::unique_ptr<StreamWriter> mp3Writer_;
    std::unique_ptr<StreamWriter> aacWriter_;
    std::unique_ptr<OggStreamWriter> oggWriter_;
    std::unique_ptr<EncoderWriter> encoderWriter_;
};

}  // namespace korvanel
