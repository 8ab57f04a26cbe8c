#include "stations/favorites_editor.h"

#include <expat.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "base/ascii_text.h"
#include "base/file_util.h"
#include "settings/text_encoding.h"
#include "stations/station_list.h"

namespace korvanel {

namespace {

struct ExpatDeleter {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};

// An element stations can go into: its start tag and where its end tag
// begins (an empty element has no end tag: endAt is its start).
struct Target {
    long startAt = -1;
    int startBytes = 0;
    long endAt = -1;
    bool empty = false;
    int depth = 0;
};

// Where the new stations go and which sources the file has, found in one
// pass over the file.
struct Scan {
    XML_Parser parser = nullptr;
    std::string group;
    std::string encoding;
    int depth = 0;
    bool inSource = false;
    std::string sourceText;
    std::unordered_set<std::string> sources;
    Target root;
    Target chosenGroup;
};

void mark(Target& target, const Scan& scan) {
    target.startAt = XML_GetCurrentByteIndex(scan.parser);
    target.startBytes = XML_GetCurrentByteCount(scan.parser);
    target.depth = scan.depth;
}

void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attributes) {
    Scan& scan = *static_cast<Scan*>(data);
    ++scan.depth;
    const std::string_view element = name;
    if (scan.depth == 1) {
        mark(scan.root, scan);
    } else if (!scan.group.empty() && scan.chosenGroup.startAt < 0 && element == "Group") {
        for (int i = 0; attributes[i] != nullptr; i += 2) {
            if (std::string_view(attributes[i]) == "title" && attributes[i + 1] == scan.group) {
                mark(scan.chosenGroup, scan);
            }
        }
    }
    if (element == "Source") {
        scan.inSource = true;
        scan.sourceText.clear();
    }
}

void closeAt(Target& target, const Scan& scan) {
    if (target.depth == scan.depth && target.startAt >= 0 && target.endAt < 0) {
        target.endAt = XML_GetCurrentByteIndex(scan.parser);
        // An empty element's end comes with no bytes of its own.
        target.empty = XML_GetCurrentByteCount(scan.parser) == 0;
    }
}

void XMLCALL onEnd(void* data, const XML_Char* name) {
    Scan& scan = *static_cast<Scan*>(data);
    if (scan.inSource && std::string_view(name) == "Source") {
        scan.sources.emplace(trimmedAscii(scan.sourceText));
        scan.inSource = false;
    }
    closeAt(scan.root, scan);
    closeAt(scan.chosenGroup, scan);
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

// The file as read and scanned, in the encoding new text is written in.
struct ListFile {
    std::string text;
    Scan scan;
    bool latin1 = false;
};

FavoriteAddResult readListFile(const std::string& path, const std::string& group, ListFile& list) {
    std::optional<std::string> read = readWholeFile(path, StationList::kMaxFileBytes);
    if (!read) {
        return FavoriteAddResult::NotAList;
    }
    list.text = std::move(*read);
    Scan& scan = list.scan;
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
    const bool parsed =
        XML_Parse(parser.get(), list.text.data(), static_cast<int>(list.text.size()), XML_TRUE) == XML_STATUS_OK;
    scan.parser = nullptr;
    if (!parsed) {
        return FavoriteAddResult::NotAList;
    }
    const std::string encoding = upper(scan.encoding);
    list.latin1 = encoding == "ISO-8859-1" || encoding == "LATIN1" || encoding == "US-ASCII";
    if (!list.latin1 && !encoding.empty() && encoding != "UTF-8") {
        return FavoriteAddResult::NotAList;  // a file in UTF-16 or the like is left alone
    }
    if (scan.root.startAt < 0 || scan.root.endAt < 0) {
        return FavoriteAddResult::NotAList;
    }
    return FavoriteAddResult::Added;
}

// The changed file, written in pieces as they are made, so a large import
// never holds the whole file in memory; it replaces the list only when it
// stays within what the program reads.
class ChangedFile {
public:
    explicit ChangedFile(const std::string& path) : file_(path) {}

    std::string& text() { return pending_; }
    // Passes on what text() holds once there is enough of it.
    void spill() {
        if (pending_.size() >= kSpillBytes) {
            pass();
        }
    }
    FavoriteAddResult commit() {
        pass();
        if (total_ > StationList::kMaxFileBytes) {
            // A list the program could no longer read would lose every station.
            return FavoriteAddResult::TooLarge;
        }
        return file_.commit() ? FavoriteAddResult::Added : FavoriteAddResult::WriteFailed;
    }

private:
    static constexpr std::size_t kSpillBytes = 256 * 1024;

    void pass() {
        total_ += pending_.size();
        if (total_ <= StationList::kMaxFileBytes) {
            file_.append(pending_);
        }
        pending_.clear();
    }

    AtomicFileWriter file_;
    std::string pending_;
    std::size_t total_ = 0;
};

using EntryText = std::function<void(ChangedFile& out)>;

// Writes the file with the lines entry gives (indented for inside target)
// at the end of target.
FavoriteAddResult insertAtEnd(const ListFile& list, const Target& target, const EntryText& entry,
                              const std::string& newline, ChangedFile& changed) {
    const std::string& file = list.text;
    const std::string outer(static_cast<std::size_t>(target.depth - 1) * 3, ' ');
    const auto endAt = static_cast<std::size_t>(target.endAt);
    std::string& out = changed.text();
    const auto rest = [&](std::size_t from) {
        changed.spill();
        out.append(std::string_view(file).substr(from));
    };
    if (target.empty) {
        // "<Favorites/>" becomes "<Favorites>", the station, "</Favorites>".
        const auto startAt = static_cast<std::size_t>(target.startAt);
        const std::string tag = file.substr(startAt, static_cast<std::size_t>(target.startBytes));
        const std::size_t slash = tag.rfind("/>");
        const std::size_t nameEnd = tag.find_first_of(" \t\r\n/>", 1);
        if (slash == std::string::npos || nameEnd == std::string::npos) {
            return FavoriteAddResult::NotAList;
        }
        out.append(file, 0, startAt).append(tag, 0, slash).append(">").append(newline);
        entry(changed);
        out.append(outer).append("</").append(tag, 1, nameEnd - 1).append(">");
        rest(startAt + tag.size());
    } else {
        // Before the end tag's line when it stands alone on it, else right
        // before the tag on a line of its own.
        std::size_t lineStart = endAt;
        while (lineStart > 0 && (file[lineStart - 1] == ' ' || file[lineStart - 1] == '\t')) {
            --lineStart;
        }
        if (lineStart > 0 && file[lineStart - 1] == '\n') {
            out.append(file, 0, lineStart);
            entry(changed);
            rest(lineStart);
        } else {
            out.append(file, 0, endAt).append(newline);
            entry(changed);
            out.append(outer);
            rest(endAt);
        }
    }
    return changed.commit();
}

class EntryWriter {
public:
    EntryWriter(const ListFile& list, std::string newline) : latin1_(list.latin1), newline_(std::move(newline)) {}

    const std::string& newline() const { return newline_; }

    void station(std::string& out, const FavoriteStation& station, int depth) const {
        const std::string inner(static_cast<std::size_t>(depth) * 3, ' ');
        out.append(inner).append("<Station title=\"").append(encode(station.title)).append("\" url=\"");
        out.append(encode(station.url)).append("\">").append(newline_);
        for (const std::string& source : station.sources) {
            out.append(inner).append("   <Source>").append(encode(std::string(trimmedAscii(source)))).append("</Source>");
            out.append(newline_);
        }
        out.append(inner).append("</Station>").append(newline_);
    }

    std::string encode(const std::string& text) const {
        return latin1_ ? utf8ToLatin1WithReferences(escaped(text)) : escaped(text);
    }

private:
    bool latin1_;
    std::string newline_;
};

std::string newlineOf(const std::string& file) { return file.find("\r\n") != std::string::npos ? "\r\n" : "\n"; }

}  // namespace

FavoriteAddResult addFavorite(const std::string& path, const FavoriteStation& station, const std::string& group) {
    ListFile list;
    const FavoriteAddResult read = readListFile(path, group, list);
    if (read != FavoriteAddResult::Added || station.sources.empty()) {
        return FavoriteAddResult::NotAList;
    }
    for (const std::string& source : station.sources) {
        if (list.scan.sources.count(std::string(trimmedAscii(source))) > 0) {
            return FavoriteAddResult::AlreadyThere;
        }
    }
    const Target& target = group.empty() ? list.scan.root : list.scan.chosenGroup;
    if (!group.empty() && target.startAt < 0) {
        return FavoriteAddResult::NoSuchGroup;
    }
    if (target.endAt < 0) {
        return FavoriteAddResult::NotAList;
    }
    const EntryWriter writer(list, newlineOf(list.text));
    ChangedFile changed(path);
    return insertAtEnd(
        list, target, [&](ChangedFile& out) { writer.station(out.text(), station, target.depth); }, writer.newline(),
        changed);
}

FavoritesImport addFavorites(const std::string& path, const std::vector<FavoriteStation>& stations,
                             const std::string& group) {
    FavoritesImport outcome;
    ListFile list;
    outcome.result = readListFile(path, group, list);
    if (outcome.result != FavoriteAddResult::Added) {
        return outcome;
    }
    std::unordered_set<std::string>& known = list.scan.sources;
    const Target& chosen = list.scan.chosenGroup;
    const bool newGroup = !group.empty() && chosen.startAt < 0;
    const Target& target = group.empty() || newGroup ? list.scan.root : chosen;
    if (target.endAt < 0) {
        outcome.result = FavoriteAddResult::NotAList;
        return outcome;
    }
    // The new ones, in order, each with none of its sources known before.
    std::vector<const FavoriteStation*> fresh;
    std::unordered_set<std::string_view> added;
    const auto isKnown = [&](const std::string& source) {
        const std::string_view trimmedSource = trimmedAscii(source);
        return known.count(std::string(trimmedSource)) > 0 || added.count(trimmedSource) > 0;
    };
    for (const FavoriteStation& station : stations) {
        if (station.sources.empty() || std::any_of(station.sources.begin(), station.sources.end(), isKnown)) {
            ++outcome.alreadyThere;
            continue;
        }
        for (const std::string& source : station.sources) {
            added.insert(trimmedAscii(source));
        }
        fresh.push_back(&station);
    }
    outcome.added = fresh.size();
    if (fresh.empty()) {
        outcome.result = FavoriteAddResult::AlreadyThere;
        return outcome;
    }
    const EntryWriter writer(list, newlineOf(list.text));
    const int depth = target.depth + (newGroup ? 1 : 0);
    const auto entries = [&](ChangedFile& changed) {
        std::string& out = changed.text();
        const std::string inner(static_cast<std::size_t>(target.depth) * 3, ' ');
        if (newGroup) {
            out.append(inner).append("<Group title=\"").append(writer.encode(group)).append("\">");
            out.append(writer.newline());
        }
        for (const FavoriteStation* station : fresh) {
            writer.station(out, *station, depth);
            changed.spill();
        }
        if (newGroup) {
            out.append(inner).append("</Group>").append(writer.newline());
        }
    };
    ChangedFile changed(path);
    outcome.result = insertAtEnd(list, target, entries, writer.newline(), changed);
    if (outcome.result != FavoriteAddResult::Added) {
        outcome.added = 0;
    }
    return outcome;
}

}  // namespace korvanel
