// HttpClient::fetch of a 1 MiB body from a loopback server, and how many
// copies of the body the fetch holds at its peak.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "app/application.h"
#include "stream/byte_buffer.h"
#include "stream/http_client.h"
#include "tests/support/http_test_server.h"

// ByteBuffer grows with realloc, which the shared operator-new counter does
// not see, so this program counts at the C allocator. A realloc is counted
// as holding the old and the new block at once, the worst case.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KORVANEL_COUNT_MALLOC 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define KORVANEL_COUNT_MALLOC 0
#endif
#endif
#ifndef KORVANEL_COUNT_MALLOC
#define KORVANEL_COUNT_MALLOC 1
#endif

namespace {

std::atomic<std::size_t> liveBytes{0};
std::atomic<std::size_t> peakBytes{0};       // live bytes after each call
std::atomic<std::size_t> worstPeakBytes{0};  // and with a realloc's old and new block side by side

void raisePeak(std::atomic<std::size_t>& peak, std::size_t now) {
    std::size_t seen = peak.load();
    while (now > seen && !peak.compare_exchange_weak(seen, now)) {
    }
}

void notePeak(std::size_t now) {
    raisePeak(peakBytes, now);
    raisePeak(worstPeakBytes, now);
}

}  // namespace

#if KORVANEL_COUNT_MALLOC
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);

void* malloc(size_t size) {
    void* block = __libc_malloc(size);
    if (block != nullptr) {
        notePeak(liveBytes.fetch_add(malloc_usable_size(block)) + malloc_usable_size(block));
    }
    return block;
}

void* calloc(size_t count, size_t size) {
    void* block = __libc_calloc(count, size);
    if (block != nullptr) {
        notePeak(liveBytes.fetch_add(malloc_usable_size(block)) + malloc_usable_size(block));
    }
    return block;
}

void* realloc(void* old, size_t size) {
    const std::size_t oldSize = old != nullptr ? malloc_usable_size(old) : 0;
    raisePeak(worstPeakBytes, liveBytes.load() + size);
    void* block = __libc_realloc(old, size);
    if (block != nullptr) {
        liveBytes.fetch_sub(oldSize);
        notePeak(liveBytes.fetch_add(malloc_usable_size(block)) + malloc_usable_size(block));
    } else if (size == 0) {
        liveBytes.fetch_sub(oldSize);
    }
    return block;
}

void* memalign(size_t alignment, size_t size) {
    void* block = __libc_memalign(alignment, size);
    if (block != nullptr) {
        notePeak(liveBytes.fetch_add(malloc_usable_size(block)) + malloc_usable_size(block));
    }
    return block;
}

void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

int posix_memalign(void** result, size_t alignment, size_t size) {
    *result = memalign(alignment, size);
    return *result != nullptr ? 0 : 12;  // ENOMEM
}

void free(void* block) {
    if (block != nullptr) {
        liveBytes.fetch_sub(malloc_usable_size(block));
        __libc_free(block);
    }
}
}
#endif

namespace {

using korvanel::test::HttpTestServer;

constexpr std::size_t kBodyBytes = 1024 * 1024;

// The program folder (and its settings file) lives in a temporary folder.
class TemporaryHome {
public:
    TemporaryHome() {
        std::string pattern = (std::filesystem::temp_directory_path() / "korvanel-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
            ::setenv("KORVANEL_HOME", path_.c_str(), 1);
        }
    }
    ~TemporaryHome() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

private:
    std::string path_;
};

std::string makeBody() {
    std::string body(kBodyBytes, '\0');
    std::uint32_t state = 12345;
    for (char& c : body) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    return body;
}

void BM_Fetch1MiBFromLoopback(benchmark::State& state) {
    TemporaryHome home;
    korvanel::Application application([](korvanel::Application&) { return nullptr; });
    korvanel::HttpClient& client = application.httpClient();
    HttpTestServer server(HttpTestServer::reply(HttpTestServer::okResponse(makeBody())));
    const std::string url = server.url("/big.bin");

    // One measured fetch for the memory figure.
    {
        korvanel::ByteBuffer body;
        const std::size_t before = liveBytes.load();
        peakBytes = before;
        worstPeakBytes = before;
        if (!client.fetch(url, body) || body.size() != kBodyBytes) {
            state.SkipWithError("fetch failed");
            return;
        }
        // Heap held above the start, in units of the body's size; -1 where a
        // sanitizer owns the allocator and nothing is counted.
        const auto inBodies = [before](std::size_t peak) {
            return KORVANEL_COUNT_MALLOC ? static_cast<double>(peak - before) / kBodyBytes : -1.0;
        };
        state.counters["peak_bodies"] = inBodies(peakBytes.load());
        state.counters["peak_bodies_worst"] = inBodies(worstPeakBytes.load());
    }

    for (auto _ : state) {
        korvanel::ByteBuffer body;
        if (!client.fetch(url, body)) {
            state.SkipWithError("fetch failed");
            return;
        }
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBodyBytes));
}
BENCHMARK(BM_Fetch1MiBFromLoopback)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
