#include "stations/favorites_editor.h"

#include <expat.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "base/file_util.h"
#include "settings/text_encoding.h"
#include "stations/station_list.h"

namespace korvanel {

namespace {

struct ExpatDeleter {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};

// Where the new station goes, found in one pass over the file.
struct Scan {
    XML_Parser parser = nullptr;
    std::string group;
    std::string encoding;
    int depth = 0;
    bool inSource = false;
    std::string sourceText;
    std::vector<std::string> sources;
    int groupDepth = -1;  // depth of the chosen group while inside it
    bool groupFound = false;
    // The element the station goes into: its start tag and where its end
    // tag begins (an empty element has no end tag: endAt is its start).
    long startAt = -1;
    int startBytes = 0;
    long endAt = -1;
    bool empty = false;
    int targetDepth = 0;
};

std::string trimmed(const std::string& text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    const auto first = std::find_if_not(text.begin(), text.end(), blank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), blank).base();
    return first < last ? std::string(first, last) : std::string();
}

void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attributes) {
    Scan& scan = *static_cast<Scan*>(data);
    ++scan.depth;
    const std::string element = name;
    const bool isRoot = scan.depth == 1;
    bool isGroup = false;
    if (!scan.group.empty() && !scan.groupFound && element == "Group") {
        for (int i = 0; attributes[i] != nullptr; i += 2) {
            if (std::string(attributes[i]) == "title" && attributes[i + 1] == scan.group) {
                isGroup = true;
            }
        }
    }
    if ((isRoot && scan.group.empty()) || isGroup) {
        scan.startAt = XML_GetCurrentByteIndex(scan.parser);
        scan.startBytes = XML_GetCurrentByteCount(scan.parser);
        scan.targetDepth = scan.depth;
        if (isGroup) {
            scan.groupDepth = scan.depth;
            scan.groupFound = true;
        }
    }
    if (element == "Source") {
        scan.inSource = true;
        scan.sourceText.clear();
    }
}

void XMLCALL onEnd(void* data, const XML_Char* name) {
    Scan& scan = *static_cast<Scan*>(data);
    if (scan.inSource && std::string(name) == "Source") {
        scan.sources.push_back(trimmed(scan.sourceText));
        scan.inSource = false;
    }
    if (scan.depth == scan.targetDepth && scan.startAt >= 0 && scan.endAt < 0) {
        scan.endAt = XML_GetCurrentByteIndex(scan.parser);
        // An empty element's end comes with no bytes of its own.
        scan.empty = XML_GetCurrentByteCount(scan.parser) == 0;
    }
    --scan.depth;
}

void XMLCALL onText(void* data, const XML_Char* text, int length) {
    Scan& scan = *static_cast<Scan*>(data);
    if (scan.inSource && scan.sourceText.size() < 65536) {
        scan.sourceText.append(text, static_cast<std::size_t>(length));
    }
}

void XMLCALL onDeclaration(void* data, const XML_Char*, const XML_Char* encoding, int) {
    static_cast<Scan*>(data)->encoding = encoding != nullptr ? encoding : "";
}

std::string escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default:
                // No control characters: XML cannot hold them and no address has them.
                if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') {
                    out += c;
                }
        }
    }
    return out;
}

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    return text;
}

}  // namespace

FavoriteAddResult addFavorite(const std::string& path, const FavoriteStation& station, const std::string& group) {
    const std::optional<std::string> read = readWholeFile(path, StationList::kMaxFileBytes);
    if (!read || station.sources.empty()) {
        return FavoriteAddResult::NotAList;
    }
    const std::string& file = *read;
    Scan scan;
    scan.group = group;
    const std::unique_ptr<XML_ParserStruct, ExpatDeleter> parser(XML_ParserCreate(nullptr));
    if (!parser) {
        return FavoriteAddResult::NotAList;
    }
    scan.parser = parser.get();
    XML_SetUserData(parser.get(), &scan);
    XML_SetElementHandler(parser.get(), onStart, onEnd);
    XML_SetCharacterDataHandler(parser.get(), onText);
    XML_SetXmlDeclHandler(parser.get(), onDeclaration);
    if (XML_Parse(parser.get(), file.data(), static_cast<int>(file.size()), XML_TRUE) != XML_STATUS_OK) {
        return FavoriteAddResult::NotAList;
    }
    const std::string encoding = upper(scan.encoding);
    const bool latin1 = encoding == "ISO-8859-1" || encoding == "LATIN1" || encoding == "US-ASCII";
    if (!latin1 && !encoding.empty() && encoding != "UTF-8") {
        return FavoriteAddResult::NotAList;  // a file in UTF-16 or the like is left alone
    }
    for (const std::string& source : station.sources) {
        if (std::find(scan.sources.begin(), scan.sources.end(), trimmed(source)) != scan.sources.end()) {
            return FavoriteAddResult::AlreadyThere;
        }
    }
    if (!group.empty() && !scan.groupFound) {
        return FavoriteAddResult::NoSuchGroup;
    }
    if (scan.startAt < 0 || scan.endAt < 0) {
        return FavoriteAddResult::NotAList;
    }

    const std::string newline = file.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    const std::string inner(static_cast<std::size_t>(scan.targetDepth) * 3, ' ');
    const std::string outer(inner.size() - 3, ' ');
    const auto encode = [&](const std::string& text) {
        return latin1 ? utf8ToLatin1WithReferences(escaped(text)) : escaped(text);
    };
    std::string entry = inner + "<Station title=\"" + encode(station.title) + "\" url=\"" + encode(station.url) + "\">" +
                        newline;
    for (const std::string& source : station.sources) {
        entry += inner + "   <Source>" + encode(trimmed(source)) + "</Source>" + newline;
    }
    entry += inner + "</Station>" + newline;

    std::string changed;
    const auto endAt = static_cast<std::size_t>(scan.endAt);
    if (scan.empty) {
        // "<Favorites/>" becomes "<Favorites>", the station, "</Favorites>".
        const auto startAt = static_cast<std::size_t>(scan.startAt);
        const std::string tag = file.substr(startAt, static_cast<std::size_t>(scan.startBytes));
        const std::size_t slash = tag.rfind("/>");
        const std::size_t nameEnd = tag.find_first_of(" \t\r\n/>", 1);
        if (slash == std::string::npos || nameEnd == std::string::npos) {
            return FavoriteAddResult::NotAList;
        }
        changed = file.substr(0, startAt) + tag.substr(0, slash) + ">" + newline + entry + outer + "</" +
                  tag.substr(1, nameEnd - 1) + ">" + file.substr(startAt + tag.size());
    } else {
        // Before the end tag's line when it stands alone on it, else right
        // before the tag on a line of its own.
        std::size_t lineStart = endAt;
        while (lineStart > 0 && (file[lineStart - 1] == ' ' || file[lineStart - 1] == '\t')) {
            --lineStart;
        }
        if (lineStart > 0 && file[lineStart - 1] == '\n') {
            changed = file.substr(0, lineStart) + entry + file.substr(lineStart);
        } else {
            changed = file.substr(0, endAt) + newline + entry + outer + file.substr(endAt);
        }
    }
    return writeFileAtomically(path, changed) ? FavoriteAddResult::Added : FavoriteAddResult::WriteFailed;
}

}  // namespace korvanel
