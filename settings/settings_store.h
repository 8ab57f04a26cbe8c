#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settings_listener.h"

namespace korvanel {

class XmlParser;

enum class SettingType : std::int32_t {
    Unknown = 0,  // an unknown type name read from a file; no typed getter returns it
    Int = 1,
    Bool = 2,
    Color = 3,
    Point = 4,
    String = 5,
};

struct SettingEntry {
    SettingType type = SettingType::Unknown;
    std::string text;
};

struct SettingPoint {
    int x = 0;
    int y = 0;
    bool operator==(const SettingPoint&) const = default;
};

// A typed key-value table addressed by slash-separated paths
// ("General/Proxy"). Values are kept as text with a type tag and converted on
// each access; texts are UTF-8.
//
// Threads: getters and setters may be called from any thread (worker threads
// read while the window thread writes). Listener registration, notifyChanged,
// collectAll, load and save belong to the window thread; listeners are called
// without the store's lock held, so they may read and write the store.
class SettingsStore {
public:
    // A colour as a number: red in the low byte, then green, then blue.
    using Color = std::uint32_t;

    SettingsStore() = default;
    SettingsStore(const SettingsStore&) = delete;
    // Copies entries and identity texts; listeners stay as they are.
    SettingsStore& operator=(const SettingsStore& other);

    void put(std::string_view key, SettingType type, std::string_view text);
    // The text if the key exists with exactly this type, else empty.
    std::string getText(std::string_view key, SettingType type) const;
    // Whether the key exists (with any type).
    bool contains(std::string_view key) const;
    // All entries in key order (byte-wise), as one consistent snapshot.
    std::map<std::string, SettingEntry, std::less<>> entries() const;

    int getInt(std::string_view key) const;
    void setInt(std::string_view key, int value);
    bool getBool(std::string_view key) const;
    void setBool(std::string_view key, bool value);
    Color getColor(std::string_view key) const;
    void setColor(std::string_view key, Color value);
    SettingPoint getPoint(std::string_view key) const;
    void setPoint(std::string_view key, int x, int y);
    std::string getString(std::string_view key) const;
    void setString(std::string_view key, std::string_view text);

    // Reads an XML settings file over the current entries and, on success,
    // notifies the listeners once. On failure nothing changes.
    bool load(const std::string& path);
    // Parses a settings document held in memory, as load() does a file.
    bool loadFromText(std::string_view text);
    // Collects from the listeners, then writes the file atomically: a failed
    // save leaves the previous file as it was and returns false.
    bool save(const std::string& path, const std::string& encoding, const std::string& xmlVersion);

    void setRootName(std::string_view text);
    void setTarget(std::string_view text);
    void setVersion(std::string_view text);
    std::string rootName() const;
    std::string target() const;
    std::string version() const;

    void addListener(SettingsListener* listener);
    void removeListener(SettingsListener* listener);
    void notifyChanged();
    void collectAll();

    // Type name to type as read from a file; "uint" reads as Int.
    static SettingType typeFromName(std::string_view name);
    // Type name written to a file; Unknown is written as "string".
    static const char* typeName(SettingType type);

    // Conversions from the stored text, shared with code that checks values.
    static int parseInt(std::string_view text);
    static bool parseBool(std::string_view text);
    static Color parseColor(std::string_view text);
    static SettingPoint parsePoint(std::string_view text);

private:
    std::vector<SettingsListener*> listenersSnapshot() const;
    bool finishLoad(XmlParser& parser, bool parsed);

    mutable std::shared_mutex mutex_;
    std::map<std::string, SettingEntry, std::less<>> entries_;
    std::vector<SettingsListener*> listeners_;
    std::string rootName_ = "Settings";
    std::string target_ = "Vantry EConfig";
    std::string version_ = "1.0";
};

}  // namespace korvanel
