// ByteBuffer under a fuzzed sequence of appends, front removals, resizes,
// clears, capacity limits and moves, checked after every step against a
// std::string holding what the buffer should hold: the same bytes, a size
// within the capacity, capacities in the documented steps, and a failed
// call that changes nothing.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "stream/byte_buffer.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using korvanel::ByteBuffer;

// Sizes around the step, where the buffer changes how it allocates.
constexpr std::size_t kStep = ByteBuffer::kStep;
constexpr std::size_t kLargestSize = 4 * kStep;
// Enough steps to reach any state; more would only repeat comparisons.
constexpr int kMaxSteps = 64;

struct State {
    std::size_t size;
    std::size_t capacity;
    const char* data;
};

State stateOf(const ByteBuffer& buffer) { return {buffer.size(), buffer.capacity(), buffer.data()}; }

// Every byte when small; at large sizes both ends, and every byte once the
// sequence is over (a misplaced byte stays misplaced until then).
void checkAgainstModel(const ByteBuffer& buffer, const std::string& model, bool everyByte) {
    FUZZ_CHECK(buffer.size() == model.size());
    FUZZ_CHECK(buffer.empty() == model.empty());
    FUZZ_CHECK(buffer.size() <= buffer.capacity());
    FUZZ_CHECK((buffer.capacity() == 0) == (buffer.data() == nullptr));
    constexpr std::size_t kEnds = 4096;
    if (everyByte || model.size() <= 2 * kEnds) {
        FUZZ_CHECK(buffer.view() == model);
    } else {
        FUZZ_CHECK(buffer.view().substr(0, kEnds) == std::string_view(model).substr(0, kEnds));
        FUZZ_CHECK(buffer.view().substr(model.size() - kEnds) == std::string_view(model).substr(model.size() - kEnds));
    }
}

// Sizes near the step and its multiples, where allocation changes.
std::size_t sizeNearSteps(FuzzedDataProvider& input) {
    const std::size_t anchor = kStep / 2 * input.ConsumeIntegralInRange<std::size_t>(0, 8);
    const std::size_t offset = input.ConsumeIntegralInRange<std::size_t>(0, 32);
    return anchor + offset >= 16 ? anchor + offset - 16 : 0;
}

void checkUnchanged(const ByteBuffer& buffer, const State& before) {
    const State after = stateOf(buffer);
    FUZZ_CHECK(after.size == before.size && after.capacity == before.capacity && after.data == before.data);
}

// The capacity a resize to n > 0 asks for: exactly n without a block, the
// next multiple of the step above n when growing past the capacity or
// shrinking well below it, else the capacity there is.
std::size_t capacityFor(const State& before, std::size_t n) {
    if (before.data == nullptr) {
        return n;
    }
    if (n > before.capacity || (n > kStep && n < before.capacity / 2)) {
        return (n / kStep + 1) * kStep;
    }
    return before.capacity;
}

// A resize to n > 0 either reached its capacity, or failed because the
// limit forbids it and changed nothing.
void checkResize(bool done, const State& before, const ByteBuffer& buffer, std::size_t n) {
    const std::size_t wanted = capacityFor(before, n);
    if (done) {
        FUZZ_CHECK(buffer.capacity() == wanted && buffer.size() == n);
    } else {
        FUZZ_CHECK(wanted != before.capacity && wanted > buffer.capacityLimit());
        checkUnchanged(buffer, before);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    ByteBuffer buffer;
    std::string model;
    // Large runs are cut from one patterned block, so that each run's bytes
    // differ from its neighbours' without allocating a new block per step.
    static const std::string kPattern = [] {
        std::string pattern(kLargestSize + kStep, '\0');
        for (std::size_t i = 0; i < pattern.size(); ++i) {
            pattern[i] = static_cast<char>((i ^ (i >> 8) ^ (i >> 16)) * 31);  // no short period
        }
        return pattern;
    }();
    for (int step = 0; step < kMaxSteps && input.remaining_bytes() > 0; ++step) {
        const State before = stateOf(buffer);
        switch (input.ConsumeIntegralInRange(0, 7)) {
            case 0:    // append bytes from the input
            case 1: {  // or a large run, crossing step boundaries
                std::string small;
                std::string_view bytes;
                // Large blocks are costly under the sanitizer: one append in four.
                if (input.ConsumeIntegralInRange(0, 3) != 0) {
                    small = input.ConsumeRandomLengthString(512);
                    bytes = small;
                } else {
                    const std::size_t count = std::min(sizeNearSteps(input), kLargestSize);
                    bytes = std::string_view(kPattern).substr(input.ConsumeIntegralInRange<std::size_t>(0, kStep), count);
                }
                if (model.size() + bytes.size() > kLargestSize) {
                    break;
                }
                const bool done = buffer.append(bytes.data(), bytes.size());
                if (!bytes.empty()) {
                    checkResize(done, before, buffer, model.size() + bytes.size());
                }
                if (done) {
                    model += bytes;
                }
                break;
            }
            case 2: {  // drop from the front: never fails, a failed shrink keeps the block
                const std::size_t count = input.ConsumeIntegralInRange<std::size_t>(0, model.size() + 2);
                FUZZ_CHECK(buffer.removeFront(count));
                model.erase(0, std::min(count, model.size()));
                if (!model.empty()) {
                    const std::size_t wanted = capacityFor(before, model.size());
                    FUZZ_CHECK(buffer.capacity() == wanted ||
                               (buffer.capacity() == before.capacity && wanted > buffer.capacityLimit()));
                }
                break;
            }
            case 3: {  // resize; new bytes are whatever they are, so the model takes them
                const std::size_t n = input.ConsumeIntegralInRange(0, 3) != 0
                                          ? input.ConsumeIntegralInRange<std::size_t>(0, 512)
                                          : sizeNearSteps(input);
                const bool done = buffer.resize(n);
                if (n == 0) {
                    FUZZ_CHECK(done && buffer.capacity() == 0);
                } else {
                    checkResize(done, before, buffer, n);
                }
                if (done) {
                    // The kept bytes are checked below; the new ones are whatever they are.
                    const std::size_t kept = std::min(n, model.size());
                    model.resize(kept);
                    model.append(buffer.view().substr(kept));
                }
                break;
            }
            case 4:
                buffer.clear();
                model.clear();
                FUZZ_CHECK(buffer.capacity() == 0);
                break;
            case 5:  // a capacity limit, sometimes below what is held
                buffer.setCapacityLimit(input.ConsumeBool() ? ByteBuffer::kNoLimit
                                                            : sizeNearSteps(input));
                break;
            case 6: {  // moves keep the bytes and empty the source
                ByteBuffer moved(std::move(buffer));
                FUZZ_CHECK(buffer.size() == 0 && buffer.capacity() == 0 && buffer.data() == nullptr);
                checkAgainstModel(moved, model, false);
                buffer = std::move(moved);
                FUZZ_CHECK(moved.size() == 0 && moved.data() == nullptr);
                break;
            }
            case 7:  // a count that would overflow the size is refused unread
                if (!model.empty()) {
                    FUZZ_CHECK(!buffer.append("x", ByteBuffer::kNoLimit - model.size() + 1));
                    checkUnchanged(buffer, before);
                }
                break;
        }
        // A limit set below the block held applies from the next
        // reallocation on: the buffer never grows past it.
        FUZZ_CHECK(buffer.capacity() <= buffer.capacityLimit() || buffer.capacity() == before.capacity);
        checkAgainstModel(buffer, model, false);
    }
    checkAgainstModel(buffer, model, true);
    return 0;
}
