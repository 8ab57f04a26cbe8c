#pragma once

#include <memory>
#include <string>
#include <vector>

#include "stations/station_menu.h"

namespace korvanel {

class Application;
class WindowEvents;
struct HistoryEntry;

// Command ids of the menus and buttons, as the window and its tests use them.
namespace command {
inline constexpr int kPlay = 1002;
inline constexpr int kStop = 1003;
inline constexpr int kMute = 1008;
inline constexpr int kPrevious = 1022;
inline constexpr int kRecord = 1047;
inline constexpr int kRecoverWindow = 2033;
inline constexpr int kNext = 1054;
inline constexpr int kOpenUrl = 2034;
inline constexpr int kUpdatePresets = 2036;
inline constexpr int kEditConfig = 2037;
inline constexpr int kEditFavorites = 2038;
inline constexpr int kReloadConfig = 2040;
inline constexpr int kReloadFavorites = 2041;
inline constexpr int kReloadPresets = 2042;
inline constexpr int kExit = 2044;
inline constexpr int kAlwaysOnTop = 2045;
inline constexpr int kPreferences = 2046;
inline constexpr int kCompressor = 2047;
inline constexpr int kSeparation100 = 2048;
inline constexpr int kSeparation25 = 2049;
inline constexpr int kSeparation50 = 2050;
inline constexpr int kSeparation75 = 2051;
inline constexpr int kSeparation0 = 2052;
inline constexpr int kReverseStereo = 2053;
inline constexpr int kOpenRecordingFolder = 2054;
inline constexpr int kLogWindow = 2055;
inline constexpr int kAbout = 2056;
inline constexpr int kRestoreTrayIcon = 2057;
inline constexpr int kHideOrShowWindow = 2058;
inline constexpr int kPlayFromClipboard = 2060;
inline constexpr int kCopySource = 2061;
inline constexpr int kCopyStationUrl = 2062;
inline constexpr int kCopyStationName = 2063;
inline constexpr int kCopyTrack = 2064;
inline constexpr int kCopyMessenger = 2065;
inline constexpr int kAddToFavorites = 2066;
inline constexpr int kFindStation = 2067;
inline constexpr int kLevelStations = 2068;
inline constexpr int kImportStations = 2069;
inline constexpr int kExportFavorites = 2070;
inline constexpr int kHistoryBase = 2974;    // + entry index, 0 the newest
inline constexpr int kHistoryLast = 3024;  // 51 entries: a longer history shows its newest 51
inline constexpr int kFavoritesBase = 3024;  // + station number, from 1
inline constexpr int kPresetsBase = 4024;
}  // namespace command

// One entry of a menu as the window shows it: an item, a separator or a
// popup with entries of its own. Toolkit-free, so the menus are built and
// tested without a window; the desktop turns the tree into real menus.
struct MenuEntry {
    enum class Kind { Item, Separator, Popup };
    Kind kind = Kind::Item;
    int id = 0;
    std::string caption;
    bool checked = false;
    bool enabled = true;
    bool isDefault = false;  // the item a double click would choose, shown bold
    std::vector<MenuEntry> children;  // a popup's entries

    static MenuEntry item(int id, std::string caption, bool checked = false, bool enabled = true);
    static MenuEntry separator();
    static MenuEntry popup(std::string caption);
};

// Collects what a station list builds into a popup entry; submenus may be
// filled in any order, and take() assembles the whole popup.
class MenuTreeBuilder final : public StationMenu {
public:
    explicit MenuTreeBuilder(std::string caption);
    void appendItem(int id, const std::string& caption) override;
    void appendSeparator() override;
    StationMenu& appendPopup(const std::string& caption) override;

    MenuEntry take();

private:
    MenuEntry popup_;
    // Submenus, by their place among the entries.
    std::vector<std::pair<std::size_t, std::unique_ptr<MenuTreeBuilder>>> children_;
};

// What the menus show that only the window knows.
struct WindowMenuState {
    bool logVisible = false;
    // Commands whose dialogs or tray do not exist yet show grey.
    bool dialogsAvailable = false;
    bool trayAvailable = false;
};

// The menu bar, File to Help, with every caption from the language texts
// and every check and grey state read from the core now.
MenuEntry buildMenuBar(Application& application, WindowEvents& events, const WindowMenuState& state);

// The Clipboard menu (copy what plays, play what was copied), and the
// right-click menu: the Clipboard menu, a separator and always on top.
MenuEntry buildClipboardMenu(Application& application);
MenuEntry buildContextMenu(Application& application);
// The tray icon's menu: hide or show (the default item), recover, the
// menus of the bar with the Clipboard menu before Help, play or stop,
// mute, exit.
MenuEntry buildTrayMenu(Application& application, WindowEvents& events, const WindowMenuState& state,
                        bool windowShown);

// "&a. Station name" for history entry i; the letters wrap after z, a text
// over 35 characters is cut there and gets "...".
std::string historyCaption(std::size_t index, const HistoryEntry& entry);

}  // namespace korvanel
