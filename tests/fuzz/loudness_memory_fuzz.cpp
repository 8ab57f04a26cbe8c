// The per-station loudness file: any file is read. Checked: a file that is
// not taken whole leaves nothing behind, one that is holds at most the bound,
// and a station remembered afterwards is found at the loudness given.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "audio/loudness_memory.h"
#include "stream/unique_fd.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_memory_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using korvanel::LoudnessMemory;
    const korvanel::UniqueFd file =
        korvanel::fuzz::memoryFile("loudness", std::string_view(reinterpret_cast<const char*>(data), size));
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
