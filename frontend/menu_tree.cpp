#include "frontend/menu_tree.h"

#include "app/application.h"
#include "frontend/play_history.h"
#include "frontend/window_events.h"

namespace korvanel {

namespace {

constexpr std::size_t kHistoryCaptionChars = 35;

bool isContinuationByte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// The first `count` characters of UTF-8 text, never half a character.
std::string firstCharacters(const std::string& text, std::size_t count, bool& cut) {
    std::size_t at = 0;
    for (std::size_t seen = 0; at < text.size(); ++seen) {
        if (seen == count) {
            cut = true;
            return text.substr(0, at);
        }
        ++at;
        while (at < text.size() && isContinuationByte(text[at])) {
            ++at;
        }
    }
    cut = false;
    return text;
}

// A name from a file or a station shows its ampersands instead of taking
// the next letter as the menu's mnemonic, and its control characters as
// spaces: a tab would start the item's shortcut column, a line end a
// second line.
std::string shownAsIs(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        shown += byte < 0x20 || byte == 0x7F ? ' ' : c;
        if (c == '&') {
            shown += '&';
        }
    }
    return shown;
}

}  // namespace

MenuEntry MenuEntry::item(int id, std::string caption, bool checked, bool enabled) {
    MenuEntry entry;
    entry.id = id;
    entry.caption = std::move(caption);
    entry.checked = checked;
    entry.enabled = enabled;
    return entry;
}

MenuEntry MenuEntry::separator() {
    MenuEntry entry;
    entry.kind = Kind::Separator;
    return entry;
}

MenuEntry MenuEntry::popup(std::string caption) {
    MenuEntry entry;
    entry.kind = Kind::Popup;
    entry.caption = std::move(caption);
    return entry;
}

MenuTreeBuilder::MenuTreeBuilder(std::string caption) : popup_(MenuEntry::popup(std::move(caption))) {}

void MenuTreeBuilder::appendItem(int id, const std::string& caption) {
    popup_.children.push_back(MenuEntry::item(id, shownAsIs(caption)));
}

void MenuTreeBuilder::appendSeparator() { popup_.children.push_back(MenuEntry::separator()); }

StationMenu& MenuTreeBuilder::appendPopup(const std::string& caption) {
    popup_.children.push_back(MenuEntry::popup(shownAsIs(caption)));
    children_.emplace_back(popup_.children.size() - 1, std::make_unique<MenuTreeBuilder>(shownAsIs(caption)));
    return *children_.back().second;
}

MenuEntry MenuTreeBuilder::take() {
    for (auto& [index, child] : children_) {
        popup_.children[index] = child->take();
    }
    children_.clear();
    return std::move(popup_);
}

std::string historyCaption(std::size_t index, const HistoryEntry& entry) {
    const std::string& name = entry.stationName.empty() ? entry.source : entry.stationName;
    bool cut = false;
    std::string caption = firstCharacters(name, kHistoryCaptionChars, cut);
    if (cut) {
        caption += "...";
    }
    return std::string("&") + static_cast<char>('a' + index % 26) + ". " + shownAsIs(caption);
}

