#include "settings/language_texts.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "settings/text_encoding.h"

namespace korvanel {
namespace {

constexpr std::array kDefaultTexts = {
    DefaultText{"Main/Text/InfoBox", "Information"},
    DefaultText{"Main/Text/PlayBox", "Playback"},
    DefaultText{"Main/Text/NoTitle", "No Title"},
    DefaultText{"Main/Text/NotPlaying", "Not Playing"},
    DefaultText{"Main/Text/AbortingConnect", "Aborting Connect"},
    DefaultText{"Main/Text/Connecting", "Connecting"},
    DefaultText{"Main/Text/UnknownType", "Unknown Stream Type"},
    DefaultText{"Main/Text/ShowWindow", "Show &Window"},
    DefaultText{"Main/Text/Loading", "Loading.."},
    DefaultText{"Main/Text/HideWindow", "Hide &Window"},
    DefaultText{"Main/Text/RecoverWindow", "&Recover Window"},
    DefaultText{"Main/Text/ParseErrorPresets", "Error parsing presets"},
    DefaultText{"Main/Text/ParseErrorFavorites", "Error parsing favorites"},
    DefaultText{"Main/Message/KorvanelError", "Korvanel Radio: Error"},
    DefaultText{"Main/Message/KorvanelWarning", "Korvanel Radio: Warning"},
    DefaultText{"Main/Message/NoSources", "No sources available.\r\nPlease select a radio station from Presets or Favorites to play."},
    DefaultText{"Main/Message/PresetsFailed", "Presets could not be updated from server, please try again later."},
    DefaultText{"Main/Message/PresetsOk", "Presets successfully updated from server!"},
    DefaultText{"Main/Message/ConnectionFailure", "Connection failure"},
    DefaultText{"Main/Message/RecordingFailure", "Unfortunately there was an error trying to record, recording is disabled."},
    DefaultText{"Main/Buttons/Prev", "<"},
    DefaultText{"Main/Buttons/Play", "&Play"},
    DefaultText{"Main/Buttons/Stop", "&Stop"},
    DefaultText{"Main/Buttons/Next", ">"},
    DefaultText{"Main/Buttons/RecOn", "&REC"},
    DefaultText{"Main/Buttons/RecOff", "&Rec"},
    DefaultText{"Main/Buttons/MuteOn", "Un&mute"},
    DefaultText{"Main/Buttons/MuteOff", "&Mute"},
    DefaultText{"Main/Status/Idling", "Idling.."},
    DefaultText{"Main/Status/Connecting", "Connecting.."},
    DefaultText{"Main/Status/Aborting", "Aborting.."},
    DefaultText{"Main/Status/Playing", "Playing.."},
    DefaultText{"Main/Status/Recording", "Recording.."},
    DefaultText{"Main/Status/Buffering", "Buffering.."},
    DefaultText{"Main/Status/Downloading", "Downloading.."},
    DefaultText{"Main/TopMenu/File", "&File"},
    DefaultText{"Main/TopMenu/Settings", "&Settings"},
    DefaultText{"Main/TopMenu/Favorites", "F&avorites"},
    DefaultText{"Main/TopMenu/Presets", "&Presets"},
    DefaultText{"Main/TopMenu/Recording", "&Recording"},
    DefaultText{"Main/TopMenu/Window", "&Window"},
    DefaultText{"Main/TopMenu/Clipboard", "&Clipboard"},
    DefaultText{"Main/TopMenu/Help", "&Help"},
    DefaultText{"Main/FileMenu/History", "&History"},
    DefaultText{"Main/FileMenu/HistoryEmpty", "No History"},
    DefaultText{"Main/FileMenu/OpenURL", "&Open URL"},
    DefaultText{"Main/FileMenu/EditConfig", "Edit &Config"},
    DefaultText{"Main/FileMenu/EditFavorites", "&Edit Favorites"},
    DefaultText{"Main/FileMenu/UpdatePresets", "&Update Presets Now"},
    DefaultText{"Main/FileMenu/ReloadConfig", "&Reload Config"},
    DefaultText{"Main/FileMenu/ReloadFavorites", "Reload &Favorites"},
    DefaultText{"Main/FileMenu/ReloadPresets", "Reload &Presets"},
    DefaultText{"Main/FileMenu/Exit", "E&xit"},
    DefaultText{"Main/SettingsMenu/StereoSeparation", "&Stereo Separation"},
    DefaultText{"Main/SettingsMenu/Effects", "&Effects"},
    DefaultText{"Main/SettingsMenu/Compressor", "&Compressor (Auto Volume)"},
    DefaultText{"Main/SettingsMenu/ReverseStereo", "&Reverse Stereo"},
    DefaultText{"Main/SettingsMenu/LevelStations", "&Level Stations"},
    DefaultText{"Main/Status/Levelled", "levelled %s dB"},
    DefaultText{"Main/SettingsMenu/AlwaysOnTop", "&Always On Top"},
    DefaultText{"Main/SettingsMenu/Preferences", "&Preferences"},
    DefaultText{"Main/RecordingMenu/BeginRecording", "Begin &Recording"},
    DefaultText{"Main/RecordingMenu/OpenFolder", "&Open Recording folder"},
    DefaultText{"Main/RecordingMenu/StopRecording", "Stop &Recording"},
    DefaultText{"Main/RecordingMenu/CannotRecord", "Error, cannot start recording.."},
    DefaultText{"Main/WindowMenu/LogWindow", "&Log"},
    DefaultText{"Main/ClipboardMenu/CopyTo", "&Copy to Clipboard"},
    DefaultText{"Main/ClipboardMenu/IMString", "&Messenger String"},
    DefaultText{"Main/ClipboardMenu/RadiostationTitle", "Radiostation &Title"},
    DefaultText{"Main/ClipboardMenu/RadiostationURL", "Radiostation &URL"},
    DefaultText{"Main/ClipboardMenu/TrackTitle", "T&rack Title"},
    DefaultText{"Main/ClipboardMenu/SourceURL", "&Source URL"},
    DefaultText{"Main/ClipboardMenu/PlayFromClipboard", "&Play from Clipboard"},
    DefaultText{"Main/HelpMenu/RestoreTrayIcon", "&Restore Tray Icon"},
    DefaultText{"Main/HelpMenu/About", "&About Korvanel Radio"},
    DefaultText{"Log/Message/Connecting", "Connecting to %s"},
    DefaultText{"Log/Message/DlPlaylist", "Retrieving playlist, %s"},
    DefaultText{"Log/Message/Playing", "Playing"},
    DefaultText{"Log/Message/ConnectionLost", "Connection lost.."},
    DefaultText{"Log/Message/EOS", "Reached end of stream.."},
    DefaultText{"Log/Message/Levelled", "Levelled at %s dB"},
    DefaultText{"Log/Message/LoudnessMemoryIgnored", "The station loudness file is damaged and was ignored: %s"},
    DefaultText{"Log/Message/RecordingNotCreated", "Recording stopped: the file %s could not be created."},
    DefaultText{"Log/Message/RecordingNotWritten", "Recording stopped: the file %s could not be written."},
    DefaultText{"Log/Message/Stopped", "Stopped.."},
    DefaultText{"Log/Message/Started", "%s Started"},
    DefaultText{"Log/Message/SecureFailed", "Secure connection refused: %s"},
    DefaultText{"Log/Message/FavoriteAdded", "Added to Favorites: %s"},
    DefaultText{"Log/Message/FavoriteExists", "Already in Favorites: %s"},
    DefaultText{"Log/Message/FavoriteFailed", "Could not add to Favorites (favorites.xml is missing, unreadable or not writable): %s"},
    DefaultText{"Log/Message/DirectorySkipped", "The station directory sent %d entries that are no station to play; they were left out"},
    DefaultText{"Main/FavoritesMenu/Add", "&Add to Favorites"},
    DefaultText{"Log/Message/NoTray", "This desktop has no system tray: the window stays on the screen."},
    DefaultText{"Log/Message/SettingsNotSaved", "Could not save %s"},
    DefaultText{"Main/Accessible/PeakMeter", "Peak meter"},
    DefaultText{"Main/Accessible/PeakMeterInfo", "Left and right sound levels"},
    DefaultText{"Main/Accessible/Volume", "Volume"},
    DefaultText{"Main/Accessible/VolumeInfo", "Top is full volume"},
    DefaultText{"Main/Accessible/Previous", "Previous"},
    DefaultText{"Main/Accessible/PreviousInfo", "Previous address of the station"},
    DefaultText{"Main/Accessible/Next", "Next"},
    DefaultText{"Main/Accessible/NextInfo", "Next address of the station"},
    DefaultText{"Main/Accessible/PlayInfo", "Play the current station"},
    DefaultText{"Main/Accessible/StopInfo", "Stop playing"},
    DefaultText{"Main/Accessible/RecordInfo", "Record the stream to files"},
    DefaultText{"Main/Accessible/MuteInfo", "Silence the sound"},
    DefaultText{"Main/Accessible/Station", "Station"},
    DefaultText{"Main/Accessible/StationAddress", "Station web address"},
    DefaultText{"Main/Accessible/TrackOrState", "Track or player state"},
    DefaultText{"Main/Accessible/StreamType", "Stream type"},
    DefaultText{"Main/Accessible/PlayerState", "Player state"},
    DefaultText{"Main/Accessible/CurrentAddress", "Current address"},
    DefaultText{"Main/Accessible/Times", "Track time and play time"},
    DefaultText{"Log/Window/Caption", "Korvanel Log"},
    DefaultText{"Log/Menu/AlwaysOnTop", "Always On Top"},
    DefaultText{"Log/Menu/Clear", "Clear Log"},
    DefaultText{"Log/Menu/Save", "Save to File"},
    DefaultText{"Log/Menu/Close", "Close Window"},
    DefaultText{"Log/Text/TextFiles", "Text files"},
    DefaultText{"Player/Error/InitError", "Critical error! The audio engine could not be started: make sure FFmpeg (libavformat, libavcodec) and SDL2 (libSDL2-2.0.so.0) are installed.."},
    DefaultText{"Player/Error/NoSource", "No sources in list, giving up!"},
    DefaultText{"Player/Error/AllFailed", "All sources failed, giving up!"},
    DefaultText{"Player/Error/PlaylistFailed", "Could not retrieve playlist.."},
    DefaultText{"Player/Error/PlaylistRefused", "Could not retrieve playlist: %s"},
    DefaultText{"Player/Error/CertUntrusted", "the server's certificate is not trusted"},
    DefaultText{"Player/Error/CertExpired", "the server's certificate has expired or is not valid yet"},
    DefaultText{"Player/Error/CertHostMismatch", "the server's certificate is for another host name"},
    DefaultText{"Player/Error/TlsHandshake", "no secure connection could be made"},
    DefaultText{"Player/Error/Critical", "Critical error, giving up: %s"},
    DefaultText{"Player/Error/Connect", "Connect error: %s"},
    DefaultText{"Player/Message/Reconnecting", "Trying to reconnect.."},
    DefaultText{"Player/Message/WaitRetry", "Retrying in %d seconds.."},
    DefaultText{"Player/Message/WaitRestart", "Reconnecting from scratch in %d seconds.."},
    DefaultText{"Language/Text/Name", "English"},
    DefaultText{"Dialogs/Buttons/OK", "OK"},
    DefaultText{"Dialogs/Buttons/Cancel", "Cancel"},
    DefaultText{"Dialogs/Buttons/Apply", "&Apply"},
    DefaultText{"Dialogs/Preferences/Caption", "Korvanel Prefrences"},
    DefaultText{"Dialogs/Preferences/General", "General"},
    DefaultText{"Dialogs/Preferences/General2", "General 2"},
    DefaultText{"Dialogs/Preferences/Recording", "Recording"},
    DefaultText{"Dialogs/Preferences/Recording2", "Recording 2"},
    DefaultText{"Dialogs/Preferences/Devices", "Devices"},
    DefaultText{"Dialogs/Preferences/AlwaysOnTop", "Always on top"},
    DefaultText{"Dialogs/Preferences/DisablePopups", "Disable Popups"},
    DefaultText{"Dialogs/Preferences/TrackNotifications", "Show a notification for each new track"},
    DefaultText{"Dialogs/Preferences/TrayIcon", "Tray icon"},
    DefaultText{"Dialogs/Preferences/AlwaysShow", "Always show"},
    DefaultText{"Dialogs/Preferences/MinimizeToTray", "Minimize to tray"},
    DefaultText{"Dialogs/Preferences/MinimizeToTrayOnClose", "Minimize to tray on close"},
    DefaultText{"Dialogs/Preferences/StartHidden", "Start Hidden"},
    DefaultText{"Dialogs/Preferences/AutoPlay", "Automatically play on startup"},
    DefaultText{"Dialogs/Preferences/Proxy", "Proxy:"},
    DefaultText{"Dialogs/Preferences/ProxyPort", "Port:"},
    DefaultText{"Dialogs/Preferences/HistoryLength", "History length:"},
    DefaultText{"Dialogs/Preferences/IconFile", "Icon file:"},
    DefaultText{"Dialogs/Preferences/IconFilter", "Icon files"},
    DefaultText{"Dialogs/Preferences/Language", "Language:"},
    DefaultText{"Dialogs/Preferences/LanguageFilter", "Language XML files"},
    DefaultText{"Dialogs/Preferences/Editor", "Editor:"},
    DefaultText{"Dialogs/Preferences/ReconnectRetries", "Reconnect retries:"},
    DefaultText{"Dialogs/Preferences/RestartRetries", "Restart retries:"},
    DefaultText{"Dialogs/Preferences/MessengerString", "Messenger string:"},
    DefaultText{"Dialogs/Preferences/PeakMeter", "Peak meter"},
    DefaultText{"Dialogs/Preferences/MeterEnabled", "Enabled"},
    DefaultText{"Dialogs/Preferences/AdjustByVolume", "Adjust by volume"},
    DefaultText{"Dialogs/Preferences/ColorTop", "Top"},
    DefaultText{"Dialogs/Preferences/ColorBottom", "Bottom"},
    DefaultText{"Dialogs/Preferences/ColorBackground", "Background"},
    DefaultText{"Dialogs/Preferences/RecordingFolder", "Folder:"},
    DefaultText{"Dialogs/Preferences/SelectFolder", "Please select a folder to store recorded streams in."},
    DefaultText{"Dialogs/Preferences/FilePattern", "File name:"},
    DefaultText{"Dialogs/Preferences/MaxBuffer", "Buffer (KiB):"},
    DefaultText{"Dialogs/Preferences/DateFormat", "Date format:"},
    DefaultText{"Dialogs/Preferences/TimeFormat", "Time format:"},
    DefaultText{"Dialogs/Preferences/FormatReference", "Date and time formats"},
    DefaultText{"Dialogs/Preferences/LameEncodeOgg", "Encode Ogg Vorbis as MP3 (*)"},
    DefaultText{"Dialogs/Preferences/LameContinuous", "Continuous Encoding (**)"},
    DefaultText{"Dialogs/Preferences/LameBitrate", "MP3 bitrate (kbit/s):"},
    DefaultText{"Dialogs/Preferences/LameEncodeOggNote", "(*) Ogg Vorbis streams are recorded as MP3 files."},
    DefaultText{"Dialogs/Preferences/LameContinuousNote", "(**) The encoder runs all the time, so a recording begins with what was just heard."},
    DefaultText{"Dialogs/Preferences/BufferSize", "Buffer size (ms):"},
    DefaultText{"Dialogs/Preferences/HlsBandwidth", "Highest HLS bit rate (bit/s, 0: the best):"},
    DefaultText{"Dialogs/Preferences/PlayOnDevices", "Play on devices:"},
    DefaultText{"Dialogs/Preferences/Levelling", "Level stations to one loudness (EBU R128)"},
    DefaultText{"Dialogs/Preferences/LevellingTarget", "Levelling target (LUFS, -30 to -10):"},
    DefaultText{"Dialogs/About/Caption", "About Korvanel Radio"},
    DefaultText{"Dialogs/About/Credit", "Made by the Korvanel developers with FFmpeg, SDL2, LAME and Qt."},
    DefaultText{"Dialogs/About/Quote1", "\"Somewhere a song is starting just for you.\""},
    DefaultText{"Dialogs/About/Quote2", "\"Turn the dial, not the page.\""},
    DefaultText{"Dialogs/About/Quote3", "\"Every station was somebody's favourite once.\""},
    DefaultText{"Dialogs/About/Quote4", "\"Static is only music that has not been found yet.\""},
    DefaultText{"Dialogs/About/Quote5", "\"The best playlist is the one nobody wrote for you.\""},
    DefaultText{"Dialogs/About/Quote6", "\"Good radio sounds like a friend in the room.\""},
    DefaultText{"Dialogs/About/Quote7", "\"Between two songs there is always a story.\""},
    DefaultText{"Dialogs/About/Quote8", "\"Keep listening: the next song may be the one.\""},
    DefaultText{"Dialogs/OpenUrl/Caption", "Open URL"},
    DefaultText{"Main/FileMenu/ImportStations", "&Import Stations..."},
    DefaultText{"Main/FileMenu/ExportFavorites", "Expor&t Favorites..."},
    DefaultText{"Dialogs/Transfer/ImportCaption", "Import Stations"},
    DefaultText{"Dialogs/Transfer/ExportCaption", "Export Favorites"},
    DefaultText{"Dialogs/Transfer/ListFiles", "Station lists (*.m3u *.m3u8 *.pls *.xspf *.asx *.wax *.xml)"},
    DefaultText{"Dialogs/Transfer/AllFiles", "All files (*)"},
    DefaultText{"Dialogs/Transfer/M3uFiles", "M3U playlist (*.m3u)"},
    DefaultText{"Dialogs/Transfer/PlsFiles", "PLS playlist (*.pls)"},
    DefaultText{"Dialogs/Transfer/XspfFiles", "XSPF playlist (*.xspf)"},
    DefaultText{"Log/Message/StationsImported", "Imported %d stations from %s into the Favorites group %s"},
    DefaultText{"Log/Message/ImportNothingNew", "Every station of %s is in Favorites already"},
    DefaultText{"Log/Message/ImportTooLarge", "Could not import %s: favorites.xml would grow too large to read, so it was left as it was"},
    DefaultText{"Log/Message/ImportNotWritten", "Could not import %s: favorites.xml is missing, unreadable or not writable"},
    DefaultText{"Log/Message/ImportKnown", "%d stations of the list were in Favorites already and were left out"},
    DefaultText{"Log/Message/ImportSkipped", "%d entries name no network address or local file and were skipped"},
    DefaultText{"Log/Message/ImportLeftOut", "%d stations were left out: one import takes at most %d"},
    DefaultText{"Log/Message/ImportFailed", "Could not import %s: %s"},
    DefaultText{"Log/Message/ImportUnreadable", "the file cannot be read"},
    DefaultText{"Log/Message/ImportMalformed", "it is not well-formed XML (line %d)"},
    DefaultText{"Log/Message/ImportUnknownForm", "it is not an M3U, PLS, XSPF, ASX or favorites file"},
    DefaultText{"Log/Message/ImportNoStations", "it holds no station address"},
    DefaultText{"Log/Message/StationsExported", "Exported %d stations to %s"},
    DefaultText{"Log/Message/ExportUnreadable", "Could not export to %s: favorites.xml is missing or not a station list"},
    DefaultText{"Log/Message/ExportNotWritten", "Could not write %s; choose another folder or file name"},
    DefaultText{"Dialogs/FindStation/Caption", "Find Station"},
    DefaultText{"Dialogs/FindStation/Name", "Name:"},
    DefaultText{"Dialogs/FindStation/Tag", "Tag:"},
    DefaultText{"Dialogs/FindStation/Country", "Country:"},
    DefaultText{"Dialogs/FindStation/Search", "&Search"},
    DefaultText{"Dialogs/FindStation/Stop", "S&top"},
    DefaultText{"Dialogs/FindStation/Play", "&Play"},
    DefaultText{"Dialogs/FindStation/ColumnName", "Name"},
    DefaultText{"Dialogs/FindStation/ColumnCountry", "Country"},
    DefaultText{"Dialogs/FindStation/ColumnCodec", "Codec"},
    DefaultText{"Dialogs/FindStation/ColumnBitrate", "kbit/s"},
    DefaultText{"Dialogs/FindStation/ColumnPlays", "Plays"},
    DefaultText{"Dialogs/FindStation/Searching", "Searching.."},
    DefaultText{"Dialogs/FindStation/Found", "%d stations found"},
    DefaultText{"Dialogs/Buttons/Close", "Close"},
    DefaultText{"Main/FileMenu/FindStation", "Find &Station..."},
};

constexpr std::string_view kFlags = "-+ #0";
constexpr std::string_view kLengths = "hlLqjzt";

// One printf conversion starting at a '%'.
struct Conversion {
    std::size_t length = 0;  // bytes from the '%' through the conversion letter
    char letter = 0;         // 0 when the text ends inside the conversion
    bool starArgument = false;
    bool hugeWidth = false;  // a width or precision beyond any buffer here
    std::string flagsAndWidth;  // flags, width and precision, no length modifier
};

Conversion scanConversion(std::string_view text, std::size_t percent) {
    Conversion conversion;
    std::size_t pos = percent + 1;
    const auto take = [&](auto accept) {
        while (pos < text.size() && accept(text[pos])) {
            if (text[pos] == '*') {
                conversion.starArgument = true;
            }
            conversion.flagsAndWidth += text[pos];
            ++pos;
        }
    };
    take([](char c) { return kFlags.find(c) != std::string_view::npos; });
    take([](char c) { return (c >= '0' && c <= '9') || c == '*'; });
    // One '.' at most: "%..0s" or "%5.3.2s" is no conversion printf knows,
    // and must not reach it as one.
    if (pos < text.size() && text[pos] == '.') {
        conversion.flagsAndWidth += '.';
        ++pos;
        take([](char c) { return (c >= '0' && c <= '9') || c == '*'; });
    }
    unsigned number = 0;
    for (const char c : conversion.flagsAndWidth) {
        number = (c >= '0' && c <= '9') ? std::min(number * 10 + static_cast<unsigned>(c - '0'), 100000u) : 0;
        if (number > kFormattedTextMaxBytes) {
            conversion.hugeWidth = true;
        }
    }
    while (pos < text.size() && kLengths.find(text[pos]) != std::string_view::npos) {
        ++pos;
    }
    if (pos < text.size()) {
        conversion.letter = text[pos];
        ++pos;
    }
    conversion.length = pos - percent;
    return conversion;
}

char signatureLetter(const Conversion& conversion) {
    if (conversion.starArgument || conversion.hugeWidth) {
        return '?';
    }
    switch (conversion.letter) {
        case 's': return 's';
        case 'd':
        case 'i': return 'd';
        default: return '?';
    }
}

}  // namespace

std::span<const DefaultText> defaultTexts() { return kDefaultTexts; }

void registerDefaultTexts(SettingsStore& store) {
    for (const auto& text : kDefaultTexts) {
        store.put(text.key, SettingType::String, text.text);
    }
}

std::string conversionSignature(std::string_view format) {
    std::string signature;
    for (std::size_t pos = 0; pos < format.size(); ++pos) {
        if (format[pos] != '%') {
            continue;
        }
        if (pos + 1 < format.size() && format[pos + 1] == '%') {
            ++pos;
            continue;
        }
        const Conversion conversion = scanConversion(format, pos);
        signature += signatureLetter(conversion);
        pos += conversion.length - 1;
    }
    return signature;
}

int rejectMismatchedTexts(SettingsStore& language) {
    int rejected = 0;
    for (const auto& text : kDefaultTexts) {
        // Only texts stored as strings are ever shown, so only those can harm.
        if (!language.contains(text.key)) {
            continue;
        }
        const std::string loaded = language.getString(text.key);
        if (!loaded.empty() && conversionSignature(loaded) != conversionSignature(text.text)) {
            language.put(text.key, SettingType::String, text.text);
            ++rejected;
        }
    }
    return rejected;
}

std::string formatText(std::string_view format, std::initializer_list<TextArg> args) {
    std::string out;
    auto next = args.begin();
    std::size_t pos = 0;
    while (pos < format.size() && out.size() <= kFormattedTextMaxBytes) {
        const std::size_t percent = format.find('%', pos);
        if (percent == std::string_view::npos) {
            out.append(format.substr(pos));
            break;
        }
        out.append(format.substr(pos, percent - pos));
        if (percent + 1 < format.size() && format[percent + 1] == '%') {
            out += '%';
            pos = percent + 2;
            continue;
        }
        const Conversion conversion = scanConversion(format, percent);
        const std::string_view literal = format.substr(percent, conversion.length);
        pos = percent + conversion.length;

        const char letter = signatureLetter(conversion);
        if (letter == '?' || next == args.end()) {
            out.append(literal);
            continue;
        }
        const TextArg& arg = *next;
        if (letter == 's' && std::holds_alternative<std::string_view>(arg)) {
            ++next;
            // The conversion is rebuilt from checked characters only, so the
            // library sees a format this code wrote, never the text's own.
            const std::string conversionText = "%" + conversion.flagsAndWidth + "s";
            const std::string value(std::get<std::string_view>(arg));
            const int needed = std::snprintf(nullptr, 0, conversionText.c_str(), value.c_str());
            if (needed > 0) {
                std::string piece(static_cast<std::size_t>(needed) + 1, '\0');
                std::snprintf(piece.data(), piece.size(), conversionText.c_str(), value.c_str());
                piece.resize(static_cast<std::size_t>(needed));
                out.append(piece);
            }
        } else if (letter == 'd' && std::holds_alternative<std::int64_t>(arg)) {
            ++next;
            const std::string conversionText = "%" + conversion.flagsAndWidth + "lld";
            char piece[512];
            std::snprintf(piece, sizeof piece, conversionText.c_str(),
                          static_cast<long long>(std::get<std::int64_t>(arg)));
            out.append(piece);
        } else {
            out.append(literal);
        }
    }
    return std::string(truncateUtf8(out, kFormattedTextMaxBytes));
}

}  // namespace korvanel
