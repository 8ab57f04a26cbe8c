#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvanel {

// "file:///a%20b" for the absolute path "/a b": every byte but the
// unreserved ones and '/' percent-encoded, so any path survives a list.
std::string fileUriOfPath(std::string_view path);

// The absolute path a file: URI names on this machine ("file:///..." or
// "file://localhost/..."), or nothing for another host, a bad escape or a
// zero byte.
std::optional<std::string> pathOfFileUri(std::string_view uri);

}  // namespace korvanel
