#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "settings/settings_listener.h"
#include "stream/source_classification.h"

namespace korvanel {

// What is playing: source address, station name and address, track title,
// bit rate and stream kind. Filled by the output channel, the metadata
// parser and the recorder; read by the main window and the recorder.
//
// Threads: every operation may be called from any thread; each field is
// read and written under one lock, so a reader never sees a torn string.
// String setters trim spaces, tabs, line feeds and carriage returns at both
// ends; every setter stamps lastChange().
class StreamInfo final : public SettingsListener {
public:
    // Milliseconds on a steady clock; injectable for tests.
    using Clock = std::function<std::int64_t()>;

    // Everything at once, as one consistent reading.
    struct Snapshot {
        std::string stationName;
        std::string stationUrl;
        std::string source;
        std::string title;
        int bitrate = 0;
        StreamKind kind = StreamKind::Other;
        std::int64_t lastChange = 0;
    };

    StreamInfo();
    explicit StreamInfo(Clock clock);

    // Nothing to read or store.
    void applySettings(SettingsStore& store) override;
    void collectSettings(SettingsStore& store) override;

    // clearStation() then clearStream().
    void reset();
    // Station name and address to the empty text.
    void clearStation();
    // Source and title empty, bit rate 0, kind Other.
    void clearStream();

    void setStationName(std::string_view text);
    void setStationUrl(std::string_view text);
    void setSource(std::string_view text);
    void setTitle(std::string_view text);
    // Sets the trimmed title only when it differs byte-wise from the current
    // one; true when it did. One step, so two threads cannot both see a
    // change for the same title.
    bool setTitleIfChanged(std::string_view text);
    void setBitrate(int kbps);
    void setKind(StreamKind kind);

    std::int64_t lastChange() const;
    std::string stationName() const;
    std::string stationUrl() const;
    std::string source() const;
    std::string title() const;
    // "128 kbps, Streaming MP3 Audio"; empty for an unknown kind.
    std::string describe() const;
    int bitrate() const;
    StreamKind kind() const;
    Snapshot snapshot() const;

    static std::string describe(StreamKind kind, int bitrate);
    static std::string_view trimmed(std::string_view text);

private:
    void touch();  // lock held

    const Clock clock_;
    mutable std::mutex lock_;
    std::string stationName_;
    std::string stationUrl_;
    std::string source_;
    std::string title_;
    int bitrate_ = 0;
    StreamKind kind_ = StreamKind::Other;
    std::int64_t lastChange_ = 0;
};

}  // namespace korvanel
