#pragma once


#include "recording/ogg_file_start.h"
#include "recording/ogg_unit_parser.h"
#include "recording/ogg_file_output.h"
#include "recording/recent_data_ring.h"
#include "recording/stream_writer.h"
#include "stream/byte_buffer.h"

namespace korvanel {

// Saves an Ogg stream as it arrives, in whole units (see OggUnitParser).
// It keeps the header pages of the current logical stream, so every file
// it starts begins with them and is a complete stream of its own. The end
// of a logical stream (its last page, or the first page of the next one)
// ends the open file; the writer then buffers until the next open(). Files
// are renumbered and end with an end-of-stream page (see OggFileOutput).
// Called from one thread at a time (see StreamWriter).
class OggStreamWriter final : public StreamWriter {
public:
    OggStreamWriter();
    ~OggStreamWriter() override;
    OggStreamWriter(const OggStreamWriter&) = delete;
    OggStreamWriter& operator=(const OggStreamWriter&) = delete;

    void clear() override;
    void setMaxBuffer(std::size_t bytes) override;
    WriteResult encodePcm(const void* data, std::size_t length) override;
    WriteResult writeRaw(const void* data, std::size_t length) override;
    void dropBuffered() override;
    void start(int frequency, int channels) override;
    bool isReady() const override;
    WriteResult open(const std::string& path) override;
    bool isOpen() const override;
    WriteResult close() override;
    WriteResult finish() override;
    int probeBitrate(const void* data, std::size_t length) const override;
    void setFileTags(const FileTags& tags) override { tags_ = tags; }
    StreamKind probeFormat(const void* data, std::size_t length) const override;

    // Bytes kept in memory: headers, buffered pages, an incomplete unit.
    std::size_t bufferedBytes() const;

private:
    enum class HeaderState {
        None,        // no first page seen: data cannot be played, so it is dropped
        Collecting,  // header units of the current logical stream are arriving
        Complete,
    };

    void takeUnit(const OggUnitParser::Unit& unit, WriteResult& result);
    void takeHeaderUnit(const OggUnitParser::Unit& unit, WriteResult& result);
    // Writes to the open file; on failure closes it and reports false.
    bool writeToFile(std::string_view bytes, WriteResult& result);
    // The header pages, carrying the file's tags where the codec is known.
    bool writeHeaders(WriteResult& result);
    // The first audio of a file: its granule positions count from there.
    bool writeFirstAudio(std::string_view pages, WriteResult& result);
    WriteResult closeFile();

    OggUnitParser parser_;
    HeaderState headerState_ = HeaderState::None;
    int headerPacketsLeft_ = 0;  // 0: count header units instead (codec not known)
    int headerUnitsSeen_ = 0;
    ByteBuffer headers_;
    RecentDataRing pages_;
    OggFileOutput file_;
    bool fileHasAudio_ = false;  // the open file holds pages after the headers
    OggCodec codec_ = OggCodec::Unknown;
    FileTags tags_;
};

}  // namespace korvanel
