#pragma once

namespace korvanel {

class SettingsStore;

// Implemented by every component that reads settings. The store calls these
// only when asked to (notifyChanged, collectAll), never per value.
class SettingsListener {
public:
    virtual ~SettingsListener() = default;

    // Read the values the listener uses and apply them.
    virtual void applySettings(SettingsStore& store) = 0;
    // Write the listener's live state (positions, toggles, volumes) into the store.
    virtual void collectSettings(SettingsStore& store) = 0;
};

}  // namespace korvanel
