#include "stream/playlist_entries.h"

#include <cstdint>
#include <vector>

#include "base/ascii_text.h"
#include "settings/text_encoding.h"
#include "stream/link_scraper.h"
#include "stream/source_classification.h"
#include "stream/stream_url.h"

namespace korvanel {

namespace {

// An entry with a scheme of its own ("http:", "file:", a drive letter)
// is not relative to the playlist.
bool hasScheme(std::string_view entry) {
    const std::size_t colon = entry.find(':');
    return colon != std::string_view::npos && entry.substr(0, colon).find('/') == std::string_view::npos;
}

// The entry as an absolute address, when it is relative to a web playlist.
std::optional<std::string> absoluteEntry(std::string_view entry, const std::optional<StreamUrl>& base) {
    entry = trimmedAscii(entry);
    if (!base || entry.empty() || entry.size() > kMaxScrapedLinkBytes || hasScheme(entry)) {
        return std::nullopt;
    }
    const std::optional<StreamUrl> resolved = base->resolve(entry);
    return resolved ? std::optional<std::string>(resolved->toString()) : std::nullopt;
}

// A character reference's character; none for what names no character.
void appendCharacter(std::string& out, std::uint32_t code) {
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return;  // no character, so no part of an address
    }
    appendUtf8(out, static_cast<char32_t>(code));
}

// XML's five named entities and character references; anything else stays
// as written.
std::string withoutEntities(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t end = text[i] == '&' ? text.find(';', i) : std::string_view::npos;
        if (end == std::string_view::npos || end - i > 10) {
            out += text[i];
            continue;
        }
        const std::string_view name = text.substr(i + 1, end - i - 1);
        static constexpr std::pair<std::string_view, char> kNamed[] = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        bool done = false;
        for (const auto& [entity, character] : kNamed) {
            if (name == entity) {
                out += character;
                done = true;
            }
        }
        if (!done && name.size() > 1 && name.front() == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            const std::string_view digits = name.substr(hex ? 2 : 1);
            std::uint32_t code = 0;
            bool valid = !digits.empty();
            for (const char c : digits) {
                const int digit = c >= '0' && c <= '9'               ? c - '0'
                                  : hex && c >= 'a' && c <= 'f'      ? c - 'a' + 10
                                  : hex && c >= 'A' && c <= 'F'      ? c - 'A' + 10
                                                                     : -1;
                if (digit < 0 || code > 0x10FFFF) {
                    valid = false;
                    break;
                }
                code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
            }
            if (valid) {
                appendCharacter(out, code);
                done = true;
            }
        }
        if (!done) {
            out += text[i];
            continue;
        }
        i = end;
    }
    return out;
}

}  // namespace

std::string xspfLocations(std::string_view text) {
    // Element names are case-sensitive in XML; a prefix ("xspf:location")
    // is allowed.
    std::string out;
    std::size_t count = 0;
    for (std::size_t at = text.find("location"); at != std::string_view::npos && count < kMaxScrapedLinks;
         at = text.find("location", at + 1)) {
        const std::size_t open = text.rfind('<', at);
        if (open == std::string_view::npos || text.substr(open + 1, at - open - 1).find_first_of("/<> \t\r\n") !=
                                                   std::string_view::npos) {
            continue;  // a closing tag, or the word inside some text
        }
        const std::size_t close = text.find('>', at);
        if (close == std::string_view::npos) {
            break;
        }
        const std::string_view attributes = text.substr(at + 8, close - at - 8);
        if (!attributes.empty() && attributes.front() != ' ' && attributes.front() != '>' &&
            attributes.front() != '\t' && attributes.front() != '\r' && attributes.front() != '\n') {
            continue;  // "<locationx>"
        }
        const std::size_t end = text.find('<', close);
        if (end == std::string_view::npos) {
            break;
        }
        out += withoutEntities(trimmedAscii(text.substr(close + 1, end - close - 1)));
        out += '\n';
        ++count;
        at = end;
    }
    return out;
}

std::string playlistLinkText(std::string_view text, std::optional<PlaylistForm> form, std::string_view address) {
    if (form != PlaylistForm::M3u && form != PlaylistForm::Xspf) {
        return std::string(text);
    }
    const std::optional<StreamUrl> base = isWebAddress(address) ? StreamUrl::parse(address) : std::nullopt;
    // An XSPF's sources are its locations only; an M3U keeps every line, so
    // a relative entry made absolute keeps its place in the list.
    const std::string locations = form == PlaylistForm::Xspf ? xspfLocations(text) : std::string();
    std::string_view rest = form == PlaylistForm::Xspf ? std::string_view(locations) : text;
    std::string out;
    out.reserve(rest.size());
    std::size_t count = 0;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view raw = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        const std::string_view line = trimmedAscii(raw);
        std::optional<std::string> absolute;
        if (!line.empty() && line.front() != '#' && count < kMaxScrapedLinks) {
            absolute = absoluteEntry(line, base);
        }
        if (absolute) {
            out.append(*absolute);
            ++count;
        } else {
            out.append(raw);
        }
        out += '\n';
    }
    return out;
}

}  // namespace korvanel
