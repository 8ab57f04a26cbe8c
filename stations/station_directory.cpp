#include "stations/station_directory.h"

#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <memory>
#include <random>

#include <nlohmann/json.hpp>

#include "base/ascii_text.h"
#include "base/window_event.h"
#include "base/event_sink.h"
#include "settings/settings_store.h"
#include "stream/byte_buffer.h"
#include "stream/http_client.h"
#include "stream/source_classification.h"

namespace korvanel {

namespace {

constexpr std::size_t kMaxTextBytes = 1024;
constexpr std::size_t kMaxUrlBytes = 4096;
// A station's fields nest no deeper than this; an element that does is
// skipped. An answer nested deeper than the second bound is refused whole.
constexpr std::size_t kMaxDepth = 8;
constexpr std::size_t kMaxAnswerDepth = 64;

// A text from the directory as the window may show it: bounded, on one
// line, without control characters (a cut never splits a UTF-8 character).
std::string cleaned(const std::string& text, std::size_t bound) {
    std::string out;
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) {
            out += c;
        }
    }
    if (out.size() > bound) {
        std::size_t cut = bound;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        out.resize(cut);
    }
    return out;
}

// Only an address the player may connect to: a page may be opened in the
// browser and a stream played, so nothing but http:// and https://.
std::string webAddress(const std::string& text) {
    std::string address = cleaned(text, kMaxUrlBytes);
    return isWebAddress(address) ? address : std::string();
}

// Builds stations from the answer as it is read, keeping nothing else: no
// document tree, a bounded depth, and wrong types taken as missing fields.
// An element that is no station (not an object, nested too deeply, without
// a web address to play) is counted and skipped.
class StationReader : public nlohmann::json::json_sax_t {
public:
    StationReader(int limit, std::vector<DirectoryStation>& stations) : limit_(limit), stations_(stations) {}

    bool null() override { return value(); }
    bool boolean(bool) override { return value(); }
    bool number_integer(number_integer_t number) override { return numberValue(static_cast<double>(number)); }
    bool number_unsigned(number_unsigned_t number) override { return numberValue(static_cast<double>(number)); }
    bool number_float(number_float_t number, const string_t&) override { return numberValue(number); }
    bool binary(binary_t&) override { return value(); }
    bool string(string_t& text) override {
        if (depth_ == 2 && inStation_) {
            if (key_ == "stationuuid") {
                current_.uuid = cleaned(text, kMaxTextBytes);
            } else if (key_ == "name") {
                current_.name = cleaned(text, kMaxTextBytes);
            } else if (key_ == "url_resolved") {
                resolvedUrl_ = webAddress(text);
            } else if (key_ == "url") {
                givenUrl_ = webAddress(text);
            } else if (key_ == "homepage") {
                current_.homepage = webAddress(text);
            } else if (key_ == "country") {
                current_.country = cleaned(text, kMaxTextBytes);
            } else if (key_ == "countrycode") {
                current_.countryCode = cleaned(text, 8);
            } else if (key_ == "codec") {
                current_.codec = cleaned(text, 32);
            }
        }
        return value();
    }
    bool start_object(std::size_t) override {
        if (!enter()) {
            return false;
        }
        if (depth_ == 1) {
            return fail("the answer is not a list of stations");
        }
        if (depth_ == 2) {
            inStation_ = true;
            broken_ = false;
            current_ = {};
            resolvedUrl_.clear();
            givenUrl_.clear();
        }
        return true;
    }
    bool end_object() override {
        if (depth_-- == 2) {
            inStation_ = false;
            // The resolved stream first, else the address as listed.
            current_.url = !resolvedUrl_.empty() ? resolvedUrl_ : givenUrl_;
            if (broken_ || current_.url.empty()) {
                ++skipped_;
            } else if (static_cast<int>(stations_.size()) < limit_) {
                stations_.push_back(std::move(current_));
            }
        }
        return true;
    }
    bool start_array(std::size_t) override {
        if (!enter()) {
            return false;
        }
        if (depth_ == 2) {
            ++skipped_;  // a list in the list
        }
        return true;
    }
    bool end_array() override {
        --depth_;
        return true;
    }
    bool key(string_t& name) override {
        key_ = name.size() <= 32 ? name : std::string();
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::json::exception&) override {
        return fail("the answer is not JSON");
    }

