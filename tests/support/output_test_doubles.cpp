#include "tests/support/output_test_doubles.h"

#include <algorithm>
#include <cstring>

namespace korvanel::test {

void ChannelNoticeLog::notify(ChannelNotice notice) {
    std::lock_guard<std::mutex> guard(lock_);
    notices_.push_back(notice);
}

std::vector<ChannelNotice> ChannelNoticeLog::notices() const {
    std::lock_guard<std::mutex> guard(lock_);
    return notices_;
}

int ChannelNoticeLog::count(ChannelNotice notice) const {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<int>(std::count(notices_.begin(), notices_.end(), notice));
}

void ChannelNoticeLog::clear() {
    std::lock_guard<std::mutex> guard(lock_);
    notices_.clear();
}

void OutputRecordingSink::onHeaderData(std::span<const std::uint8_t> data) {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back("header(" + std::to_string(data.size()) + ")");
    header_.insert(header_.end(), data.begin(), data.end());
}

void OutputRecordingSink::onStreamData(std::span<const std::uint8_t> data) {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back("stream(" + std::to_string(data.size()) + ")");
    stream_.insert(stream_.end(), data.begin(), data.end());
}

void OutputRecordingSink::onPcm(std::span<const std::uint8_t> samples) {
    std::lock_guard<std::mutex> guard(lock_);
    pcm_.insert(pcm_.end(), samples.begin(), samples.end());
}

void OutputRecordingSink::onFormat(int frequency, int channels) {
    note("format(" + std::to_string(frequency) + "," + std::to_string(channels) + ")");
}

std::vector<std::string> OutputRecordingSink::calls() const {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
}

int OutputRecordingSink::count(const std::string& call) const {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<int>(std::count(calls_.begin(), calls_.end(), call));
}

std::vector<std::uint8_t> OutputRecordingSink::headerBytes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return header_;
}

std::vector<std::uint8_t> OutputRecordingSink::streamBytes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return stream_;
}

std::vector<std::uint8_t> OutputRecordingSink::pcm() const {
    std::lock_guard<std::mutex> guard(lock_);
    return pcm_;
}

void OutputRecordingSink::onStreamInfo(const StreamInfo::Snapshot& info) {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.emplace_back("info");
    titles_.push_back(info.title);
}

std::vector<std::string> OutputRecordingSink::titles() const {
    std::lock_guard<std::mutex> guard(lock_);
    return titles_;
}

void OutputRecordingSink::note(std::string call) {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(std::move(call));
}

std::vector<std::uint8_t> samplesToBytes(const std::vector<std::int16_t>& samples) {
    std::vector<std::uint8_t> bytes(samples.size() * 2);
    if (!samples.empty()) {
        std::memcpy(bytes.data(), samples.data(), bytes.size());
    }
    return bytes;
}

std::vector<std::int16_t> bytesToSamples(std::span<const std::uint8_t> bytes) {
    std::vector<std::int16_t> samples(bytes.size() / 2);
    if (!samples.empty()) {
        std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    }
    return samples;
}

}  // namespace korvanel::test
