#pragma once

#include <cstddef>

namespace korvanel::bench {

// Every benchmark program counts its heap through its own operator new, so
// a benchmark can report the peak memory a piece of work takes.
std::size_t liveHeapBytes();
// Starts a new peak measurement from the current live bytes.
void resetHeapPeak();
// Peak live bytes since resetHeapPeak(), above the live bytes at that time.
std::size_t heapPeakBytesSinceReset();

}  // namespace korvanel::bench
