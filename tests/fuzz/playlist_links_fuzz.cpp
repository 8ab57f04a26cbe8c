// Playlist bytes to links: the 16-bit text detection and conversion, the
// sniffing of a download's form, the entries of its form, then the link
// scraper. Checked: converted text is valid UTF-8 without zero characters,
// unconverted text is the bytes up to the first zero; sniffing ends within
// its bound and a first read's decision holds for the whole; entries stay
// bounded; the scraper finds exactly what a plain scan of the text finds,
// within its bounds.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "settings/text_encoding.h"
#include "stream/link_scraper.h"
#include "stream/playlist_entries.h"
#include "stream/playlist_sniffer.h"
#include "stream/playlist_text.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using korvanel::PlaylistText;

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// The scraper's rule, written as plainly as possible: links that begin with
// any of the schemes, in text order.
void plainScan(std::string_view text, std::vector<std::string_view> schemes, std::string_view delimiters,
               bool dropPages, std::vector<std::string>& links) {
    for (std::size_t at = 0; at < text.size(); ++at) {
        bool starts = false;
        for (const std::string_view scheme : schemes) {
            starts = starts || text.substr(at, scheme.size()) == scheme;
        }
        if (!starts) {
            continue;
        }
        if (links.size() >= korvanel::kMaxScrapedLinks) {
            return;
        }
        std::size_t end = at;
        while (end < text.size() && delimiters.find(text[end]) == std::string_view::npos) {
            ++end;
        }
        const std::string_view link = text.substr(at, end - at);
        bool dropped = link.size() > korvanel::kMaxScrapedLinkBytes;
        for (std::string_view suffix : {".htm", ".html", ".gif", ".jpg", ".php", ".asp"}) {
            dropped = dropped || (dropPages && endsWith(link, suffix));
        }
        if (!dropped) {
            links.emplace_back(link);
        }
    }
}

void checkDecode(std::string_view bytes) {
    const std::string text = PlaylistText::decode(bytes);
    const bool sixteenBit = PlaylistText::hasReversedByteOrderMark(bytes) || PlaylistText::looksLikeAscii16(bytes) ||
                            PlaylistText::hasByteOrderMark(bytes) || PlaylistText::hasZeroBytes(bytes);
    if (sixteenBit) {
        FUZZ_CHECK(korvanel::isValidUtf8(text));
        FUZZ_CHECK(text.find('\0') == std::string::npos);
    } else {
        FUZZ_CHECK(text == bytes.substr(0, bytes.find('\0')));
    }
    for (const auto order : {PlaylistText::ByteOrder::LittleEndian, PlaylistText::ByteOrder::BigEndian}) {
        const std::string converted = PlaylistText::utf16ToUtf8(bytes, order);
        FUZZ_CHECK(korvanel::isValidUtf8(converted));
        FUZZ_CHECK(converted.find('\0') == std::string::npos);
        // At most 3 bytes of UTF-8 for each 16-bit unit.
        FUZZ_CHECK(converted.size() <= bytes.size() / 2 * 3);
    }
}

void checkLinks(std::string_view text) {
    const std::vector<std::string> links = korvanel::scrapeLinks(text);
    std::vector<std::string> expected;
    plainScan(text, {"http://", "https://"}, " \t\r\n\"'<>", true, expected);
    plainScan(text, {"mms://"}, " \t\r\n\"<>", false, expected);
    FUZZ_CHECK(links.size() <= korvanel::kMaxScrapedLinks);
    FUZZ_CHECK(links == expected);
}

void checkSniffing(std::string_view bytes) {
    using korvanel::PlaylistSniffer;
    using Verdict = PlaylistSniffer::Verdict;
    const PlaylistSniffer::Result whole = PlaylistSniffer::sniff("", bytes, true);
    FUZZ_CHECK(whole.verdict != Verdict::NeedMore);
    FUZZ_CHECK(whole.form.has_value() == (whole.verdict == Verdict::Playlist));
    // The engine decides on the first bytes, the resolver on all of them:
    // once a first read has decided, the rest cannot change the answer.
    for (const std::size_t length : {std::size_t{1}, std::size_t{16}, std::size_t{200}, bytes.size() / 2}) {
        if (length >= bytes.size()) {
            continue;
        }
        const PlaylistSniffer::Result first = PlaylistSniffer::sniff("", bytes.substr(0, length), false);
        if (first.verdict != Verdict::NeedMore) {
            FUZZ_CHECK(first.verdict == whole.verdict);
            FUZZ_CHECK(first.form == whole.form);
        }
    }
    if (bytes.size() >= PlaylistSniffer::kDecisiveBytes) {
        FUZZ_CHECK(PlaylistSniffer::sniff("", bytes, false).verdict != Verdict::NeedMore);
    }

    const std::string text = PlaylistText::decode(bytes);
    for (const auto form : {korvanel::PlaylistForm::M3u, korvanel::PlaylistForm::Xspf}) {
        const std::string links = korvanel::playlistLinkText(text, form, "http://h.example/a/b/list");
        // Each entry grows by at most the base address it is made absolute with.
        FUZZ_CHECK(links.size() <= text.size() + 1 + korvanel::kMaxScrapedLinks * (korvanel::kMaxScrapedLinkBytes + 64));
        checkLinks(links);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    checkDecode(bytes);
    checkLinks(PlaylistText::decode(bytes));
    checkLinks(bytes);
    checkSniffing(bytes);
    return 0;
}
