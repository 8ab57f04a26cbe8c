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

// The whole file, or nothing when it cannot be read or is larger than maxBytes.
std::optional<std::string> readWholeFile(const std::string& path, std::size_t maxBytes);

}  // namespace korvanel
