#include "settings/settings_file.h"

#include <vector>

#include "settings/text_encoding.h"

namespace korvanel {
namespace {

bool isNameStart(unsigned char c) {
    // Bytes above 127 belong to non-ASCII letters, which XML names allow.
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

bool isNameChar(unsigned char c) {
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// Whether the name can be written in the file's encoding: an ISO-8859-1
// file holds characters above U+00FF only as references, which a name
// cannot be made of.
bool isWritableName(std::string_view name, bool latin1) {
    return isXmlName(name) && !(latin1 && utf8ToLatin1WithReferences(name).find('&') != std::string::npos);
}

// The key's components, or nothing when one of them is not a valid name.
std::vector<std::string_view> keyComponents(std::string_view key, bool latin1) {
    std::vector<std::string_view> components;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = key.find('/', start);
        const std::string_view component =
            key.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (!isWritableName(component, latin1)) {
            return {};
        }
        components.push_back(component);
        if (slash == std::string_view::npos) {
            return components;
        }
        start = slash + 1;
    }
}

void walkValues(const XmlElement& element, std::string& prefix, const SettingVisitor& visit) {
    for (const auto& child : element.children()) {
        if (child->childCount() > 0) {
            const std::size_t keep = prefix.size();
            prefix += child->name();
            prefix += '/';
            walkValues(*child, prefix, visit);
            prefix.resize(keep);
            continue;
        }
        const std::string* typeName = child->findAttribute("type");
        const SettingType type =
            typeName ? SettingsStore::typeFromName(*typeName) : SettingType::String;
        visit(prefix + child->name(), type, child->contents().value_or(std::string()));
    }
}

}  // namespace

std::string escapeSettingText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '\t': out += "&#9;"; break;
            case '\n': out += "&#10;"; break;
            case '\r': out += "&#13;"; break;
            case '"': out += "&quot;"; break;
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            default: out += c; break;
        }
    }
    return out;
}

bool isXmlName(std::string_view text) {
    if (text.empty() || !isNameStart(static_cast<unsigned char>(text.front()))) {
        return false;
    }
    for (const char c : text) {
        if (!isNameChar(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    // Names beginning with "xml" in any case are reserved.
    return !(text.size() >= 3 && (text[0] | 0x20) == 'x' && (text[1] | 0x20) == 'm' &&
             (text[2] | 0x20) == 'l');
}

std::unique_ptr<XmlDocument> buildSettingsDocument(
    const std::map<std::string, SettingEntry, std::less<>>& entries,
    const SettingsIdentity& identity, const std::string& encoding, const std::string& xmlVersion) {
    auto document = std::make_unique<XmlDocument>();
    document->version = xmlVersion;
    document->encoding = encoding;
    document->standalone = 1;
    // A root name from a loaded file is written back; one that is not a name
    // would make the file unreadable.
    const bool latin1 = isLatin1Encoding(encoding);
    XmlElement& root =
        document->setRoot(isWritableName(identity.rootName, latin1) ? identity.rootName : "Settings");
    // Attribute values are escaped too: a target read from a file may hold a
    // quote, which written raw would break the file.
    root.setAttribute("target", escapeSettingText(identity.target));
    root.setAttribute("version", escapeSettingText(identity.version));

    for (const auto& [key, entry] : entries) {
        const std::vector<std::string_view> components = keyComponents(key, latin1);
        if (components.empty()) {
            continue;
        }
        XmlElement* parent = &root;
        for (std::size_t i = 0; i + 1 < components.size(); ++i) {
            XmlElement* group = parent->findChild(components[i]);
            parent = group ? group : &parent->addChild(components[i]);
        }
        XmlElement& value = parent->addChild(components.back());
        value.setContents(escapeSettingText(entry.text));
        value.setAttribute("type", SettingsStore::typeName(entry.type));
    }
    return document;
}

ReadIdentity readSettingsDocument(const XmlDocument& document, const SettingVisitor& visit) {
    ReadIdentity identity;
    const XmlElement* root = document.root();
    if (root == nullptr) {
        return identity;
    }
    identity.rootName = root->name();
    if (const std::string* target = root->findAttribute("target")) {
        identity.target = *target;
    }
    if (const std::string* version = root->findAttribute("version")) {
        identity.version = *version;
    }
    std::string prefix;
    walkValues(*root, prefix, visit);
    return identity;
}

}  // namespace korvanel
