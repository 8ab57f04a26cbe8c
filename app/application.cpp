#include "app/application.h"

#include "base/product.h"
#include "base/program_path.h"
#include "audio/engine/audio_engine.h"
#include "audio/leveller.h"
#include "settings/default_settings.h"
#include "settings/language_texts.h"

namespace korvanel {

AudioLibraryFactory Application::defaultAudioLibrary() {
    return [] { return std::make_unique<AudioEngine>(); };
}

Application::Application(const WindowFactory& makeWindow, AudioLibraryFactory makeLibrary) {
    registerDefaultSettings(settings_);
    // An installed program keeps the user's files in a folder of their own.
    preparePersonalFolder();
    // A missing or unreadable file leaves the defaults; no listener hears it.
    const bool loaded = settings_.load(resolveProgramPath(kSettingsFileName));
    if (!loaded && programFolderIsPersonal()) {
        // Recordings belong with the user's music, not among the settings.
        settings_.setString("Recording/Path", musicFolder() + "Korvanel");
    }
    if (!loaded) {
        // Levelling is new: on for new users, never switched on under existing ones.
        settings_.setBool(Leveller::kLevellingKey, true);
    }
    applySettings(settings_);

    httpClient_ = std::make_unique<HttpClient>(settings_, events_);
    soundEffects_ = std::make_unique<SoundEffects>(settings_);
    leveller_ = std::make_unique<Leveller>(settings_, resolveProgramPath(LoudnessMemory::kFileName), events_);
    streamInfo_ = std::make_unique<StreamInfo>();
    recorder_ = std::make_unique<Recorder>(*streamInfo_, [this](WindowEvent event) { events_.post(std::move(event)); });
    recorder_->applySettings(settings_);
    playlistResolver_ = std::make_unique<PlaylistResolver>(*httpClient_);
    player_ = std::make_unique<Player>(
        Player::Dependencies{settings_, language_, *playlistResolver_, events_, soundEffects_.get(),
                             recorder_.get(), streamInfo_.get(), leveller_.get()},
        std::move(makeLibrary));
    mainWindow_ = makeWindow(*this);
    windowView_ = mainWindow_.get();
    events_.setTarget(mainWindow_.get());

    settings_.addListener(this);
    settings_.addListener(httpClient_.get());
    settings_.addListener(soundEffects_.get());
    settings_.addListener(leveller_.get());
    settings_.addListener(streamInfo_.get());
    settings_.addListener(recorder_.get());
    settings_.addListener(playlistResolver_.get());
    settings_.addListener(player_.get());
    if (mainWindow_) {
        settings_.addListener(mainWindow_.get());
    }
}

Application::~Application() {
    if (mainWindow_) {
        settings_.removeListener(mainWindow_.get());
    }
    settings_.removeListener(player_.get());
    settings_.removeListener(playlistResolver_.get());
    settings_.removeListener(recorder_.get());
    settings_.removeListener(streamInfo_.get());
    settings_.removeListener(leveller_.get());
    settings_.removeListener(soundEffects_.get());
    settings_.removeListener(httpClient_.get());
    settings_.removeListener(this);

    // Downloads and connect runs still going would report to a window that
    // is about to go, so they are cut short and joined first.
    httpClient_->shutdown();
    player_->shutdown();
    recorder_->waitUntilIdle();
    windowView_ = nullptr;
    events_.setTarget(nullptr);

    // Each component stops its own workers before the next one goes.
    mainWindow_.reset();
    player_.reset();
    playlistResolver_.reset();
    recorder_.reset();
    streamInfo_.reset();
    leveller_.reset();
    soundEffects_.reset();
    httpClient_.reset();

    if (!saveSettings() && saveFailed_) {
        saveFailed_(resolveProgramPath(kSettingsFileName));
    }
}

bool Application::saveSettings() {
    settings_.setRootName(kRootName);
    settings_.setTarget(product::kName);
    settings_.setVersion(product::kVersion);
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
