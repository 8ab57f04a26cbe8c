#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_library.h"

namespace korvanel {

// The callbacks registered on one stream (its syncs and download callback)
// and the gate they are called through. Every call runs under one delivery
// lock, so removing a sync or closing waits for a call in progress on
// another thread and nothing runs afterwards. From inside a callback, removal
// and close() return at once (the caller is the delivery in progress).
// Nothing the engine holds is locked while a callback runs.
// Metadata and its placing fired before a sync of that type is set (while
// the stream opens) wait, the latest kMaxWaitingMetadata of them, for the
// first one set, so nothing between the tags read at opening and the sync
// is lost. Downloaded bytes that come while metadata waits wait with it, up
// to kMaxParkedBytes, so that a recorder still gets titles and bytes in
// stream order; they go on when the metadata sync is set, or at the first
// pull of samples by a listener that sets none.
// Lock order: deliveryLock_, then lock_.
class StreamCallbacks {
public:
    StreamCallbacks() = default;
    StreamCallbacks(const StreamCallbacks&) = delete;
    StreamCallbacks& operator=(const StreamCallbacks&) = delete;

    void setDownload(DownloadCallback download);
    void addSync(SyncId handle, std::uint32_t type, SyncCallback callback);
    bool removeSync(SyncId handle);
    bool hasSync(std::uint32_t type) const;
    // Drops every callback; later calls of download() and fire() do nothing.
    void close();

    void download(std::span<const std::uint8_t> data, bool finished);
    // Hands on downloaded bytes that wait, and waits no more.
    void releaseParked();
    void fire(std::uint32_t type, std::uint32_t data, const std::vector<std::string>& texts = {},
              std::optional<std::uint64_t> position = std::nullopt);

    static constexpr std::size_t kMaxWaitingMetadata = 256;
    static constexpr std::size_t kMaxParkedBytes = 1024 * 1024;

private:
    struct Entry {
        SyncId handle;
        std::uint32_t type = 0;
        std::shared_ptr<SyncCallback> callback;
    };

    // Holds the delivery lock, marking the calling thread as the one inside.
    class Delivery {
    public:
        explicit Delivery(StreamCallbacks& owner);
        ~Delivery();
        Delivery(const Delivery&) = delete;
        Delivery& operator=(const Delivery&) = delete;

    private:
        StreamCallbacks& owner_;
        bool reentered_;
    };
    // Waits out a delivery on another thread, then runs change under lock_.
    template <class Change>
    auto changeOutsideDelivery(Change&& change);

    std::recursive_mutex deliveryLock_;
    std::atomic<std::thread::id> deliveringThread_{};
    mutable std::mutex lock_;  // guards the fields below; never held during a call
    std::vector<Entry> entries_;
    struct Waiting {
        std::uint32_t type = 0;  // 0: downloaded bytes
        SyncEvent event;
        std::vector<std::uint8_t> bytes;
        bool finished = false;
    };
    // Delivers the waiting entries taken, in their order.
    void deliverWaiting(std::vector<Waiting>& taken, const std::shared_ptr<SyncCallback>& sync);
    std::deque<Waiting> waiting_;
    bool parking_ = true;  // until released
    std::size_t parkedBytes_ = 0;
    std::shared_ptr<DownloadCallback> download_;
    bool closed_ = false;
};

}  // namespace korvanel
