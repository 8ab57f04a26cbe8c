#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/app_window.h"
#include "base/event_sink.h"
#include "settings/settings_listener.h"
#include "settings/settings_store.h"
#include "audio/audio_library.h"
#include "audio/leveller.h"
#include "audio/sound_effects.h"
#include "audio/stream_info.h"
#include "player/player.h"
#include "recording/recorder.h"
#include "stream/http_client.h"
#include "stream/playlist_resolver.h"

namespace korvanel {

class Application;

// Makes the main window once the other components exist.
using WindowFactory = std::function<std::unique_ptr<AppWindow>(Application&)>;
// Makes the audio library when the player starts; the real engine unless a
// test gives another.
using AudioLibraryFactory = std::function<std::unique_ptr<AudioLibrary>()>;

// The root object: builds the settings and language stores, creates every
// component in a fixed order and registers them as settings listeners;
// tears down in reverse order and saves the settings file last.
// Threads: made, run and destroyed on one thread, which alone calls the
// window getter; components' threads reach the window only through events(),
// the relay that is cut off before the window goes.
class Application final : public SettingsListener {
public:
    static constexpr const char* kSettingsFileName = "korvanel.xml";
    static constexpr const char* kLanguageFileKey = "General/LanguageFile";
    static constexpr const char* kRootName = "Korvanel";
    static constexpr const char* kXmlVersion = "1.0";
    static constexpr const char* kEncoding = "ISO-8859-1";

    explicit Application(const WindowFactory& makeWindow,
                         AudioLibraryFactory makeLibrary = defaultAudioLibrary());
    static AudioLibraryFactory defaultAudioLibrary();
    ~Application() override;

    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Writes the settings file; false when it could not be written.
    bool saveSettings();
    // Told, with the file's path, when the save at shutdown fails (the old
    // file stays as it was); a front end without a window says so. Set it
    // before the Application goes; it runs on the destroying thread.
    using SaveFailed = std::function<void(const std::string& path)>;
    void setSaveFailed(SaveFailed report) { saveFailed_ = std::move(report); }

    // Reloads the language texts.
    void applySettings(SettingsStore& store) override;
    void collectSettings(SettingsStore& store) override;

    SettingsStore& settings() { return settings_; }
    SettingsStore& language() { return language_; }
    SoundEffects* soundEffects() { return soundEffects_.get(); }
    Leveller& leveller() { return *leveller_; }
    HttpClient& httpClient() { return *httpClient_; }
    Recorder& recorder() { return *recorder_; }
    // What the output channel hands the stream to for recording.
    RecordingSink* recordingSink() { return recorder_.get(); }
    StreamInfo* streamInfo() { return streamInfo_.get(); }
    PlaylistResolver& playlistResolver() { return *playlistResolver_; }
    Player& player() { return *player_; }
    // Null before the window exists and once it is going.
    AppWindow* mainWindow() { return windowView_; }
    // What the components post their events to: the window while it exists.
    EventSink& events() { return events_; }

private:
    // Declared in creation order; the destructor undoes it explicitly.
    SettingsStore settings_;
    SettingsStore language_;
    EventRelay events_;
    std::unique_ptr<SoundEffects> soundEffects_;
    std::unique_ptr<Leveller> leveller_;
    std::unique_ptr<HttpClient> httpClient_;
    std::unique_ptr<StreamInfo> streamInfo_;
    std::unique_ptr<Recorder> recorder_;
    std::unique_ptr<PlaylistResolver> playlistResolver_;
    std::unique_ptr<Player> player_;
    std::unique_ptr<AppWindow> mainWindow_;
    AppWindow* windowView_ = nullptr;
    SaveFailed saveFailed_;
};

}  // namespace korvanel
