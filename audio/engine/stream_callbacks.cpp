#include "audio/engine/stream_callbacks.h"

#include <algorithm>

namespace korvanel {

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
    std::lock_guard<std::mutex> guard(lock_);
    if (!closed_) {
        entries_.push_back(Entry{handle, type, std::make_shared<SyncCallback>(std::move(callback))});
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

void StreamCallbacks::fire(std::uint32_t type, std::uint32_t data,
                           const std::vector<std::string>& texts) {
    Delivery delivery(*this);
    std::vector<Entry> due;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (const Entry& entry : entries_) {
            if (entry.type == type) {
                due.push_back(entry);
            }
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
        (*entry.callback)(SyncEvent{stream_, entry.handle, data, texts});
    }
}

}  // namespace korvanel