    const std::string& error() const { return error_; }
    std::size_t skipped() const { return skipped_; }

private:
    bool enter() {
        if (++depth_ > kMaxAnswerDepth) {
            return fail("the answer is nested too deeply");
        }
        if (depth_ > kMaxDepth) {
            broken_ = true;  // the station it is in is skipped
        }
        return true;
    }
    // The answer is a list; a plain value in it is no station.
    bool value() {
        if (depth_ == 0) {
            return fail("the answer is not a list of stations");
        }
        if (depth_ == 1) {
            ++skipped_;
        }
        return true;
    }
    bool numberValue(double number) {
        if (depth_ == 2 && inStation_) {
            const double bounded = std::clamp(number, 0.0, 1e15);
            if (key_ == "bitrate") {
                current_.bitrate = static_cast<int>(std::min(bounded, 100000.0));
            } else if (key_ == "clickcount") {
                current_.clicks = static_cast<std::int64_t>(bounded);
            } else if (key_ == "votes") {
                current_.votes = static_cast<std::int64_t>(bounded);
            }
        }
        return value();
    }
    bool fail(std::string why) {
        if (error_.empty()) {
            error_ = std::move(why);
        }
        return false;
    }

    int limit_;
    std::vector<DirectoryStation>& stations_;
    std::size_t depth_ = 0;
    bool inStation_ = false;
    bool broken_ = false;  // the current station holds a field nested too deeply
    std::size_t skipped_ = 0;
    std::string key_;
    DirectoryStation current_;
    std::string resolvedUrl_;
    std::string givenUrl_;
    std::string error_;
};

}  // namespace

StationDirectory::StationDirectory(HttpClient& http, const SettingsStore& settings, EventSink* events)
    : http_(http), settings_(settings), events_(events) {}

std::string StationDirectory::searchPath(const DirectoryQuery& query) {
    const int limit = std::clamp(query.limit, 1, kMaxResults);
    std::string path = "/json/stations/search?order=clickcount&reverse=true&hidebroken=true&limit=" +
                       std::to_string(limit);
    const auto add = [&path](const char* name, const std::string& value) {
        if (!value.empty()) {
            path += std::string("&") + name + "=" + percentEncoded(value);
        }
    };
    add("name", query.text);
    add("tag", query.tag);
    add("countrycode", query.country);
    add("codec", query.codec);
    return path;
}

bool StationDirectory::parse(std::string_view json, int limit, std::vector<DirectoryStation>& stations,
                             std::string& error, std::size_t* skipped) {
    stations.clear();
    StationReader reader(std::clamp(limit, 1, kMaxResults), stations);
    const bool parsed = nlohmann::json::sax_parse(json, &reader, nlohmann::json::input_format_t::json, true);
    if (!parsed) {
        error = reader.error().empty() ? "the answer is not JSON" : reader.error();
        stations.clear();
    }
    if (skipped != nullptr) {
        *skipped = parsed ? reader.skipped() : 0;
    }
    return parsed;
}

std::vector<std::string> StationDirectory::servers() const {
    const std::string setting = settings_.getString(kServerKey);
    if (!setting.empty() && setting != kDefaultServer) {
        return {setting};
    }
    // The round-robin name's addresses, each under its own name (which its
    // certificate names), in random order so that the load spreads.
    std::vector<std::string> found;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo("all.api.radio-browser.info", "443", &hints, &list) == 0) {
        const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(list, &::freeaddrinfo);
        for (const addrinfo* address = list; address != nullptr; address = address->ai_next) {
            char host[NI_MAXHOST];
            if (::getnameinfo(address->ai_addr, address->ai_addrlen, host, sizeof host, nullptr, 0, NI_NAMEREQD) ==
                0) {
                const std::string server = "https://" + std::string(host);
                if (std::find(found.begin(), found.end(), server) == found.end()) {
                    found.push_back(server);
                }
            }
        }
    }
    std::shuffle(found.begin(), found.end(), std::mt19937(std::random_device{}()));
    found.push_back(kDefaultServer);  // the name itself, last
    return found;
}

StationDirectory::Result StationDirectory::search(const DirectoryQuery& query, int stopFd) {
    Result result;
    const std::string path = searchPath(query);
    for (const std::string& server : servers()) {
        ByteBuffer body;
        if (!http_.fetch(server + path, body, stopFd)) {
            result.error = "the station directory at " + server + " did not answer";
            continue;
        }
        std::string why;
        if (!parse(body.view(), query.limit, result.stations, why, &result.skipped)) {
            result.error = "the station directory at " + server + " gave a broken answer: " + why;
            continue;
        }
        result.ok = true;
        result.error.clear();
        if (result.skipped > 0 && events_ != nullptr) {
            WindowEvent skipped = makeEvent(EventKind::DirectorySkipped);
            skipped.detail = static_cast<std::int64_t>(result.skipped);
            events_->post(std::move(skipped));
        }
        std::lock_guard<std::mutex> guard(lock_);
        lastServer_ = server;
        return result;
    }
    return result;
}

void StationDirectory::reportClick(const std::string& uuid) {
    if (uuid.empty() || uuid.size() > 64) {
        return;
    }
    std::string server;
    {
        std::lock_guard<std::mutex> guard(lock_);
        server = lastServer_;
    }
    if (!server.empty()) {
        http_.post(HttpRequest::fetchQuietly(server + "/json/url/" + percentEncoded(uuid)));
    }
}

}  // namespace korvanel
