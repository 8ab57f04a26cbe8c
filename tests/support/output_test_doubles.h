#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "audio/channel_notice.h"
#include "audio/recording_sink.h"

namespace korvanel::test {

// Keeps the notices it is told, from any thread, standing in for the player.
class ChannelNoticeLog final : public ChannelNotices {
public:
    void notify(ChannelNotice notice) override;

    std::vector<ChannelNotice> notices() const;
    int count(ChannelNotice notice) const;
    void clear();

private:
    mutable std::mutex lock_;
    std::vector<ChannelNotice> notices_;
};

// A recorder that notes what it is told, from any thread.
class OutputRecordingSink final : public RecordingSink {
public:
    void onOpen() override { note("open"); }
    void onHeaderData(std::span<const std::uint8_t> data) override;
    void onStreamData(std::span<const std::uint8_t> data) override;
    void onPcm(std::span<const std::uint8_t> samples) override;
    void onFormat(int frequency, int channels) override;
    void onClose() override { note("close"); }
    void onStreamInfo(const StreamInfo::Snapshot& info) override;

    // Calls in order, e.g. "open", "header(3)", "format(44100,2)".
    std::vector<std::string> calls() const;
    int count(const std::string& call) const;
    std::vector<std::uint8_t> headerBytes() const;
    std::vector<std::uint8_t> streamBytes() const;
    std::vector<std::uint8_t> pcm() const;
    // The titles onStreamInfo() was given, in order.
    std::vector<std::string> titles() const;

private:
    void note(std::string call);

    mutable std::mutex lock_;
    std::vector<std::string> calls_;
    std::vector<std::uint8_t> header_;
    std::vector<std::uint8_t> stream_;
    std::vector<std::uint8_t> pcm_;
    std::vector<std::string> titles_;
};

// Interleaved signed 16-bit samples as native bytes, and back.
std::vector<std::uint8_t> samplesToBytes(const std::vector<std::int16_t>& samples);
std::vector<std::int16_t> bytesToSamples(std::span<const std::uint8_t> bytes);

}  // namespace korvanel::test
