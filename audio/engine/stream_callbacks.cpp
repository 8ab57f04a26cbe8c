#include "audio/engine/stream_callbacks.h"

#include <algorithm>

namespace korvanel {
namespace {

bool waitsForItsSync(std::uint32_t type) { return type == audio::kSyncMeta || type == audio::kSyncMetaPlaced; }

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

void StreamCallbacks::addSync(SyncHandle handle, std::uint32_t type, SyncCallback callback) {
    // Held through the catch-up, so a fire on another thread comes after it.
    Delivery delivery(*this);
    auto shared = std::make_shared<SyncCallback>(std::move(callback));
    std::vector<SyncEvent> caughtUp;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (closed_) {
            return;
        }
        entries_.push_back(Entry{handle, type, shared});
        for (auto waiting = waiting_.begin(); waiting != waiting_.end();) {
            if (waiting->type == type) {
                caughtUp.push_back(std::move(waiting->event));
                waiting = waiting_.erase(waiting);
            } else {
                ++waiting;
            }
        }
    }
    for (SyncEvent& event : caughtUp) {
        event.sync = handle;
        (*shared)(event);
    }
}

bool StreamCallbacks::removeSync(SyncHandle handle) {
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
    {
        std::lock_guard<std::mutex> guard(lock_);
        callback = download_;
    }
    if (callback) {
        (*callback)(data, finished);
    }
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
            if (waiting_.size() >= kMaxWaitingMetadata) {
                waiting_.pop_front();
            }
            waiting_.push_back(Waiting{type, SyncEvent{stream_, {}, data, texts, position}});
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
        (*entry.callback)(SyncEvent{stream_, entry.handle, data, texts, position});
    }
}

}  // namespace korvanel
