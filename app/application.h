#pragma once

#include <functional>
#include <memory>

#include "app/app_window.h"
#include "settings/settings_listener.h"
#include "settings/settings_store.h"
#include "stream/http_client.h"
#include "stream/playlist_resolver.h"

namespace korvanel {

class Application;

// Makes the main window once the other components exist.
using WindowFactory = std::function<std::unique_ptr<AppWindow>(Application&)>;

// The root object: builds the settings and language stores, creates every
// component in a fixed order and registers them as settings listeners;
// tears down in reverse order and saves the settings file last.
// Startup, run() and shutdown happen on the thread that owns it.
class Application final : public SettingsListener {
public:
    static constexpr const char* kSettingsFileName = "korvanel.xml";
    static constexpr const char* kLanguageFileKey = "General/LanguageFile";
    static constexpr const char* kRootName = "Korvanel";
    static constexpr const char* kTarget = "Korvanel Radio";
    static constexpr const char* kVersion = "v0.3.6";
    static constexpr const char* kXmlVersion = "1.0";
    static constexpr const char* kEncoding = "ISO-8859-1";

    explicit Application(const WindowFactory& makeWindow);
    ~Application() override;

    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Writes the settings file; false when it could not be written.
    bool saveSettings();

    // Reloads the language texts.
    void applySettings(SettingsStore& store) override;
    void collectSettings(SettingsStore& store) override;

    SettingsStore& settings() { return settings_; }
    SettingsStore& language() { return language_; }
    HttpClient& httpClient() { return *httpClient_; }
    PlaylistResolver& playlistResolver() { return *playlistResolver_; }
    AppWindow* mainWindow() { return mainWindow_.get(); }

private:
    // Declared in creation order; the destructor undoes it explicitly.
    SettingsStore settings_;
    SettingsStore language_;
    std::unique_ptr<HttpClient> httpClient_;
    std::unique_ptr<PlaylistResolver> playlistResolver_;
    std::unique_ptr<AppWindow> mainWindow_;
};

}  // namespace korvanel
