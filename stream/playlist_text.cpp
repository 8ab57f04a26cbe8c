#include "stream/playlist_text.h"

#include <algorithm>
#include <cstdint>

namespace korvanel {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kByteOrderMark = 0xFEFF;

std::size_t probedUnits(std::string_view bytes) { return std::min(bytes.size() / 2, PlaylistText::kProbeUnits); }

char16_t unitAt(std::string_view bytes, std::size_t index, PlaylistText::ByteOrder order) {
    const auto first = static_cast<unsigned char>(bytes[2 * index]);
    const auto second = static_cast<unsigned char>(bytes[2 * index + 1]);
    return order == PlaylistText::ByteOrder::LittleEndian ? static_cast<char16_t>(first | (second << 8))
                                                          : static_cast<char16_t>((first << 8) | second);
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

bool PlaylistText::looksLikeAscii16(std::string_view bytes) {
    const std::size_t units = probedUnits(bytes);
    std::size_t ascii = 0;
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t unit = unitAt(bytes, i, ByteOrder::LittleEndian);
        if (unit == 0) {
            break;
        }
        if (unit >= 0x80) {
            return false;
        }
        ++ascii;
    }
    return ascii > 0;
}

bool PlaylistText::ascii16IsSettled(std::string_view bytes) {
    const std::size_t units = probedUnits(bytes);
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t unit = unitAt(bytes, i, ByteOrder::LittleEndian);
        if (unit == 0 || unit >= 0x80) {
            return true;
        }
    }
    return units == kProbeUnits;
}

bool PlaylistText::hasByteOrderMark(std::string_view bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
           static_cast<unsigned char>(bytes[1]) == 0xFE;
}

bool PlaylistText::hasReversedByteOrderMark(std::string_view bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
           static_cast<unsigned char>(bytes[1]) == 0xFF;
}

bool PlaylistText::hasZeroBytes(std::string_view bytes) {
    return bytes.substr(0, 2 * kProbeUnits).find('\0') != std::string_view::npos;
}

std::string PlaylistText::decode(std::string_view bytes) {
    if (hasReversedByteOrderMark(bytes)) {
        return utf16ToUtf8(bytes, ByteOrder::BigEndian);
    }
    if (looksLikeAscii16(bytes) || hasByteOrderMark(bytes) || hasZeroBytes(bytes)) {
        return utf16ToUtf8(bytes, ByteOrder::LittleEndian);
    }
    return std::string(bytes.substr(0, bytes.find('\0')));
}

std::string PlaylistText::utf16ToUtf8(std::string_view bytes, ByteOrder order) {
    const std::size_t units = bytes.size() / 2;
    std::string out;
    out.reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t unit = unitAt(bytes, i, order);
        if (unit == 0) {
            break;
        }
        if (i == 0 && unit == kByteOrderMark) {
            continue;
        }
        if (isHighSurrogate(unit) && i + 1 < units && isLowSurrogate(unitAt(bytes, i + 1, order))) {
            const char16_t low = unitAt(bytes, ++i, order);
            appendUtf8(out, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (low - 0xDC00));
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            appendUtf8(out, kReplacement);
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

}  // namespace korvanel
