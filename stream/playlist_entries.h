#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "stream/playlist_sniffer.h"

namespace korvanel {

// The text links are scraped from, for a playlist of a known form read from
// address (after redirects). An M3U keeps its text, its relative entries
// made absolute against the address in their places; an XSPF gives its
// <location> elements only, entities undone and relative ones made
// absolute; every other form is its own text. Relative entries of a local
// file name no stream and are left out.
std::string playlistLinkText(std::string_view text, std::optional<PlaylistForm> form, std::string_view address);

// The text of every <location> element of an XSPF document, its entities
// undone, in document order; at most kMaxScrapedLinks of them.
std::string xspfLocations(std::string_view text);

}  // namespace korvanel
