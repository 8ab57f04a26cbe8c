#pragma once

#include <cstddef>

#include "settings/settings_store.h"

namespace korvanel {

// Puts every setting key with its type and default text, in a fixed order.
void registerDefaultSettings(SettingsStore& store);
std::size_t defaultSettingCount();

}  // namespace korvanel
