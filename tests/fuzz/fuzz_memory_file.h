#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <string_view>

#include "stream/unique_fd.h"
#include "tests/fuzz/fuzz_check.h"

namespace korvanel::fuzz {

// For code that reads a file by its path only: the input as an in-memory
// file, readable at /proc/self/fd/<fd>.
inline UniqueFd memoryFile(const char* name, std::string_view bytes) {
    UniqueFd file(::memfd_create(name, MFD_CLOEXEC));
    FUZZ_CHECK(file.valid());
    while (!bytes.empty()) {
        const ssize_t written = ::write(file.get(), bytes.data(), bytes.size());
        FUZZ_CHECK(written > 0);
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return file;
}

}  // namespace korvanel::fuzz
