#include "settings/settings_store.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <strings.h>

#include "settings/settings_file.h"
#include "settings/xml_parser.h"

namespace korvanel {
namespace {

bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return 0;
}

std::string_view trimEnd(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' ||
                             text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

SettingsStore& SettingsStore::operator=(const SettingsStore& other) {
    if (this == &other) {
        return *this;
    }
    std::map<std::string, SettingEntry, std::less<>> entries;
    std::string rootName, target, version;
    {
        std::shared_lock<std::shared_mutex> lock(other.mutex_);
        entries = other.entries_;
        rootName = other.rootName_;
        target = other.target_;
        version = other.version_;
    }
    std::unique_lock<std::shared_mutex> lock(mutex_);
    entries_.swap(entries);
    rootName_.swap(rootName);
    target_.swap(target);
    version_.swap(version);
    return *this;
}

void SettingsStore::put(std::string_view key, SettingType type, std::string_view text) {
    std::unique_lock<std::shared_mutex> lock(mutex_);
    auto it = entries_.find(key);
    if (it == entries_.end()) {
        entries_.emplace(std::string(key), SettingEntry{type, std::string(text)});
    } else {
        it->second.type = type;
        it->second.text.assign(text);
    }
}

std::string SettingsStore::getText(std::string_view key, SettingType type) const {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    const auto it = entries_.find(key);
    if (it == entries_.end() || it->second.type != type) {
        return {};
    }
    return it->second.text;
}

bool SettingsStore::contains(std::string_view key) const {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    return entries_.find(key) != entries_.end();
}

std::map<std::string, SettingEntry, std::less<>> SettingsStore::entries() const {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    return entries_;
}

int SettingsStore::parseInt(std::string_view text) {
    // The C library's decimal conversion, clamped to int instead of overflowing.
    std::size_t pos = 0;
    while (pos < text.size() && isCSpace(text[pos])) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    long long value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        value = std::min<long long>(value * 10 + (text[pos] - '0'), 1LL << 32);
    }
    if (negative) {
        value = -value;
    }
    return static_cast<int>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

bool SettingsStore::parseBool(std::string_view text) {
    const auto isCut = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && isCut(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isCut(text.back())) {
        text.remove_suffix(1);
    }
    return (text.size() == 4 && strncasecmp(text.data(), "true", 4) == 0) || text == "1";
}

SettingsStore::Color SettingsStore::parseColor(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '#')) {
        text.remove_prefix(1);
    }
    text = trimEnd(text);
    // Missing digits of a short text count as 0.
    const auto digit = [text](std::size_t i) { return i < text.size() ? hexDigit(text[i]) : 0; };
    const Color red = static_cast<Color>(digit(0) * 16 + digit(1));
    const Color green = static_cast<Color>(digit(2) * 16 + digit(3));
    const Color blue = static_cast<Color>(digit(4) * 16 + digit(5));
    return red + green * 256 + blue * 65536;
}

SettingPoint SettingsStore::parsePoint(std::string_view text) {
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos) {
        const int both = parseInt(text);
        return {both, both};
    }
    return {parseInt(text.substr(0, comma)), parseInt(text.substr(comma + 1))};
}

int SettingsStore::getInt(std::string_view key) const {
    return parseInt(getText(key, SettingType::Int));
}

void SettingsStore::setInt(std::string_view key, int value) {
    put(key, SettingType::Int, std::to_string(value));
}

bool SettingsStore::getBool(std::string_view key) const {
    return parseBool(getText(key, SettingType::Bool));
}

void SettingsStore::setBool(std::string_view key, bool value) {
    put(key, SettingType::Bool, value ? "true" : "false");
}

SettingsStore::Color SettingsStore::getColor(std::string_view key) const {
    return parseColor(getText(key, SettingType::Color));
}

void SettingsStore::setColor(std::string_view key, Color value) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", value & 0xFF, (value >> 8) & 0xFF,
                  (value >> 16) & 0xFF);
    put(key, SettingType::Color, text);
}

SettingPoint SettingsStore::getPoint(std::string_view key) const {
    return parsePoint(getText(key, SettingType::Point));
}

