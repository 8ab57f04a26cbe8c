#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korvanel {

// Finds stream links in any text (playlist or web page) without knowing its
// grammar: every "http://" and "https://" up to the first space, tab, CR, LF, '"', '\'',
// '<' or '>', dropping links to pages and pictures; then every "mms://" up
// to the first of the same delimiters except '\''. Web links come first, each
// group in text order, duplicates kept.
//
// Bounds for hostile pages: a link longer than kMaxScrapedLinkBytes is dropped (no
// stream address is that long), and at most kMaxScrapedLinks are returned.
inline constexpr std::size_t kMaxScrapedLinkBytes = 2048;
inline constexpr std::size_t kMaxScrapedLinks = 16384;

std::vector<std::string> scrapeLinks(std::string_view text);

}  // namespace korvanel
