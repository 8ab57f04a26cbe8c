// The per-station loudness file: any file is read. Checked: a file that is
// not taken whole leaves nothing behind, one that is holds at most the bound,
// and a station remembered afterwards is found at the loudness given.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "audio/loudness_memory.h"
#include "stream/unique_fd.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// The memory reads from a path only; an in-memory file gives it one.
korvanel::UniqueFd memoryFile(std::string_view bytes) {
    korvanel::UniqueFd file(::memfd_create("loudness", MFD_CLOEXEC));
    FUZZ_CHECK(file.valid());
    while (!bytes.empty()) {
        const ssize_t written = ::write(file.get(), bytes.data(), bytes.size());
        FUZZ_CHECK(written > 0);
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using korvanel::LoudnessMemory;
    const korvanel::UniqueFd file = memoryFile(std::string_view(reinterpret_cast<const char*>(data), size));
    LoudnessMemory memory("/proc/self/fd/" + std::to_string(file.get()));
    const LoudnessMemory::LoadResult result = memory.load();
    FUZZ_CHECK(result != LoudnessMemory::LoadResult::Missing);
    if (result == LoudnessMemory::LoadResult::Corrupt) {
        FUZZ_CHECK(memory.size() == 0);
    }
    FUZZ_CHECK(memory.size() <= LoudnessMemory::kMaxStations);
    const std::size_t before = memory.size();
    memory.remember("http://fuzz.example/stream", -23.5);
    FUZZ_CHECK(memory.size() <= LoudnessMemory::kMaxStations && memory.size() >= before);
    const auto found = memory.find("http://fuzz.example/stream");
    FUZZ_CHECK(found && *found == -23.5);
    return 0;
}
