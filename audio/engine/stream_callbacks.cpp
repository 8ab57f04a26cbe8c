#include "audio/engine/stream_callbacks.h"

#include <algorithm>

namespace korvanel {
namespace {

bool waitsForItsSync(std::uint32_t type) { return type == audio::kSyncMeta || type == audio::kSyncMetaPlaced; }

constexpr std::uint32_t kParkedBytes = 0;

}  // namespace

StreamCallbacks::Delivery::Delivery(StreamCallbacks& owner)
    : owner_(owner),
      reentered_(owner.deliveringThread_.load(std::memory_order_acquire) ==
                 std::this_thread::get_id()) {
    owner_.deliveryLock_.lock();
    owner_.deliveringThread_.store(std::this_thread::get_id(), std::memory_order_release);
}

StreamCallbacks::Delivery::~Delivery() {
    if (!reentered_) {
        owner_.deliveringThread_.store(std::thread::id{}, std::memory_order_release);
    }
    owner_.deliveryLock_.unlock();
}

template <class Change>
auto StreamCallbacks::changeOutsideDelivery(Change&& change) {
    if (deliveringThread_.load(std::memory_order_acquire) == std::this_thread::get_id()) {
        std::lock_guard<std::mutex> guard(lock_);
        return change();
    }
    std::lock_guard<std::recursive_mutex> delivery(deliveryLock_);
    std::lock_guard<std::mutex> guard(lock_);
    return change();
}

void StreamCallbacks::setDownload(DownloadCallback download) {
    std::lock_guard<std::mutex> guard(lock_);
    download_ = download ? std::make_shared<DownloadCallback>(std::move(download)) : nullptr;
}

void StreamCallbacks::addSync(SyncId handle, std::uint32_t type, SyncCallback callback) {
    // Held through the catch-up, so a fire on another thread comes after it.
    Delivery delivery(*this);
    auto shared = std::make_shared<SyncCallback>(std::move(callback));
    std::vector<Waiting> caughtUp;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (closed_) {
            return;
        }
        entries_.push_back(Entry{handle, type, shared});
        // The bytes that waited behind metadata go on with it, in order.
        const bool withBytes = type == audio::kSyncMeta;
        for (auto waiting = waiting_.begin(); waiting != waiting_.end();) {
            if (waiting->type == type || (withBytes && waiting->type == kParkedBytes)) {
                caughtUp.push_back(std::move(*waiting));
                waiting = waiting_.erase(waiting);
            } else {
                ++waiting;
            }
        }
        if (withBytes) {
            parking_ = false;
            parkedBytes_ = 0;
        }
    }
    deliverWaiting(caughtUp, shared);
}

void StreamCallbacks::deliverWaiting(std::vector<Waiting>& taken, const std::shared_ptr<SyncCallback>& sync) {
    std::shared_ptr<DownloadCallback> download;
    {
        std::lock_guard<std::mutex> guard(lock_);
        download = download_;
    }
    for (Waiting& waiting : taken) {
        if (waiting.type == kParkedBytes) {
            if (download) {
                (*download)(waiting.bytes, waiting.finished);
            }
        } else if (sync) {
            (*sync)(waiting.event);
        }
    }
}

void StreamCallbacks::releaseParked() {
    Delivery delivery(*this);
    std::vector<Waiting> parked;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!parking_) {
            return;
        }
        parking_ = false;
        parkedBytes_ = 0;
        for (auto waiting = waiting_.begin(); waiting != waiting_.end();) {
            if (waiting->type == kParkedBytes) {
                parked.push_back(std::move(*waiting));
                waiting = waiting_.erase(waiting);
            } else {
                ++waiting;
            }
        }
    }
    deliverWaiting(parked, nullptr);
}

bool StreamCallbacks::removeSync(SyncId handle) {
    return changeOutsideDelivery([&] {
        return std::erase_if(entries_, [&](const Entry& entry) { return entry.handle == handle; }) > 0;
    });
}

bool StreamCallbacks::hasSync(std::uint32_t type) const {
    std::lock_guard<std::mutex> guard(lock_);
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const Entry& entry) { return entry.type == type; });
}

void StreamCallbacks::close() {
    changeOutsideDelivery([&] {
        closed_ = true;
        entries_.clear();
        waiting_.clear();
        download_.reset();
    });
}

void StreamCallbacks::download(std::span<const std::uint8_t> data, bool finished) {
    Delivery delivery(*this);
    std::shared_ptr<DownloadCallback> callback;
    bool overflow = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        callback = download_;
        if (!callback) {
            return;
        }
        overflow = parkedBytes_ > 0;
        const bool metadataWaits = parking_ && std::any_of(waiting_.begin(), waiting_.end(), [](const Waiting& w) {
            return w.type == audio::kSyncMeta;
        });
        if (metadataWaits && parkedBytes_ + data.size() <= kMaxParkedBytes) {
            waiting_.push_back(Waiting{kParkedBytes, {}, std::vector<std::uint8_t>(data.begin(), data.end()), finished});
            parkedBytes_ += data.size();
            return;
        }
    }
    if (overflow) {
        releaseParked();  // too much waits: order gives way, no byte is lost
    }
    (*callback)(data, finished);
}

void StreamCallbacks::fire(std::uint32_t type, std::uint32_t data, const std::vector<std::string>& texts,
                           std::optional<std::uint64_t> position) {
    Delivery delivery(*this);
    std::vector<Entry> due;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (const Entry& entry : entries_) {
            if (entry.type == type) {
                due.push_back(entry);
            }
        }
        if (due.empty() && waitsForItsSync(type) && !closed_) {
            const auto metadata = [](const Waiting& w) { return w.type != kParkedBytes; };
            if (std::count_if(waiting_.begin(), waiting_.end(), metadata) >= std::ptrdiff_t{kMaxWaitingMetadata}) {
                waiting_.erase(std::find_if(waiting_.begin(), waiting_.end(), metadata));
            }
            waiting_.push_back(Waiting{type, SyncEvent{data, texts, position}, {}, false});
            return;
        }
    }
    for (const Entry& entry : due) {
        // A callback may have removed a later one of this round.
        {
            std::lock_guard<std::mutex> guard(lock_);
            const bool stillThere = std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) {
                return e.handle == entry.handle;
            });
            if (!stillThere) {
                continue;
            }
        }
        (*entry.callback)(SyncEvent{data, texts, position});
    }
}

}  // namespace korvanel
