#include "app/application.h"

#include "app/program_path.h"
#include "settings/default_settings.h"
#include "settings/language_texts.h"

namespace korvanel {

Application::Application(const WindowFactory& makeWindow) {
    registerDefaultSettings(settings_);
    // A missing or unreadable file leaves the defaults; no listener hears it.
    settings_.load(resolveProgramPath(kSettingsFileName));
    applySettings(settings_);

    httpClient_ = std::make_unique<HttpClient>(*this);
    playlistResolver_ = std::make_unique<PlaylistResolver>(*this);
    mainWindow_ = makeWindow(*this);

    settings_.addListener(this);
    settings_.addListener(httpClient_.get());
    settings_.addListener(playlistResolver_.get());
    if (mainWindow_) {
        settings_.addListener(mainWindow_.get());
    }
}

Application::~Application() {
    if (mainWindow_) {
        settings_.removeListener(mainWindow_.get());
    }
    settings_.removeListener(playlistResolver_.get());
    settings_.removeListener(httpClient_.get());
    settings_.removeListener(this);

    // Downloads still running would report to a window that is about to
    // go, so they are cut short and joined first.
    httpClient_->shutdown();

    // Each component stops its own workers before the next one goes.
    mainWindow_.reset();
    playlistResolver_.reset();
    httpClient_.reset();

    saveSettings();
}

bool Application::saveSettings() {
    settings_.setRootName(kRootName);
    settings_.setTarget(kTarget);
    settings_.setVersion(kVersion);
    return settings_.save(resolveProgramPath(kSettingsFileName), kEncoding, kXmlVersion);
}

void Application::applySettings(SettingsStore& store) {
    // Every text is put back first, so nothing of a previous file survives.
    registerDefaultTexts(language_);
    if (language_.load(resolveProgramPath(store.getString(kLanguageFileKey)))) {
        rejectMismatchedTexts(language_);
    }
}

void Application::collectSettings(SettingsStore&) {}

}  // namespace korvanel
