#include "cli/cli_commands.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>

#include "app/application.h"
#include "app/program_path.h"
#include "cli/console_window.h"
#include "cli/text_menu.h"
#include "settings/settings_store.h"

namespace korvanel {
namespace {

// Puts the overridden settings back as they were when it goes, so that the
// Application's save at shutdown never stores them.
class SettingOverrides {
public:
    explicit SettingOverrides(SettingsStore& settings) : settings_(settings) {}
    ~SettingOverrides() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            settings_.put(it->first, it->second.type, it->second.text);
        }
    }
    SettingOverrides(const SettingOverrides&) = delete;
    SettingOverrides& operator=(const SettingOverrides&) = delete;

    // False (nothing changed) for a key the settings do not have.
    bool apply(const std::string& key, const std::string& text) {
        const auto entries = settings_.entries();
        const auto it = entries.find(key);
        if (it == entries.end()) {
            return false;
        }
        saved_.emplace_back(key, it->second);
        settings_.put(key, it->second.type, text);
        return true;
    }

private:
    SettingsStore& settings_;
    std::vector<std::pair<std::string, SettingEntry>> saved_;
};

int listStations(const std::string& which) {
    StationList list;
    list.setPath(resolveProgramPath(which + ".xml"));
    list.load();
    std::vector<std::string> lines;
    const int baseId = which == "favorites" ? StationList::kFavoritesBaseId : StationList::kPresetsBaseId;
    TextMenu menu(baseId, lines);
    if (list.buildMenu(menu, baseId) == 0) {
        std::fprintf(stderr, "korvanel-cli: no stations in %s (missing or not a station list)\n",
                     list.path().c_str());
        return kExitFailed;
    }
    for (const auto& line : lines) {
        std::printf("%s\n", line.c_str());
    }
    return kExitOk;
}

int updatePresets(ConsoleWindow& console) {
    std::mutex lock;
    std::condition_variable settled;
    std::optional<PresetUpdater::Result> outcome;
    console.events().setPresetObserver([&](PresetUpdater::Result result) {
        if (result == PresetUpdater::Result::Downloading) {
            return;
        }
        std::lock_guard<std::mutex> guard(lock);
        outcome = result;
        settled.notify_all();
    });
    console.events().presetUpdater().check();

    std::unique_lock<std::mutex> wait(lock);
    // The client's own bounds end every fetch; this only guards against a lost event.
    const bool done = settled.wait_for(wait, std::chrono::minutes(2), [&] { return outcome.has_value(); });
    const PresetUpdater::Result result = done ? *outcome : PresetUpdater::Result::Failed;
    wait.unlock();
    console.events().setPresetObserver(nullptr);
    if (result == PresetUpdater::Result::NothingDue) {
        std::printf("Presets are up to date.\n");
    } else if (result == PresetUpdater::Result::CheckFailed) {
        std::fprintf(stderr,
                     "korvanel-cli: the update server %s did not answer; set %s to another server or "
                     "try again later\n",
                     PresetUpdater::serverBase().c_str(), PresetUpdater::kServerVariable);
    }
    // The outcome's log line (updated or failed) was written by the event handling.
    return result == PresetUpdater::Result::NothingDue || result == PresetUpdater::Result::Updated
               ? kExitOk
               : kExitFailed;
}

}  // namespace

int runCliCommand(Application& application, ConsoleWindow& console, const CliOptions& options) {
    SettingOverrides overrides(application.settings());
    for (const auto& [key, value] : options.settingOverrides) {
        if (!overrides.apply(key, value)) {
            std::fprintf(stderr, "korvanel-cli: there is no setting '%s' (see korvanel.xml)\n", key.c_str());
            return kExitUsage;
        }
    }
    if (!options.settingOverrides.empty()) {
        application.settings().notifyChanged();
    }

    if (options.command == "list") {
        return listStations(options.listWhich);
    }
    if (options.command == "update-presets") {
        return updatePresets(console);
    }
    std::fprintf(stderr, "korvanel-cli: '%s' is not available in this build yet\n", options.command.c_str());
    return kExitUsage;
}

}  // namespace korvanel
