// The XML tree reader and the settings file: any bytes may be parsed; a tree
// keeps its depth bound and parent links; a settings file that loads is
// written again (ISO-8859-1 and UTF-8) and reads back to the same entries,
// and writing what was read back gives the same text.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "settings/settings_file.h"
#include "settings/settings_store.h"
#include "settings/xml_document.h"
#include "settings/xml_parser.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using korvanel::SettingEntry;
using korvanel::SettingsStore;
using korvanel::SettingType;
using korvanel::XmlElement;
using korvanel::XmlParser;
using Entries = std::map<std::string, SettingEntry, std::less<>>;

void checkTree(const XmlElement& element, const XmlElement* parent, int depth, int maxDepth) {
    FUZZ_CHECK(element.parent() == parent);
    FUZZ_CHECK(depth <= maxDepth);
    for (std::size_t i = 0; i < element.attributes().size(); ++i) {
        // Expat refuses repeated attributes, so each name is found at its own place.
        FUZZ_CHECK(element.findAttribute(element.attributes()[i].name) == &element.attributes()[i].value);
    }
    for (const auto& child : element.children()) {
        checkTree(*child, &element, depth + 1, maxDepth);
    }
}

void parseTree(std::string_view text, bool ignoreWhitespace, int maxDepth) {
    XmlParser parser;
    parser.setIgnoreWhitespace(ignoreWhitespace);
    parser.setMaxDepth(maxDepth);
    if (parser.parseText(text)) {
        FUZZ_CHECK(parser.document() != nullptr && parser.document()->root() != nullptr);
        checkTree(*parser.document()->root(), nullptr, 1, maxDepth);
        (void)parser.document()->toText();
    }
}

// Several documents one after another, as a preset service may send them.
void parseDocuments(std::string_view text) {
    XmlParser parser;
    int documents = 0;
    parser.setDocumentCallback([&documents](XmlParser& p) {
        FUZZ_CHECK(p.document() != nullptr && p.document()->root() != nullptr);
        checkTree(*p.document()->root(), nullptr, 1, XmlParser::kMaxDepth);
        return ++documents < 8;
    });
    (void)parser.parseText(text);
}

// Whether a name read from a file can be written again: in ISO-8859-1 only
// with characters up to U+00FF, whose UTF-8 lead bytes are below 0xC4.
bool writableName(std::string_view name, bool latin1) {
    return korvanel::isXmlName(name) &&
           !(latin1 && std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0xC4; }));
}

// A key all of whose parts can be element names; another key below a
// value's key turns that value into a group when written, so the value goes.
Entries expectedAfterRoundTrip(const Entries& loaded, bool latin1) {
    Entries kept;
    for (const auto& [key, entry] : loaded) {
        bool writable = true;
        std::size_t start = 0;
        for (;;) {
            const std::size_t slash = key.find('/', start);
            if (!writableName(std::string_view(key).substr(start, slash - start), latin1)) {
                writable = false;
            }
            if (slash == std::string::npos) {
                break;
            }
            start = slash + 1;
        }
        if (writable) {
            const SettingType type = entry.type == SettingType::Unknown ? SettingType::String : entry.type;
            kept.emplace(key, SettingEntry{type, entry.text});
        }
    }
    for (auto it = kept.begin(); it != kept.end();) {
        const auto next = kept.lower_bound(it->first + "/");
        if (next != kept.end() && next->first.starts_with(it->first + "/")) {
            it = kept.erase(it);
        } else {
            ++it;
        }
    }
    return kept;
}

bool sameEntries(const Entries& a, const Entries& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
        if (i->first != j->first || i->second.type != j->second.type || i->second.text != j->second.text) {
            return false;
        }
    }
    return true;
}

std::string settingsText(const SettingsStore& store, const std::string& encoding) {
    const korvanel::SettingsIdentity identity{store.rootName(), store.target(), store.version()};
    return korvanel::buildSettingsDocument(store.entries(), identity, encoding, "1.0")->toText();
}

void roundTrip(const SettingsStore& loaded, const std::string& encoding) {
    SettingsStore reread;
    FUZZ_CHECK(reread.loadFromText(settingsText(loaded, encoding)));
    const bool latin1 = encoding == "ISO-8859-1";
    FUZZ_CHECK(sameEntries(reread.entries(), expectedAfterRoundTrip(loaded.entries(), latin1)));
    const std::string rootName = writableName(loaded.rootName(), latin1) ? loaded.rootName() : "Settings";
    FUZZ_CHECK(reread.rootName() == rootName);
    FUZZ_CHECK(reread.target() == loaded.target());
    FUZZ_CHECK(reread.version() == loaded.version());

    // What was read back is written and read without any further change.
    const std::string written = settingsText(reread, encoding);
    SettingsStore again;
    FUZZ_CHECK(again.loadFromText(written));
    FUZZ_CHECK(sameEntries(again.entries(), reread.entries()));
    FUZZ_CHECK(settingsText(again, encoding) == written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    parseTree(text, true, XmlParser::kMaxDepth);
    parseTree(text, false, 4);
    parseDocuments(text);

    SettingsStore store;
    store.setString("Kept/IfTheLoadFails", "yes");
    if (!store.loadFromText(text)) {
        // A failed load changes nothing.
        FUZZ_CHECK(store.entries().size() == 1 && store.getString("Kept/IfTheLoadFails") == "yes");
        FUZZ_CHECK(store.rootName() == "Settings");
        return 0;
    }
    for (const auto& [key, entry] : store.entries()) {
        // The typed readers take any text.
        (void)SettingsStore::parseInt(entry.text);
        (void)SettingsStore::parseBool(entry.text);
        (void)SettingsStore::parsePoint(entry.text);
        FUZZ_CHECK(SettingsStore::parseColor(entry.text) <= 0xFFFFFFu);
    }
    roundTrip(store, "ISO-8859-1");
    roundTrip(store, "UTF-8");
    return 0;
}
