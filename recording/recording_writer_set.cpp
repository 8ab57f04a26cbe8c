#include "recording/recording_writer_set.h"

#include <utility>

#include "recording/aac_stream_writer.h"
#include "recording/encoder_writer.h"
#include "recording/mp3_stream_writer.h"
#include "recording/ogg_stream_writer.h"

namespace korvanel {
namespace {

bool isMpegKind(StreamKind kind) {
    switch (kind) {
    case StreamKind::Mp3:
    case StreamKind::MpegLayer1:
    case StreamKind::MpegLayer2:
    case StreamKind::Mpeg2Layer1:
    case StreamKind::Mpeg2Layer2:
    case StreamKind::Mpeg2Layer3:
        return true;
    default:
        return false;
    }
}

bool isOggKind(StreamKind kind) {
    return kind == StreamKind::OggVorbis || kind == StreamKind::OggOpus || kind == StreamKind::OggFlac;
}

// A listener's players know Opus by .opus and Ogg FLAC by .oga.
const char* oggExtension(StreamKind kind) {
    return kind == StreamKind::OggOpus ? ".opus" : kind == StreamKind::OggFlac ? ".oga" : ".ogg";
}

// The writer in slot, made with args and the memory limit when there is none.
template <class Made, class Slot, class... Args>
Slot& madeOnce(std::unique_ptr<Slot>& slot, std::size_t maxBuffer, const Args&... args) {
    if (!slot) {
        slot = std::make_unique<Made>(args...);
        slot->setMaxBuffer(maxBuffer);
    }
    return *slot;
}

}  // namespace

RecordingWriterSet::RecordingWriterSet(std::string encoderLibrary) : encoderLibrary_(std::move(encoderLibrary)) {}

RecordingWriterSet::~RecordingWriterSet() {
    encoderWriter_.reset();
    oggWriter_.reset();
    aacWriter_.reset();
    mp3Writer_.reset();
}

RecordingWriterSet::Route RecordingWriterSet::routeFor(StreamKind kind, bool encodeOgg) {
    if (isMpegKind(kind) || kind == StreamKind::Aac) {
        return Route::Raw;
    }
    if (isOggKind(kind)) {
        return encodeOgg ? Route::Encoder : Route::Raw;
    }
    return kind == StreamKind::WindowsMedia ? Route::Encoder : Route::None;
}

void RecordingWriterSet::applySettings() {
    for (StreamWriter* writer : {mp3Writer_.get(), aacWriter_.get(), static_cast<StreamWriter*>(oggWriter_.get()),
                                 static_cast<StreamWriter*>(encoderWriter_.get())}) {
        if (writer != nullptr) {
            writer->setMaxBuffer(settings_.maxBuffer);
        }
    }
    if (encoderWriter_) {
        encoderWriter_->setContinuous(settings_.continuous);
        encoderWriter_->setBitrate(settings_.bitrate);
    }
}

RecordingWriterSet::Choice RecordingWriterSet::choose(StreamKind kind) {
    Choice choice;
    if (isMpegKind(kind)) {
        choice.writer = &mp3Writer();
        choice.prober = choice.writer;
        choice.extension = ".mp3";
    } else if (isOggKind(kind)) {
        // The Ogg writer reads the stream's bytes even while the encoder
        // records it.
        choice.prober = &oggWriter();
        if (settings_.encodeOgg) {
            choice.writer = &encoderWriter();
            choice.extension = ".mp3";
        } else {
            choice.writer = choice.prober;
            choice.extension = oggExtension(kind);
        }
    } else if (kind == StreamKind::Aac) {
        choice.writer = &aacWriter();
        choice.prober = choice.writer;
        choice.extension = ".aac";
    } else if (kind == StreamKind::WindowsMedia) {
        choice.writer = &encoderWriter();
        choice.extension = ".mp3";
    }
    return choice;
}

bool RecordingWriterSet::isEncoder(const StreamWriter* writer) const {
    return writer != nullptr && writer == encoderWriter_.get();
}

StreamWriter& RecordingWriterSet::mp3Writer() { return madeOnce<Mp3StreamWriter>(mp3Writer_, settings_.maxBuffer); }

StreamWriter& RecordingWriterSet::aacWriter() { return madeOnce<AacStreamWriter>(aacWriter_, settings_.maxBuffer); }

StreamWriter& RecordingWriterSet::oggWriter() { return madeOnce<OggStreamWriter>(oggWriter_, settings_.maxBuffer); }

StreamWriter& RecordingWriterSet::encoderWriter() {
    madeOnce<EncoderWriter>(encoderWriter_, settings_.maxBuffer, encoderLibrary_);
    encoderWriter_->setContinuous(settings_.continuous);
    encoderWriter_->setBitrate(settings_.bitrate);
    return *encoderWriter_;
}

}  // namespace korvanel
