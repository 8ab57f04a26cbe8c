#pragma once

namespace korvanel::product {

// How the program names itself: window titles, the settings file's target,
// the User-Agent of every request.
inline constexpr const char* kName = "Korvanel Radio";
inline constexpr const char* kVersion = "v0.3.6";

}  // namespace korvanel::product
