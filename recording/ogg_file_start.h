#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "recording/file_tags.h"
#include "stream/ogg_page.h"

namespace korvanel {

// What a file cut out of a logical stream needs at its start to be a
// stream of its own. Pure functions over whole pages; nothing here trusts
// the bytes.
//
// The header pages again, with the comment packet carrying tags (TITLE,
// ARTIST, ORGANIZATION replaced, every other comment kept), each header
// packet on pages of its own; nothing when the headers cannot be read.
std::optional<std::string> oggHeadersWithTags(std::string_view headerPages, OggCodec codec, const FileTags& tags);

// How far the granule positions of a file that begins with these audio
// pages must move back so that they count from the file's start (Opus
// keeping its pre-skip, read from the identification packet); 0 where the
// stream began there or the codec is not known.
std::int64_t oggGranuleShift(std::string_view audioPages, OggCodec codec, std::string_view headerPages);

}  // namespace korvanel
