#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace korvanel {

class EventSink;
class HttpClient;
class SettingsStore;

// One station of the public station directory. Every field comes from the
// network: texts are cut to a bound and cleaned of control characters, and
// the addresses are http:// or https:// ones or empty.
struct DirectoryStation {
    std::string uuid;  // the directory's key for the station
    std::string name;
    std::string url;   // the resolved stream address when the directory has one
    std::string homepage;
    std::string country;
    std::string countryCode;
    std::string codec;
    int bitrate = 0;
    std::int64_t clicks = 0;
    std::int64_t votes = 0;
};

struct DirectoryQuery {
    std::string text;     // part of the station's name
    std::string tag;
    std::string country;  // a two-letter country code
    std::string codec;
    int limit = 200;      // 1..kMaxResults
};

// The community station directory over its JSON web API: searches by name,
// tag, country and codec, ordered by popularity, broken stations left out,
// and reports the plays of its stations, as its rules for clients ask.
//
// The server is "Directory/Server"; the default names the directory's
// round-robin address, whose servers are tried in random order until one
// answers. Threads: search() and the click report may run on any thread.
class StationDirectory {
public:
    static constexpr const char* kServerKey = "Directory/Server";
    static constexpr const char* kDefaultServer = "https://all.api.radio-browser.info";
    static constexpr int kMaxResults = 200;

    // events, when given, hears how many elements of an answer were left
    // out (EventKind::DirectorySkipped).
    StationDirectory(HttpClient& http, const SettingsStore& settings, EventSink* events = nullptr);

    struct Result {
        bool ok = false;
        std::string error;  // for the user: what failed
        std::vector<DirectoryStation> stations;
        std::size_t skipped = 0;  // elements of the answer that were no station to play
    };
    // Blocks until the answer came or failed; a readable stopFd ends it.
    Result search(const DirectoryQuery& query, int stopFd = -1);
    // Tells the server that answered the last search that one of its
    // stations was played, on the HTTP client's workers; never waits.
    void reportClick(const std::string& uuid);

    // The request path of a query, its values percent-encoded.
    static std::string searchPath(const DirectoryQuery& query);
    // Reads a search answer: at most `limit` stations. An element that is
    // no station (not an object, a field nested deeper than stations are,
    // no http:// or https:// stream address) is left out and counted in
    // skipped. False (with why) for an answer that is not JSON, not a list,
    // or nested beyond all bounds.
    static bool parse(std::string_view json, int limit, std::vector<DirectoryStation>& stations, std::string& error,
                      std::size_t* skipped = nullptr);
    // The servers to try for a "Directory/Server" value, in the order to try
    // them.
    std::vector<std::string> servers() const;

private:
    HttpClient& http_;
    const SettingsStore& settings_;
    EventSink* events_;
    std::mutex lock_;
    std::string lastServer_;  // guarded by lock_
};

}  // namespace korvanel
