#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace korvanel {

// Room for the status line and headers on top of the body bound while a
// response is being received.
inline constexpr std::size_t kMaxHttpHeaderBytes = 64 * 1024;

// The body of a whole HTTP response as received up to the server's close:
// a part of `response` (its tail), or nothing when the status line is not
// "HTTP/1.x 200 OK", the headers never end, or the body is over
// maxBodyBytes. Only the first line counts as the status, so an error page
// that quotes a success stays an error.
std::optional<std::string_view> httpResponseBody(std::string_view response, std::size_t maxBodyBytes);

}  // namespace korvanel
