// The real recorder handed what a stream sends while it opens, as the output
// channel hands it over: a server may send tens of megabytes before the
// decoder finds its first frame, and the recorder must not keep them all.
#include <malloc.h>

#include <gtest/gtest.h>

#include <span>
#include <string>

#include "audio/stream_info.h"
#include "recording/recorder.h"
#include "settings/default_settings.h"
#include "settings/settings_store.h"
#include "tests/support/audio_file_frames.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

// Bytes the C library's allocator has handed out and not had back. A
// sanitizer's allocator is not counted here; it then shows no growth.
std::size_t heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;  // large blocks are mapped apart
}

TEST(RecorderOpenData, MegabytesSentWhileAStreamOpensAreNotAllKept) {
    test::TempFolder folder;
    SettingsStore settings;
    registerDefaultSettings(settings);
    settings.setString("Recording/Path", folder.path());
    StreamInfo info;
    info.setKind(StreamKind::Mp3);
    Recorder recorder(info, nullptr);
    recorder.applySettings(settings);

    // 32 MB in the network's 16 KiB reads; MPEG frames, so that whatever
    // is kept would be worth keeping.
    const std::string chunk = test::mp3Frames128k(16384 / test::kMp3Frame128kBytes);
    const std::size_t before = heapInUse();
    recorder.onOpen();
    for (std::size_t sent = 0; sent < 32u * 1024 * 1024; sent += chunk.size()) {
        recorder.onHeaderData(std::span(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size()));
        if (sent % (1024 * 1024) < chunk.size()) {
            recorder.waitUntilIdle();  // the network is slower than the recorder
        }
    }
    recorder.waitUntilIdle();
    const std::size_t held = heapInUse() - std::min(before, heapInUse());
    EXPECT_LT(held, 4u * 1024 * 1024) << held << " bytes held after 32 MB";
    recorder.onClose();
    recorder.waitUntilIdle();
}

}  // namespace
}  // namespace korvanel
