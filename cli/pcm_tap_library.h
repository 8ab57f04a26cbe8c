#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/audio_library.h"

namespace korvanel {

// Another audio library with one more "sound card": device kTapDevice, which
// writes exactly what an output stream on it is given (after the volume, as
// a card would play it) as signed 16-bit samples to a file, paced in real
// time. Every other call goes to the wrapped library, so the samples take
// the same road to the tap as to a real card.
//
// Threads: as AudioLibrary. Each tap stream has a thread of its own that
// pulls its sample callback every period and raises its syncs; writes to the
// file are serialised.
class PcmTapLibrary final : public AudioLibrary {
public:
    static constexpr int kTapDevice = 1000;
    static constexpr const char* kTapDescription = "PCM output";

    // The file is not owned (it may be standard output).
    PcmTapLibrary(std::unique_ptr<AudioLibrary> inner, std::FILE* out);
    ~PcmTapLibrary() override;

    PcmTapLibrary(const PcmTapLibrary&) = delete;
    PcmTapLibrary& operator=(const PcmTapLibrary&) = delete;

    // Bytes written to the file so far.
    std::uint64_t bytesWritten() const { return bytesWritten_.load(); }

    bool setConfig(std::uint32_t option, std::uint32_t value) override;
    std::uint32_t version() const override;
    std::optional<std::string> deviceDescription(int device) override;
    AudioError errorCode() const override;
    bool init(int device, int frequency) override;
    bool setDevice(int device) override;
    bool freeDevice() override;
    bool startDevice() override;
    bool stopDevice() override;
    bool pauseDevice() override;
    bool setDeviceVolume(int volume) override;
    int deviceVolume() override;
    StreamHandle streamCreate(int frequency, int channels, std::uint32_t flags,
                              SampleCallback samples) override;
    StreamHandle streamCreateUrl(const std::string& url, std::uint32_t offset, std::uint32_t flags,
                                 DownloadCallback download) override;
    StreamHandle wmaStreamCreateFile(const std::string& address, std::uint32_t flags) override;
    bool windowsMediaAvailable() const override;
    void cancelOpens() override;
    void allowOpens() override;
    bool streamFree(StreamHandle stream) override;
    std::optional<std::vector<std::string>> streamGetTags(StreamHandle stream,
                                                          std::uint32_t type) override;
    std::int64_t streamGetLength(StreamHandle stream) override;
    bool channelPlay(StreamHandle stream, bool restart) override;
    bool channelStop(StreamHandle stream) override;
    SyncHandle channelSetSync(StreamHandle stream, std::uint32_t type, std::uint64_t param,
                              SyncCallback callback) override;
    bool channelRemoveSync(StreamHandle stream, SyncHandle sync) override;
    std::uint32_t channelGetLevel(StreamHandle stream) override;
    ActiveState channelIsActive(StreamHandle stream) override;
    std::optional<ChannelInfo> channelGetInfo(StreamHandle stream) override;
    bool channelSetAttributes(StreamHandle stream, int frequency, int volume, int pan) override;
    std::optional<ChannelAttributes> channelGetAttributes(StreamHandle stream) override;
    std::int32_t channelGetData(StreamHandle stream, std::span<std::uint8_t> buffer) override;
    std::int64_t channelGetPosition(StreamHandle stream) override;

private:
    class TapStream;

    static bool isTap(StreamHandle stream);
    std::shared_ptr<TapStream> find(StreamHandle stream) const;
    bool tapResult(bool ok, AudioError error) const;
    void write(std::span<const std::uint8_t> bytes);

    std::unique_ptr<AudioLibrary> inner_;
    std::FILE* out_;
    std::mutex writeLock_;
    std::atomic<std::uint64_t> bytesWritten_{0};

    mutable std::mutex lock_;  // guards the fields below
    bool tapSelected_ = false;
    bool tapInitialised_ = false;
    std::uint32_t nextId_ = 1;
    std::uint32_t nextSync_ = 1;
    std::map<std::uint32_t, std::shared_ptr<TapStream>> streams_;
    std::vector<std::shared_ptr<TapStream>> retired_;
};

}  // namespace korvanel
