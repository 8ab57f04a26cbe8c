#include "stations/preset_updater.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

#include "settings/settings_store.h"
#include "stations/station_list.h"
#include "stream/http_client.h"

namespace korvanel {
namespace {

bool fileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

PresetUpdater::PresetUpdater(SettingsStore& settings, HttpClient& httpClient, std::string presetsPath)
    : settings_(settings),
      httpClient_(httpClient),
      presetsPath_(std::move(presetsPath)),
      downloadPath_(presetsPath_ + ".download") {}

std::string PresetUpdater::serverBase() {
    const char* configured = std::getenv(kServerVariable);
    std::string base = configured != nullptr && *configured != '\0' ? configured : kDefaultServer;
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    return base;
}

int PresetUpdater::parseVersion(std::string_view body) {
    while (!body.empty() && isSpace(body.front())) {
        body.remove_prefix(1);
    }
    while (!body.empty() && (isSpace(body.back()) || body.back() == '\0')) {
        body.remove_suffix(1);
    }
    if (body.empty() || body.size() > 9) {
        return 0;  // not a number, or one beyond any version a server would give
    }
    int version = 0;
    for (const char c : body) {
        if (c < '0' || c > '9') {
            return 0;
        }
        version = version * 10 + (c - '0');
    }
    return version;
}

void PresetUpdater::check() {
    httpClient_.post(HttpRequest::fetchToMemory(serverBase() + "/update.php?check=presets"));
}

PresetUpdater::Result PresetUpdater::onVersion(std::string_view body) {
    const int serverVersion = parseVersion(body);
    const bool missing = !fileExists(presetsPath_);
    // A reply that is no version never makes a download due by itself.
    const bool newer = serverVersion > 0 && settings_.getInt(kLastUpdateKey) < serverVersion;
    if (!missing && !newer) {
        return Result::NothingDue;
    }
    // Stored before the download, so a failing download is not retried until
    // the server's version grows.
    settings_.setInt(kLastUpdateKey, serverVersion);
    httpClient_.post(
        HttpRequest::downloadToFile(serverBase() + "/update.php?fetch=presets", downloadPath_));
    return Result::Downloading;
}

PresetUpdater::Result PresetUpdater::onDownloaded() {
    StationList downloaded;
    downloaded.setPath(downloadPath_);
    downloaded.load();
    // An error page served as 200, or a broken list, never replaces the
    // list the user has.
    if (downloaded.stationCount() == 0 || std::rename(downloadPath_.c_str(), presetsPath_.c_str()) != 0) {
        std::remove(downloadPath_.c_str());
        return Result::Failed;
    }
    return Result::Updated;
}

PresetUpdater::Result PresetUpdater::onDownloadFailed() {
    std::remove(downloadPath_.c_str());
    return Result::Failed;
}

const char* PresetUpdater::messageKey(Result result) {
    switch (result) {
        case Result::Updated: return "Main/Message/PresetsOk";
        case Result::Failed: return "Main/Message/PresetsFailed";
        case Result::CheckFailed:
        case Result::NothingDue:
        case Result::Downloading: break;
    }
    return nullptr;
}

}  // namespace korvanel
