// Station lists: any file is loaded, its menu built and its stations looked
// up, and imported as a list of another player's. Checked: menu ids run 1,
// 2, ... from the base id without gaps, never pass the id limit, submenus
// stay within the group depth, and each menu item's number looks up the
// station of that caption; an import keeps within its bounds, gives titles
// of valid UTF-8 on one line and addresses that read back as themselves,
// and its M3U export imports again as the same stations.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "settings/text_encoding.h"
#include "stations/station_export.h"
#include "stations/station_import.h"
#include "stations/station_list.h"
#include "stations/station_menu.h"
#include "stream/unique_fd.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_memory_file.h"

namespace {

using korvanel::StationList;

struct MenuItem {
    int id;
    std::string caption;
};

class RecordingMenu : public korvanel::StationMenu {
public:
    RecordingMenu(std::vector<MenuItem>& items, int depth) : items_(items), depth_(depth) {}

    void appendItem(int id, const std::string& caption) override { items_.push_back({id, caption}); }
    void appendSeparator() override {}
    StationMenu& appendPopup(const std::string&) override {
        FUZZ_CHECK(depth_ < StationList::kMaxGroupDepth);
        popups_.push_back(std::make_unique<RecordingMenu>(items_, depth_ + 1));
        return *popups_.back();
    }

private:
    std::vector<MenuItem>& items_;
    int depth_;
    std::vector<std::unique_ptr<RecordingMenu>> popups_;
};

void checkImport(const std::string& path) {
    const korvanel::StationImport imported = korvanel::importStations(path);
    FUZZ_CHECK(imported.stations.size() <= korvanel::kMaxImportStations);
    FUZZ_CHECK(imported.problem == korvanel::ImportProblem::None || imported.stations.empty());
    for (const korvanel::FavoriteStation& station : imported.stations) {
        FUZZ_CHECK(!station.title.empty() && korvanel::isValidUtf8(station.title));
        FUZZ_CHECK(station.title.find_first_of("\r\n") == std::string::npos);
        FUZZ_CHECK(!station.sources.empty());
        for (const std::string& source : station.sources) {
            FUZZ_CHECK(korvanel::importedAddress(source, "") == source);
        }
    }
    if (imported.stations.empty() || imported.stations.size() > 200) {
        return;
    }
    const std::string exported = korvanel::exportText(imported.stations, korvanel::ExportFormat::M3u);
    const korvanel::UniqueFd again = korvanel::fuzz::memoryFile("exported", exported);
    const korvanel::StationImport back = korvanel::importStations("/proc/self/fd/" + std::to_string(again.get()));
    FUZZ_CHECK(back.stations.size() == imported.stations.size());
    for (std::size_t i = 0; i < back.stations.size(); ++i) {
        FUZZ_CHECK(back.stations[i].title == imported.stations[i].title);
        FUZZ_CHECK(back.stations[i].sources.front() == imported.stations[i].sources.front());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const korvanel::UniqueFd file =
        korvanel::fuzz::memoryFile("station-list", std::string_view(reinterpret_cast<const char*>(data), size));
    checkImport("/proc/self/fd/" + std::to_string(file.get()));
    StationList list;
    list.setPath("/proc/self/fd/" + std::to_string(file.get()));
    int overflowNotes = 0;
    list.setLogger([&overflowNotes](const std::string&) { ++overflowNotes; });
    list.load();
    if (!list.loaded()) {
        FUZZ_CHECK(list.stationCount() == 0 && list.lookup(1).empty());
        return 0;
    }

    // Both real bases, and bases that leave room for only a few items.
    constexpr int kBases[] = {StationList::kFavoritesBaseId, StationList::kPresetsBaseId,
                              StationList::kPresetsBaseId - 3, StationList::kMaxMenuId - 2};
    const int baseId = kBases[size % std::size(kBases)];
    const int limit = baseId < StationList::kPresetsBaseId ? StationList::kPresetsBaseId : StationList::kMaxMenuId;

    std::vector<MenuItem> items;
    RecordingMenu menu(items, 0);
    const int built = list.buildMenu(menu, baseId);
    const int stations = list.stationCount();
    FUZZ_CHECK(built >= 0 && static_cast<std::size_t>(built) == items.size());
    FUZZ_CHECK(built <= stations && built <= limit - baseId);
    FUZZ_CHECK((built < stations) == (overflowNotes == 1));
    for (std::size_t i = 0; i < items.size(); ++i) {
        FUZZ_CHECK(items[i].id == baseId + 1 + static_cast<int>(i));
        FUZZ_CHECK(items[i].id <= limit);
    }

    // Lookups agree with the menu; the sampled numbers keep a run short.
    for (std::size_t i = 0; i < items.size(); i += 1 + items.size() / 64) {
        (void)list.lookup(items[i].id - baseId);
        FUZZ_CHECK(list.title() == items[i].caption);
    }
    const std::string lastTitle = list.title();
    FUZZ_CHECK(list.lookup(stations + 1).empty() && list.title() == lastTitle);
    FUZZ_CHECK(list.lookup(0).empty() && list.lookup(-1).empty());

    // A second build numbers the same way and tells about an overflow once.
    std::vector<MenuItem> again;
    RecordingMenu secondMenu(again, 0);
    FUZZ_CHECK(list.buildMenu(secondMenu, baseId) == built && again.size() == items.size());
    FUZZ_CHECK(overflowNotes <= 1);
    return 0;
}
