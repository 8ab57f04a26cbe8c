#include "settings/text_encoding.h"

#include <cstdint>
#include <cstdio>

namespace korvanel {
namespace {

constexpr char32_t kInvalid = 0xFFFFFFFF;

// Decodes one UTF-8 sequence at text[pos]; advances pos. Returns kInvalid
// (and advances by one byte) for anything that is not well-formed UTF-8.
char32_t decodeOne(std::string_view text, std::size_t& pos) {
    const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byteAt(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    int length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, cp = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, cp = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, cp = lead & 0x07, minimum = 0x10000;
    } else {
        ++pos;
        return kInvalid;
    }
    if (pos + length > text.size()) {
        ++pos;
        return kInvalid;
    }
    for (int i = 1; i < length; ++i) {
        const unsigned char next = byteAt(pos + i);
        if ((next & 0xC0) != 0x80) {
            ++pos;
            return kInvalid;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return kInvalid;
    }
    pos += length;
    return cp;
}

bool xmlCanHold(char32_t cp) {
    if (cp < 0x20) {
        return cp == '\t' || cp == '\n' || cp == '\r';
    }
    return cp != 0xFFFE && cp != 0xFFFF;
}

}  // namespace

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool isValidUtf8(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (decodeOne(text, pos) == kInvalid) {
            return false;
        }
    }
    return true;
}

std::string latin1ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        appendUtf8(out, static_cast<unsigned char>(c));
    }
    return out;
}

std::string toUtf8(std::string_view text) {
    return isValidUtf8(text) ? std::string(text) : latin1ToUtf8(text);
}

std::string utf8ToLatin1WithReferences(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    appendUtf8AsLatin1WithReferences(out, text);
    return out;
}

void appendUtf8AsLatin1WithReferences(std::string& out, std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = pos;
        char32_t cp = decodeOne(text, pos);
        if (cp == kInvalid) {
            cp = static_cast<unsigned char>(text[start]);
        }
        if (!xmlCanHold(cp)) {
            continue;
        }
        if (cp <= 0xFF) {
            out += static_cast<char>(static_cast<unsigned char>(cp));
        } else {
            char reference[16];
            std::snprintf(reference, sizeof reference, "&#x%X;", static_cast<unsigned>(cp));
            out += reference;
        }
    }
}

std::string withoutXmlForbiddenCharacters(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    appendWithoutXmlForbiddenCharacters(out, text);
    return out;
}

void appendWithoutXmlForbiddenCharacters(std::string& out, std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 || byte == '\t' || byte == '\n' || byte == '\r') {
            out += c;
        }
    }
}

std::string_view truncateUtf8(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return text;
    }
    std::size_t cut = maxBytes;
    // Step back over continuation bytes to the start of the cut sequence: at
    // most three, as no sequence is longer than four bytes. Stray ones in
    // text that is not UTF-8 must not take the whole text with them.
    while (cut > 0 && maxBytes - cut < 3 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return text.substr(0, cut);
}

}  // namespace korvanel
