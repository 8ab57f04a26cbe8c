#pragma once

#include <string>
#include <string_view>

namespace korvanel {

class HttpClient;
class SettingsStore;

// Keeps "presets.xml" in step with the update server: asks for the server's
// presets version, downloads the list when it is newer (or the file is
// missing), and replaces the file only with a list that really holds
// stations. The HTTP work runs on the client's workers; their events reach
// the window's worker, which hands them to the on...() calls here and tells
// the user what came of it.
//
// Threads: check() from any thread; the on...() calls from the one thread
// that handles the window's events.
class PresetUpdater {
public:
    // The project runs no public update server yet; KORVANEL_UPDATE_SERVER
    // names one (a base address such as "http://127.0.0.1:8080").
    static constexpr const char* kDefaultServer = "http://updates.korvanel.example";
    static constexpr const char* kServerVariable = "KORVANEL_UPDATE_SERVER";
    static constexpr const char* kLastUpdateKey = "Session/LastPresetsUpdate";

    enum class Result {
        CheckFailed,  // the server did not answer the version check (silent)
        NothingDue,   // the server has nothing newer
        Downloading,  // a download was started
        Updated,      // "presets.xml" was replaced: reload it
        Failed,       // the download failed or was not a station list
    };

    PresetUpdater(SettingsStore& settings, HttpClient& httpClient, std::string presetsPath);

    // The server's base address, from the environment or built in.
    static std::string serverBase();
    // The reply to the version check as a number: a plain decimal number
    // (white space around it allowed), anything else 0.
    static int parseVersion(std::string_view body);

    void check();
    Result onVersion(std::string_view body);
    Result onCheckFailed() { return Result::CheckFailed; }
    Result onDownloaded();
    Result onDownloadFailed();

    // The language key of what to tell the user, or nullptr for nothing.
    static const char* messageKey(Result result);

    const std::string& downloadPath() const { return downloadPath_; }

private:
    SettingsStore& settings_;
    HttpClient& httpClient_;
    std::string presetsPath_;
    std::string downloadPath_;
};

}  // namespace korvanel
