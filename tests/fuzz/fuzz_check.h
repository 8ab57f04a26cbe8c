#pragma once

#include <cstdio>
#include <cstdlib>

// An invariant of the code under test: a violation is a finding, so the
// fuzzer must stop there and keep the input, as it does for a crash.
#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (false)