namespace {

MenuEntry fileMenu(Application& application, WindowEvents& events, const WindowMenuState& state) {
    const SettingsStore& language = application.language();
    const auto text = [&language](const char* key) { return language.getString(key); };
    MenuEntry file = MenuEntry::popup(text("Main/TopMenu/File"));
    MenuEntry history = MenuEntry::popup(text("Main/FileMenu/History"));
    const PlayHistory entries = events.history();
    const std::size_t shown =
        std::min<std::size_t>(entries.entries().size(), command::kHistoryLast - command::kHistoryBase + 1);
    for (std::size_t i = 0; i < shown; ++i) {
        history.children.push_back(
            MenuEntry::item(command::kHistoryBase + static_cast<int>(i), historyCaption(i, entries.entries()[i])));
    }
    if (shown == 0) {
        history.children.push_back(MenuEntry::item(0, text("Main/FileMenu/HistoryEmpty"), false, false));
    }
    file.children.push_back(std::move(history));
    file.children.push_back(MenuEntry::item(command::kOpenUrl, text("Main/FileMenu/OpenURL"), false,
                                            state.dialogsAvailable));
    file.children.push_back(MenuEntry::item(command::kFindStation, text("Main/FileMenu/FindStation"), false,
                                            state.dialogsAvailable));
    file.children.push_back(MenuEntry::separator());
    file.children.push_back(MenuEntry::item(command::kEditConfig, text("Main/FileMenu/EditConfig")));
    file.children.push_back(MenuEntry::item(command::kEditFavorites, text("Main/FileMenu/EditFavorites")));
    file.children.push_back(MenuEntry::item(command::kImportStations, text("Main/FileMenu/ImportStations"), false,
                                            state.dialogsAvailable));
    file.children.push_back(MenuEntry::item(command::kExportFavorites, text("Main/FileMenu/ExportFavorites"), false,
                                            state.dialogsAvailable));
    file.children.push_back(MenuEntry::item(command::kUpdatePresets, text("Main/FileMenu/UpdatePresets")));
    file.children.push_back(MenuEntry::separator());
    file.children.push_back(MenuEntry::item(command::kReloadConfig, text("Main/FileMenu/ReloadConfig")));
    file.children.push_back(MenuEntry::item(command::kReloadFavorites, text("Main/FileMenu/ReloadFavorites")));
    file.children.push_back(MenuEntry::item(command::kReloadPresets, text("Main/FileMenu/ReloadPresets")));
    file.children.push_back(MenuEntry::separator());
    file.children.push_back(MenuEntry::item(command::kExit, text("Main/FileMenu/Exit")));
    return file;
}

MenuEntry settingsMenu(Application& application, const WindowMenuState& state) {
    const SettingsStore& language = application.language();
    const auto text = [&language](const char* key) { return language.getString(key); };
    const SoundEffects* effects = application.soundEffects();
    const double s = effects != nullptr ? effects->separation() : 1.0;
    MenuEntry separation = MenuEntry::popup(text("Main/SettingsMenu/StereoSeparation"));
    separation.children = {
        MenuEntry::item(command::kSeparation100, "100% (&Stereo)", s >= 1.0),
        MenuEntry::item(command::kSeparation75, "&75%", s >= 0.75 && s < 1.0),
        MenuEntry::item(command::kSeparation50, "&50%", s >= 0.5 && s < 0.75),
        MenuEntry::item(command::kSeparation25, "&25%", s >= 0.25 && s < 0.5),
        MenuEntry::item(command::kSeparation0, "0% (&Mono)", s < 0.25),
    };
    MenuEntry effectsMenu = MenuEntry::popup(text("Main/SettingsMenu/Effects"));
    effectsMenu.children.push_back(std::move(separation));
    effectsMenu.children.push_back(MenuEntry::item(command::kCompressor, text("Main/SettingsMenu/Compressor"),
                                                   effects != nullptr && effects->compressorOn()));
    effectsMenu.children.push_back(MenuEntry::item(command::kReverseStereo, text("Main/SettingsMenu/ReverseStereo"),
                                                   effects != nullptr && effects->swapChannels()));
    const Leveller& leveller = application.leveller();
    effectsMenu.children.push_back(MenuEntry::item(command::kLevelStations, text("Main/SettingsMenu/LevelStations"),
                                                   leveller.enabled(), leveller.available()));
    MenuEntry settings = MenuEntry::popup(text("Main/TopMenu/Settings"));
    settings.children.push_back(std::move(effectsMenu));
    settings.children.push_back(MenuEntry::separator());
    settings.children.push_back(MenuEntry::item(command::kAlwaysOnTop, text("Main/SettingsMenu/AlwaysOnTop"),
                                                application.settings().getBool("General/AlwaysOnTop")));
    settings.children.push_back(MenuEntry::separator());
    settings.children.push_back(MenuEntry::item(command::kPreferences, text("Main/SettingsMenu/Preferences"),
                                                false, state.dialogsAvailable));
    return settings;
}

MenuEntry stationsMenu(Application& application, WindowEvents& events, StationListKind kind) {
    const bool favorites = kind == StationListKind::Favorites;
    const SettingsStore& language = application.language();
    MenuTreeBuilder builder(language.getString(favorites ? "Main/TopMenu/Favorites" : "Main/TopMenu/Presets"));
    const int stations =
        events.buildStationMenu(kind, builder, favorites ? command::kFavoritesBase : command::kPresetsBase);
    MenuEntry menu = builder.take();
    if (favorites) {
        // The station playing now, kept with one click; the numbers stay.
        const bool playing = !application.streamInfo()->source().empty();
        menu.children.insert(menu.children.begin(),
                             {MenuEntry::item(command::kAddToFavorites, language.getString("Main/FavoritesMenu/Add"),
                                              false, playing),
                              MenuEntry::separator()});
    }
    if (stations < 0) {
        menu.children.push_back(MenuEntry::item(
            0, language.getString(favorites ? "Main/Text/ParseErrorFavorites" : "Main/Text/ParseErrorPresets"), false,
            false));
    }
    return menu;
}

MenuEntry recordingMenu(Application& application) {
    const SettingsStore& language = application.language();
    const auto text = [&language](const char* key) { return language.getString(key); };
    const Player::State s = application.player().state();
    Recorder& recorder = application.recorder();
    MenuEntry menu = MenuEntry::popup(text("Main/TopMenu/Recording"));
    if ((s == Player::State::Buffering || s == Player::State::Playing) && !recorder.isCapturing()) {
        menu.children.push_back(MenuEntry::item(command::kRecord, text("Main/RecordingMenu/CannotRecord"), false, false));
    } else {
        menu.children.push_back(MenuEntry::item(
            command::kRecord,
            text(recorder.isRecording() ? "Main/RecordingMenu/StopRecording" : "Main/RecordingMenu/BeginRecording")));
    }
    menu.children.push_back(MenuEntry::separator());
    menu.children.push_back(MenuEntry::item(command::kOpenRecordingFolder, text("Main/RecordingMenu/OpenFolder")));
    return menu;
}

}  // namespace

