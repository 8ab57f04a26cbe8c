#include "stream/link_scraper.h"

#include <array>

#include "stream/source_classification.h"

namespace korvanel {

namespace {

constexpr std::string_view kWebPrefix = "http";
constexpr std::string_view kSecureScheme = "https://";
constexpr std::string_view kWindowsMediaScheme = "mms://";
constexpr std::string_view kWebDelimiters = " \t\r\n\"'<>";
constexpr std::string_view kWindowsMediaDelimiters = " \t\r\n\"<>";
constexpr std::string_view kDroppedSuffixes[] = {".htm", ".html", ".gif", ".jpg", ".php", ".asp"};

// Finds the first delimiter at or after a position. Positions only grow, so
// the last answer is reused while it still lies ahead: a page full of
// "http://" without delimiters is scanned once, not once per occurrence.
class DelimiterFinder {
public:
    DelimiterFinder(std::string_view text, std::string_view delimiters) : text_(text) {
        for (const char c : delimiters) {
            isDelimiter_[static_cast<unsigned char>(c)] = true;
        }
    }

    std::size_t from(std::size_t position) {
        if (found_ != kUnknown && found_ >= position) {
            return found_;
        }
        found_ = text_.size();
        for (std::size_t i = position; i < text_.size(); ++i) {
            if (isDelimiter_[static_cast<unsigned char>(text_[i])]) {
                found_ = i;
                break;
            }
        }
        return found_;
    }

private:
    static constexpr std::size_t kUnknown = static_cast<std::size_t>(-1);

    std::string_view text_;
    std::array<bool, 256> isDelimiter_{};
    std::size_t found_ = kUnknown;
};

bool isPageOrPicture(std::string_view link) {
    for (std::string_view suffix : kDroppedSuffixes) {
        if (endsWith(link, suffix)) {
            return true;
        }
    }
    return false;
}

enum class Kind { Web, WindowsMedia };

void collect(std::string_view text, Kind kind, std::vector<std::string>& links) {
    // "http" finds "https://" links too, in the order they stand.
    const std::string_view scheme = kind == Kind::Web ? kWebPrefix : kWindowsMediaScheme;
    DelimiterFinder delimiters(text, kind == Kind::Web ? kWebDelimiters : kWindowsMediaDelimiters);
    for (std::size_t p = text.find(scheme); p != std::string_view::npos; p = text.find(scheme, p + 1)) {
        if (links.size() >= kMaxScrapedLinks) {
            return;
        }
        if (kind == Kind::Web && !isWebAddress(text.substr(p, kSecureScheme.size()))) {
            continue;
        }
        // No delimiter: the link runs to the end of the text.
        const std::string_view link = text.substr(p, delimiters.from(p) - p);
        if (link.size() > kMaxScrapedLinkBytes || (kind == Kind::Web && isPageOrPicture(link))) {
            continue;
        }
        links.emplace_back(link);
    }
}

}  // namespace

std::vector<std::string> scrapeLinks(std::string_view text) {
    std::vector<std::string> links;
    collect(text, Kind::Web, links);
    collect(text, Kind::WindowsMedia, links);
    return links;
}

}  // namespace korvanel
