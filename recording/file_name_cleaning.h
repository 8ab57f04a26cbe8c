#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korvanel {

// A station name or track title, as it may appear in a file name: the
// characters " * / : < > ? \ | and control characters become '_', and so
// does each non-ASCII character (one '_' per character, whatever its UTF-8
// length; a byte that is not valid UTF-8 counts as one character), so
// names stay plain ASCII. The result holds at most kMaxValueChars.
inline constexpr std::size_t kMaxValueChars = 259;
std::string cleanNameValue(std::string_view value);

// The longest name component most file systems take.
inline constexpr std::size_t kMaxComponentBytes = 255;

// A name relative to the recording folder, made safe to append to it:
// split at '/' and '\', every component that is empty, "." or "..", or that
// starts with '.', has those dots (or its emptiness) replaced by '_', a NUL
// byte becomes '_', and each component is cut to kMaxComponentBytes without
// splitting a UTF-8 character. The result uses '/' and never leaves the
// folder.
std::string safeRelativeName(std::string_view name);

}  // namespace korvanel
