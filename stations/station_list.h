#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "settings/xml_document.h"
#include "stations/station_menu.h"

namespace korvanel {

// One station-list file ("favorites.xml" or "presets.xml"): Groups (submenus),
// Stations (title, url, one source per child element) and Separators.
// Titled stations are numbered 1, 2, ... depth first; menu ids and lookup
// use the same numbers.
//
// Threads: belongs to the main window; not shared between threads.
class StationList {
public:
    static constexpr int kFavoritesBaseId = 3024;
    static constexpr int kPresetsBaseId = 4024;
    static constexpr int kMaxMenuId = 65535;
    static constexpr int kMaxGroupDepth = 15;
    // Larger files are not read: a station list is untrusted input.
    static constexpr std::size_t kMaxFileBytes = 32u * 1024 * 1024;

    using Logger = std::function<void(const std::string& line)>;

    StationList();
    ~StationList();

    void setPath(std::string path) { path_ = std::move(path); }
    const std::string& path() const { return path_; }
    // Told once per load when a menu has to leave stations out.
    void setLogger(Logger logger) { logger_ = std::move(logger); }

    // (Re)reads the file; on any failure the list is empty.
    void load();
    bool loaded() const { return document_ != nullptr; }
    // The number of titled stations, menu items or not.
    int stationCount() const;

    // Appends the list's items; returns the number of station items.
    int buildMenu(StationMenu& menu, int baseId);

    // The sources of station n, setting title() and url(); empty (title and
    // url unchanged) when there is no such station.
    std::vector<std::string> lookup(int n);
    const std::string& title() const { return title_; }
    const std::string& url() const { return url_; }

private:
    std::unique_ptr<XmlDocument> document_;
    std::string path_;
    std::string title_;
    std::string url_;
    Logger logger_;
    bool toldAboutOverflow_ = false;
};

}  // namespace korvanel
