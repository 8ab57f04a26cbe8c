#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "settings/settings_store.h"
#include "settings/xml_document.h"

namespace korvanel {

// The settings file: each key becomes a chain of nested elements, the type
// a `type` attribute and the escaped text the element's contents.

// Tab, line feed, carriage return, '"', '&', '<' and '>' as references.
std::string escapeSettingText(std::string_view text);

// Whether the text can stand as an XML element or attribute name.
bool isXmlName(std::string_view text);

struct SettingsIdentity {
    std::string rootName;
    std::string target;
    std::string version;
};

// Builds the document that save writes. Entries whose key cannot be written
// as element names in that encoding (in ISO-8859-1, names with characters
// above U+00FF) are left out, so one odd key never makes the whole file
// unreadable; a root name that cannot be written becomes "Settings".
std::unique_ptr<XmlDocument> buildSettingsDocument(
    const std::map<std::string, SettingEntry, std::less<>>& entries,
    const SettingsIdentity& identity, const std::string& encoding, const std::string& xmlVersion);

// Walks a parsed settings document: the identity from the root, then every
// value element as (key, type, text) in document order.
// The target and version are absent when the root has no such attribute.
struct ReadIdentity {
    std::string rootName;
    std::optional<std::string> target;
    std::optional<std::string> version;
};
using SettingVisitor = std::function<void(std::string key, SettingType type, std::string text)>;
ReadIdentity readSettingsDocument(const XmlDocument& document, const SettingVisitor& visit);

}  // namespace korvanel
