#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace korvanel {

// Writes the bytes to a temporary file in the target's folder, flushes it to
// disk and renames it over the target, so the target is either the old file
// or the whole new one. Returns false (old file untouched) on any failure.
bool writeFileAtomically(const std::string& path, std::string_view bytes);

// The same in pieces, for contents too large to build in memory first.
// The temporary file goes when the writer does, unless commit() renamed it.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::string path);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // False once any write failed; later ones are not tried.
    bool append(std::string_view bytes);
    // Flushes and renames over the target; false (target untouched) when
    // anything failed.
    bool commit();

private:
    std::string path_;
    std::string tempPath_;
    int fd_ = -1;
    bool failed_ = false;
};

// The whole file, or nothing when it cannot be read or is larger than maxBytes.
std::optional<std::string> readWholeFile(const std::string& path, std::size_t maxBytes);

}  // namespace korvanel
