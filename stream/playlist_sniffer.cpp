#include "stream/playlist_sniffer.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "base/ascii_text.h"
#include "stream/playlist_text.h"

namespace korvanel {

namespace {

using Verdict = PlaylistSniffer::Verdict;
using Result = PlaylistSniffer::Result;

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::array kAddressSchemes = {std::string_view("http://"), std::string_view("https://"),
                                        std::string_view("mms://"), std::string_view("rtsp://")};

Result playlist(PlaylistForm form) { return {Verdict::Playlist, form}; }
Result notPlaylist() { return {Verdict::NotPlaylist, std::nullopt}; }

// Bytes no text holds: a control character other than the blanks.
bool isBinary(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r' && byte != '\f';
    });
}

// Whether text is UTF-8 throughout, where a cut last character counts as
// whole; audio's sync bytes never are.
bool isUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3
                                                   : (lead & 0xF8) == 0xF0 ? 4 : 0;
        if (length == 0 || (length == 2 && lead < 0xC2) || (length == 4 && lead > 0xF4)) {
            return false;
        }
        for (std::size_t k = 1; k < length && i + k < text.size(); ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

// Whether text could still grow into prefix.
bool mayBecome(std::string_view text, std::string_view prefix) {
    return text.size() < prefix.size() && startsWithFolded(prefix, lowerAscii(text));
}

// A whole address on a line of its own: no blanks or control characters.
bool isAddress(std::string_view line) {
    return std::any_of(kAddressSchemes.begin(), kAddressSchemes.end(),
                       [line](std::string_view scheme) { return startsWithFolded(line, scheme); }) &&
           std::none_of(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) <= 0x20; });
}

// An M3U without its header: comment lines, then an address. The first
// line that is neither decides, so more bytes never change the answer.
Verdict addressList(std::string_view text, bool complete) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos && !complete) {
            // The last line may be cut; it can still say no.
            const std::string_view partial = trimmedAscii(text);
            const bool mayBeAddress = isAddress(partial) || std::any_of(
                kAddressSchemes.begin(), kAddressSchemes.end(),
                [partial](std::string_view scheme) { return mayBecome(partial, scheme); });
            return partial.empty() || partial.front() == '#' || mayBeAddress ? Verdict::NeedMore
                                                                             : Verdict::NotPlaylist;
        }
        const std::string_view line = trimmedAscii(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        return isAddress(line) ? Verdict::Playlist : Verdict::NotPlaylist;
    }
    return complete ? Verdict::NotPlaylist : Verdict::NeedMore;
}

// Where the markup that opens an XML document ends, past at, or npos when
// it does not end within text.
std::size_t markupEnd(std::string_view text, std::size_t at) {
    if (text.substr(at).starts_with("<?")) {
        const std::size_t end = text.find("?>", at + 2);
        return end == std::string_view::npos ? end : end + 2;
    }
    if (text.substr(at).starts_with("<!--")) {
        const std::size_t end = text.find("-->", at + 4);
        return end == std::string_view::npos ? end : end + 3;
    }
    const std::size_t end = text.find('>', at);
    return end == std::string_view::npos ? end : end + 1;
}

// An XML document: XSPF or ASX by its root element, the first after the
// prologue's declarations and comments.
Result xmlDocument(std::string_view text, bool complete) {
    const Result undecided = complete ? notPlaylist() : Result{Verdict::NeedMore, std::nullopt};
    std::size_t at = 0;
    while (true) {
        at = text.find_first_not_of(" \t\r\n", at);
        if (at == std::string_view::npos) {
            return undecided;
        }
        if (text[at] != '<') {
            return notPlaylist();
        }
        const std::size_t end = markupEnd(text, at);
        if (end == std::string_view::npos) {
            // The root may still come after a long comment.
            return undecided;
        }
        const std::string_view markup = text.substr(at, end - at);
        if (markup.size() < 2 || markup[1] == '?' || markup[1] == '!') {
            at = end;
            continue;
        }
        const std::string root = lowerAscii(markup);
        const auto named = [&root](std::string_view name) {
            return root.size() > name.size() && root.starts_with(name) &&
                   std::string_view(" \t\r\n/>").find(root[name.size()]) != std::string_view::npos;
        };
        if (named("<asx")) {
            return playlist(PlaylistForm::Asx);
        }
        if (named("<playlist") && root.find("xspf.org/ns/0") != std::string::npos) {
            return playlist(PlaylistForm::Xspf);
        }
        return notPlaylist();
    }
}

