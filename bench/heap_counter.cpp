#include "bench/heap_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace korvanel::bench {
namespace {

std::atomic<std::size_t> liveBytes{0};
std::atomic<std::size_t> peakBytes{0};
std::atomic<std::size_t> baselineBytes{0};

constexpr std::size_t kHeader = 16;  // keeps the user block 16-byte aligned

}  // namespace

std::size_t liveHeapBytes() { return liveBytes.load(); }

void resetHeapPeak() {
    baselineBytes = liveBytes.load();
    peakBytes = baselineBytes.load();
}

std::size_t heapPeakBytesSinceReset() { return peakBytes.load() - baselineBytes.load(); }

void* allocateCounted(std::size_t size) {
    void* block = std::malloc(size + kHeader);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    *static_cast<std::size_t*>(block) = size;
    const std::size_t now = liveBytes.fetch_add(size) + size;
    std::size_t peak = peakBytes.load();
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
    }
    return static_cast<char*>(block) + kHeader;
}

void freeCounted(void* pointer) noexcept {
    if (pointer == nullptr) {
        return;
    }
    void* block = static_cast<char*>(pointer) - kHeader;
    liveBytes.fetch_sub(*static_cast<std::size_t*>(block));
    std::free(block);
}

}  // namespace korvanel::bench

// The blocks come from malloc, so freeing them with free is the right match.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) { return korvanel::bench::allocateCounted(size); }
void* operator new[](std::size_t size) { return korvanel::bench::allocateCounted(size); }
void operator delete(void* pointer) noexcept { korvanel::bench::freeCounted(pointer); }
void operator delete[](void* pointer) noexcept { korvanel::bench::freeCounted(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { korvanel::bench::freeCounted(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { korvanel::bench::freeCounted(pointer); }
