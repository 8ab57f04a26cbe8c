#include "settings/default_settings.h"

#include <array>

namespace korvanel {
namespace {

struct DefaultSetting {
    const char* key;
    SettingType type;
    const char* text;
};

// In registration order; the file lists them in key order anyway.
constexpr std::array kDefaultSettings = {
    DefaultSetting{"General/IconPath", SettingType::String, ""},
    DefaultSetting{"General/AlwaysOnTop", SettingType::Bool, "false"},
    DefaultSetting{"General/PersistentTrayIcon", SettingType::Bool, "true"},
    DefaultSetting{"General/StartHidden", SettingType::Bool, "false"},
    DefaultSetting{"General/AutoPlayOnStart", SettingType::Bool, "false"},
    DefaultSetting{"General/TrayOnMinimize", SettingType::Bool, "false"},
    DefaultSetting{"General/TrayOnClose", SettingType::Bool, "false"},
    DefaultSetting{"General/DisablePopups", SettingType::Bool, "false"},
    DefaultSetting{"General/TrackNotifications", SettingType::Bool, "true"},
    DefaultSetting{"General/IRCString", SettingType::String, "/me is listening to (%track%) at (%title%) using %version%"},
    DefaultSetting{"General/ReconnectRetries", SettingType::Int, "3"},
    DefaultSetting{"General/RestartRetries", SettingType::Int, "2"},
    DefaultSetting{"General/Proxy", SettingType::String, ""},
    DefaultSetting{"General/ProxyPort", SettingType::Int, "0"},
    DefaultSetting{"General/Editor", SettingType::String, "xdg-open"},
    // The station directory's server; its round-robin address by default.
    DefaultSetting{"Directory/Server", SettingType::String, "https://all.api.radio-browser.info"},
    DefaultSetting{"General/LanguageFile", SettingType::String, "languages\\lang.default.xml"},
    DefaultSetting{"PeakMeter/Enabled", SettingType::Bool, "true"},
    DefaultSetting{"PeakMeter/AdjustByVolume", SettingType::Bool, "false"},
    DefaultSetting{"PeakMeter/ColorA", SettingType::Color, "f6f4d8"},
    DefaultSetting{"PeakMeter/ColorB", SettingType::Color, "eeaa19"},
    DefaultSetting{"PeakMeter/ColorC", SettingType::Color, "303030"},
    DefaultSetting{"Recording/Enabled", SettingType::Bool, "false"},
    DefaultSetting{"Recording/Path", SettingType::String, "saved"},
    DefaultSetting{"Recording/FilePattern", SettingType::String, "%title%\\%track%"},
    DefaultSetting{"Recording/MaxBuffer", SettingType::Int, "5242880"},
    DefaultSetting{"Recording/DateFormat", SettingType::String, "%Y%m%d"},
    DefaultSetting{"Recording/TimeFormat", SettingType::String, "%H%M%S"},
    DefaultSetting{"Recording/LameEncodeOgg", SettingType::Bool, "false"},
    DefaultSetting{"Recording/LameContinuous", SettingType::Bool, "false"},
    DefaultSetting{"Recording/LameBitrate", SettingType::Int, "128"},
    DefaultSetting{"Sound/Compressor", SettingType::Bool, "false"},
    DefaultSetting{"Sound/StereoSeparation", SettingType::Int, "0"},
    DefaultSetting{"Sound/SwapChannels", SettingType::Bool, "false"},
    // Levelling is switched on for new settings files by the application.
    DefaultSetting{"Sound/Levelling", SettingType::Bool, "false"},
    DefaultSetting{"Sound/LevellingTarget", SettingType::Int, "-18"},
    DefaultSetting{"Sound/PlayOnDevices", SettingType::String, "1"},
    DefaultSetting{"Sound/BufferSize", SettingType::Int, "5000"},
    DefaultSetting{"Sound/HlsBandwidth", SettingType::Int, "0"},
    DefaultSetting{"Sound/ServerBufferMs", SettingType::Int, "250"},
    DefaultSetting{"Session/MaxHistoryLength", SettingType::Int, "5"},
    DefaultSetting{"Session/Position", SettingType::Point, "-32000,-32000"},
    DefaultSetting{"Session/Volume", SettingType::Int, "100"},
};

}  // namespace

std::size_t defaultSettingCount() { return kDefaultSettings.size(); }

void registerDefaultSettings(SettingsStore& store) {
    for (const auto& setting : kDefaultSettings) {
        store.put(setting.key, setting.type, setting.text);
    }
}

}  // namespace korvanel
