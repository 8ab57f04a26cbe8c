#include "audio/engine/id3_tag.h"

#include <string_view>
#include <vector>

#include "base/ascii_text.h"
#include "settings/text_encoding.h"

namespace korvanel::id3 {
namespace {

constexpr std::uint8_t kFlagUnsynchronised = 0x80;
constexpr std::uint8_t kFlagExtendedHeader = 0x40;
constexpr std::uint8_t kFlagFooter = 0x10;

std::uint32_t syncSafe(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} & 0x7F) << 21 | (std::uint32_t{bytes[1]} & 0x7F) << 14 |
           (std::uint32_t{bytes[2]} & 0x7F) << 7 | (std::uint32_t{bytes[3]} & 0x7F);
}

std::uint32_t bigEndian(const std::uint8_t* bytes, std::size_t count) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        value = value << 8 | bytes[i];
    }
    return value;
}

// UTF-16 code units to UTF-8, up to the first NUL; lone surrogates become
// U+FFFD.
std::string utf16ToUtf8(std::span<const std::uint8_t> bytes, bool bigEndianOrder) {
    std::string out;
    char32_t pendingHigh = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char32_t unit = bigEndianOrder ? char32_t(bytes[i] << 8 | bytes[i + 1])
                                             : char32_t(bytes[i + 1] << 8 | bytes[i]);
        if (unit == 0) {
            break;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (pendingHigh != 0) {
                appendUtf8(out, 0xFFFD);
            }
            pendingHigh = unit;
            continue;
        }
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
            appendUtf8(out, pendingHigh != 0 ? 0x10000 + ((pendingHigh - 0xD800) << 10) + (unit - 0xDC00) : 0xFFFD);
            pendingHigh = 0;
            continue;
        }
        if (pendingHigh != 0) {
            appendUtf8(out, 0xFFFD);
            pendingHigh = 0;
        }
        appendUtf8(out, unit);
    }
    if (pendingHigh != 0) {
        appendUtf8(out, 0xFFFD);
    }
    return out;
}

// A text frame's first string as UTF-8.
std::string frameText(std::span<const std::uint8_t> body) {
    if (body.empty()) {
        return "";
    }
    const std::uint8_t encoding = body[0];
    body = body.subspan(1);
    switch (encoding) {
        case 1: {  // UTF-16 with a byte order mark (little-endian without one)
            bool big = false;
            if (body.size() >= 2 && ((body[0] == 0xFE && body[1] == 0xFF) || (body[0] == 0xFF && body[1] == 0xFE))) {
                big = body[0] == 0xFE;
                body = body.subspan(2);
            }
            return utf16ToUtf8(body, big);
        }
        case 2: return utf16ToUtf8(body, true);
        default: {
            std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());
            text = text.substr(0, text.find('\0'));
            // 3 is UTF-8; anything else is read as ISO-8859-1, as version 2.2 and 2.3 define it.
            return encoding == 3 ? toUtf8(text) : latin1ToUtf8(text);
        }
    }
}

}  // namespace

std::optional<std::size_t> tagLength(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kHeaderBytes || bytes[0] != 'I' || bytes[1] != 'D' || bytes[2] != '3' || bytes[3] == 0xFF ||
        bytes[4] == 0xFF || (bytes[6] | bytes[7] | bytes[8] | bytes[9]) & 0x80) {
        return std::nullopt;
    }
    const std::size_t footer = (bytes[5] & kFlagFooter) != 0 ? kHeaderBytes : 0;
    return kHeaderBytes + syncSafe(bytes.data() + 6) + footer;
}

std::optional<Names> names(std::span<const std::uint8_t> tag) {
    const std::optional<std::size_t> length = tagLength(tag);
    if (!length || *length > tag.size()) {
        return std::nullopt;
    }
    const std::uint8_t version = tag[3];
    const std::uint8_t flags = tag[5];
    if (version < 2 || version > 4) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> body(tag.begin() + kHeaderBytes,
                                   tag.begin() + static_cast<std::ptrdiff_t>(*length - ((flags & kFlagFooter) ? kHeaderBytes : 0)));
    if ((flags & kFlagUnsynchronised) != 0) {
        // Every 0xFF 0x00 was written for a 0xFF.
        std::vector<std::uint8_t> undone;
        undone.reserve(body.size());
        for (std::size_t i = 0; i < body.size(); ++i) {
            undone.push_back(body[i]);
            if (body[i] == 0xFF && i + 1 < body.size() && body[i + 1] == 0x00) {
                ++i;
            }
        }
        body = std::move(undone);
    }
    std::size_t at = 0;
    if ((flags & kFlagExtendedHeader) != 0 && version >= 3 && body.size() >= 4) {
        // Version 2.3 counts the size field out, 2.4 counts it in.
        const std::size_t extended = version == 4 ? syncSafe(body.data()) : bigEndian(body.data(), 4) + 4;
        at = extended;
    }
    const std::size_t idBytes = version == 2 ? 3 : 4;
    const std::size_t headBytes = version == 2 ? 6 : 10;
    std::string title;
    std::string artist;
    std::string station;
    while (at + headBytes <= body.size() && body[at] != 0) {
        const std::uint8_t* head = body.data() + at;
        const std::string_view id(reinterpret_cast<const char*>(head), idBytes);
        const std::size_t size = version == 2 ? bigEndian(head + 3, 3)
                                 : version == 4 ? syncSafe(head + 4)
                                                : bigEndian(head + 4, 4);
        if (size > body.size() - at - headBytes) {
            break;
        }
        const std::span<const std::uint8_t> frame(head + headBytes, size);
        if (id == "TIT2" || id == "TT2") {
            title = std::string(trimmedAscii(frameText(frame)));
        } else if (id == "TPE1" || id == "TP1") {
            artist = std::string(trimmedAscii(frameText(frame)));
        } else if (id == "TRSN" || id == "TRN") {
            station = std::string(trimmedAscii(frameText(frame)));
        }
        at += headBytes + size;
    }
    if (title.empty() && artist.empty() && station.empty()) {
        return std::nullopt;
    }
    return Names{!title.empty() && !artist.empty() ? artist + " - " + title : title.empty() ? artist : title,
                 std::move(station)};
}

}  // namespace korvanel::id3