MenuEntry buildClipboardMenu(Application& application) {
    const SettingsStore& language = application.language();
    const auto text = [&language](const char* key) { return language.getString(key); };
    MenuEntry copy = MenuEntry::popup(text("Main/ClipboardMenu/CopyTo"));
    copy.children = {
        MenuEntry::item(command::kCopyMessenger, text("Main/ClipboardMenu/IMString")),
        MenuEntry::separator(),
        MenuEntry::item(command::kCopyStationName, text("Main/ClipboardMenu/RadiostationTitle")),
        MenuEntry::item(command::kCopyStationUrl, text("Main/ClipboardMenu/RadiostationURL")),
        MenuEntry::separator(),
        MenuEntry::item(command::kCopyTrack, text("Main/ClipboardMenu/TrackTitle")),
        MenuEntry::item(command::kCopySource, text("Main/ClipboardMenu/SourceURL")),
    };
    MenuEntry clipboard = MenuEntry::popup(text("Main/TopMenu/Clipboard"));
    clipboard.children.push_back(std::move(copy));
    clipboard.children.push_back(
        MenuEntry::item(command::kPlayFromClipboard, text("Main/ClipboardMenu/PlayFromClipboard")));
    return clipboard;
}

MenuEntry buildContextMenu(Application& application) {
    MenuEntry menu = MenuEntry::popup("");
    menu.children.push_back(buildClipboardMenu(application));
    menu.children.push_back(MenuEntry::separator());
    menu.children.push_back(MenuEntry::item(command::kAlwaysOnTop,
                                            application.language().getString("Main/SettingsMenu/AlwaysOnTop"),
                                            application.settings().getBool("General/AlwaysOnTop")));
    return menu;
}

MenuEntry buildTrayMenu(Application& application, WindowEvents& events, const WindowMenuState& state,
                        bool windowShown) {
    const SettingsStore& language = application.language();
    const auto text = [&language](const char* key) { return language.getString(key); };
    MenuEntry menu = MenuEntry::popup("");
    MenuEntry toggle =
        MenuEntry::item(command::kHideOrShowWindow, text(windowShown ? "Main/Text/HideWindow" : "Main/Text/ShowWindow"));
    toggle.isDefault = true;
    menu.children.push_back(std::move(toggle));
    menu.children.push_back(MenuEntry::item(command::kRecoverWindow, text("Main/Text/RecoverWindow")));
    menu.children.push_back(MenuEntry::separator());
    MenuEntry bar = buildMenuBar(application, events, state);
    MenuEntry help = std::move(bar.children.back());
    bar.children.pop_back();
    for (MenuEntry& popup : bar.children) {
        menu.children.push_back(std::move(popup));
    }
    menu.children.push_back(buildClipboardMenu(application));
    menu.children.push_back(std::move(help));
    menu.children.push_back(MenuEntry::separator());
    Player& player = application.player();
    menu.children.push_back(player.state() == Player::State::Idle
                                ? MenuEntry::item(command::kPlay, text("Main/Buttons/Play"))
                                : MenuEntry::item(command::kStop, text("Main/Buttons/Stop")));
    menu.children.push_back(
        MenuEntry::item(command::kMute, text(player.isMuted() ? "Main/Buttons/MuteOn" : "Main/Buttons/MuteOff")));
    menu.children.push_back(MenuEntry::separator());
    menu.children.push_back(MenuEntry::item(command::kExit, text("Main/FileMenu/Exit")));
    return menu;
}

MenuEntry buildMenuBar(Application& application, WindowEvents& events, const WindowMenuState& state) {
    const SettingsStore& language = application.language();
    const auto text = [&language](const char* key) { return language.getString(key); };
    MenuEntry bar = MenuEntry::popup("");
    bar.children.push_back(fileMenu(application, events, state));
    bar.children.push_back(settingsMenu(application, state));
    bar.children.push_back(stationsMenu(application, events, StationListKind::Favorites));
    bar.children.push_back(stationsMenu(application, events, StationListKind::Presets));
    bar.children.push_back(recordingMenu(application));
    MenuEntry window = MenuEntry::popup(text("Main/TopMenu/Window"));
    window.children.push_back(MenuEntry::item(command::kLogWindow, text("Main/WindowMenu/LogWindow"), state.logVisible));
    bar.children.push_back(std::move(window));
    MenuEntry help = MenuEntry::popup(text("Main/TopMenu/Help"));
    help.children.push_back(
        MenuEntry::item(command::kRestoreTrayIcon, text("Main/HelpMenu/RestoreTrayIcon"), false, state.trayAvailable));
    help.children.push_back(MenuEntry::separator());
    help.children.push_back(MenuEntry::item(command::kAbout, text("Main/HelpMenu/About"), false, state.dialogsAvailable));
    bar.children.push_back(std::move(help));
    return bar;
}

}  // namespace korvanel