void SettingsStore::setPoint(std::string_view key, int x, int y) {
    put(key, SettingType::Point, std::to_string(x) + "," + std::to_string(y));
}

std::string SettingsStore::getString(std::string_view key) const {
    return getText(key, SettingType::String);
}

void SettingsStore::setString(std::string_view key, std::string_view text) {
    put(key, SettingType::String, text);
}

SettingType SettingsStore::typeFromName(std::string_view name) {
    if (name == "int" || name == "uint") {
        return SettingType::Int;
    }
    if (name == "bool") {
        return SettingType::Bool;
    }
    if (name == "color") {
        return SettingType::Color;
    }
    if (name == "point") {
        return SettingType::Point;
    }
    if (name == "string") {
        return SettingType::String;
    }
    return SettingType::Unknown;
}

const char* SettingsStore::typeName(SettingType type) {
    switch (type) {
        case SettingType::Int: return "int";
        case SettingType::Bool: return "bool";
        case SettingType::Color: return "color";
        case SettingType::Point: return "point";
        case SettingType::String:
        case SettingType::Unknown: break;
    }
    return "string";
}

bool SettingsStore::finishLoad(XmlParser& parser, bool parsed) {
    // The store changes only once the whole parse worked.
    std::unique_ptr<XmlDocument> document = parser.takeDocument();
    if (!parsed || !document || document->root() == nullptr) {
        return false;
    }
    const ReadIdentity identity = readSettingsDocument(
        *document, [this](std::string key, SettingType type, std::string text) { put(key, type, text); });
    setRootName(identity.rootName);
    if (identity.target) {
        setTarget(*identity.target);
    }
    if (identity.version) {
        setVersion(*identity.version);
    }
    notifyChanged();
    return true;
}

bool SettingsStore::load(const std::string& path) {
    XmlParser parser;
    return finishLoad(parser, parser.parseFile(path));
}

bool SettingsStore::loadFromText(std::string_view text) {
    XmlParser parser;
    return finishLoad(parser, parser.parseText(text));
}

bool SettingsStore::save(const std::string& path, const std::string& encoding,
                         const std::string& xmlVersion) {
    collectAll();
    SettingsIdentity identity;
    std::map<std::string, SettingEntry, std::less<>> snapshot;
    {
        std::shared_lock<std::shared_mutex> lock(mutex_);
        snapshot = entries_;
        identity = {rootName_, target_, version_};
    }
    const auto document = buildSettingsDocument(snapshot, identity, encoding, xmlVersion);
    return document->writeToFile(path);
}

void SettingsStore::setRootName(std::string_view text) {
    std::unique_lock<std::shared_mutex> lock(mutex_);
    rootName_ = text;
}

void SettingsStore::setTarget(std::string_view text) {
    std::unique_lock<std::shared_mutex> lock(mutex_);
    target_ = text;
}

void SettingsStore::setVersion(std::string_view text) {
    std::unique_lock<std::shared_mutex> lock(mutex_);
    version_ = text;
}

std::string SettingsStore::rootName() const {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    return rootName_;
}

std::string SettingsStore::target() const {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    return target_;
}

std::string SettingsStore::version() const {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    return version_;
}

void SettingsStore::addListener(SettingsListener* listener) {
    std::unique_lock<std::shared_mutex> lock(mutex_);
    listeners_.push_back(listener);
}

void SettingsStore::removeListener(SettingsListener* listener) {
    std::unique_lock<std::shared_mutex> lock(mutex_);
    const auto it = std::find(listeners_.begin(), listeners_.end(), listener);
    if (it != listeners_.end()) {
        listeners_.erase(it);
    }
}

std::vector<SettingsListener*> SettingsStore::listenersSnapshot() const {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    return listeners_;
}

void SettingsStore::notifyChanged() {
    for (SettingsListener* listener : listenersSnapshot()) {
        listener->applySettings(*this);
    }
}

void SettingsStore::collectAll() {
    for (SettingsListener* listener : listenersSnapshot()) {
        listener->collectSettings(*this);
    }
}

}  // namespace korvanel