Result sniffText(std::string_view text, bool complete) {
    if (startsWithFolded(text, "[playlist]")) {
        return playlist(PlaylistForm::Pls);
    }
    if (startsWithFolded(text, "#extm3u")) {
        return playlist(PlaylistForm::M3u);
    }
    if (startsWithFolded(text, "<asx") || startsWithFolded(text, "<?xml") || startsWithFolded(text, "<playlist") ||
        startsWithFolded(text, "<!--")) {
        return xmlDocument(text, complete);
    }
    for (std::string_view prefix : {"[playlist]", "#extm3u", "<asx", "<?xml", "<playlist", "<!--"}) {
        if (!complete && mayBecome(text, prefix)) {
            return {Verdict::NeedMore, std::nullopt};
        }
    }
    switch (addressList(text, complete)) {
        case Verdict::Playlist: return playlist(PlaylistForm::M3u);
        case Verdict::NeedMore: return {Verdict::NeedMore, std::nullopt};
        case Verdict::NotPlaylist: break;
    }
    return notPlaylist();
}

}  // namespace

bool PlaylistSniffer::isAsfFile(std::string_view bytes) {
    static constexpr std::string_view kHeaderObject(
        "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16);
    return bytes.starts_with(kHeaderObject);
}

std::optional<PlaylistForm> PlaylistSniffer::formOfMediaType(std::string_view mediaType) {
    const std::string type = lowerAscii(trimmedAscii(mediaType.substr(0, mediaType.find(';'))));
    static constexpr std::pair<std::string_view, PlaylistForm> kTypes[] = {
        {"audio/x-scpls", PlaylistForm::Pls},
        {"audio/scpls", PlaylistForm::Pls},
        {"application/pls+xml", PlaylistForm::Pls},
        {"audio/x-mpegurl", PlaylistForm::M3u},
        {"audio/mpegurl", PlaylistForm::M3u},
        {"application/x-mpegurl", PlaylistForm::M3u},
        {"application/vnd.apple.mpegurl", PlaylistForm::M3u},
        {"application/xspf+xml", PlaylistForm::Xspf},
        {"video/x-ms-asf", PlaylistForm::Asx},
        {"video/x-ms-asx", PlaylistForm::Asx},
        {"audio/x-ms-wax", PlaylistForm::Asx},
        {"video/x-ms-wvx", PlaylistForm::Asx},
    };
    for (const auto& [name, form] : kTypes) {
        if (type == name) {
            return form;
        }
    }
    return std::nullopt;
}

PlaylistSniffer::Result PlaylistSniffer::sniff(std::string_view mediaType, std::string_view bytes, bool complete) {
    if (bytes.size() > kDecisiveBytes) {
        bytes = bytes.substr(0, kDecisiveBytes);
        complete = true;
    }
    // 16-bit playlists exist; audio that happens to start like a byte-order
    // mark decodes to no playlist's words.
    if (!complete && bytes.size() == 1 && (bytes[0] == '\xFF' || bytes[0] == '\xFE')) {
        return {Verdict::NeedMore, std::nullopt};
    }
    const bool marked = PlaylistText::hasByteOrderMark(bytes) || PlaylistText::hasReversedByteOrderMark(bytes);
    const bool ascii16 = PlaylistText::looksLikeAscii16(bytes);
    // A later non-ASCII character would make the same bytes 8-bit text, so
    // a first read of unmarked 16-bit text decides once that is known.
    if (!complete && !marked && ascii16 && !PlaylistText::ascii16IsSettled(bytes)) {
        return {Verdict::NeedMore, std::nullopt};
    }
    const bool wide = marked || ascii16;
    std::string decoded;
    std::string_view text = bytes;
    if (wide) {
        decoded = PlaylistText::decode(bytes);
        text = decoded;
        // A cut 16-bit text ends where the bytes do, not at a zero character.
    }
    if (text.starts_with(kUtf8Mark)) {
        text.remove_prefix(kUtf8Mark.size());
    } else if (!complete && mayBecome(text, kUtf8Mark)) {
        return {Verdict::NeedMore, std::nullopt};
    }
    text = trimmedAscii(text, " \t\r\n\f");
    // The blanks were all there was so far.
    if (text.empty()) {
        return complete ? notPlaylist() : Result{Verdict::NeedMore, std::nullopt};
    }
    const Result byContent = sniffText(text, complete);
    if (byContent.verdict != Verdict::NotPlaylist) {
        return byContent;
    }
    // Binary is audio (or a picture), whatever the server calls it.
    if (isBinary(text)) {
        return notPlaylist();
    }
    // A text of a playlist type that names no form: an ASX type holds an
    // ASX document, so only the others are taken on the type's word.
    const std::optional<PlaylistForm> byType = formOfMediaType(mediaType);
    if (byType && *byType != PlaylistForm::Asx && isUtf8(text)) {
        // Audio under a playlist's type shows a byte no text has soon enough.
        return complete ? playlist(*byType) : Result{Verdict::NeedMore, std::nullopt};
    }
    return notPlaylist();
}

}  // namespace korvanel
