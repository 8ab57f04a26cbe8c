#include "stations/station_export.h"

#include "base/ascii_text.h"
#include "settings/settings_file.h"
#include "stations/file_uri.h"

namespace korvanel {

namespace {

// A title on one line: a line end in it would start an entry of its own.
std::string oneLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
    return out;
}

std::string m3u(const std::vector<FavoriteStation>& stations) {
    std::string out = "#EXTM3U\n";
    for (const FavoriteStation& station : stations) {
        if (station.sources.empty()) {
            continue;
        }
        out.append("#EXTINF:-1,").append(oneLine(station.title)).append("\n");
        out.append(oneLine(station.sources.front())).append("\n");
    }
    return out;
}

std::string pls(const std::vector<FavoriteStation>& stations) {
    std::string out = "[playlist]\n";
    std::size_t number = 0;
    for (const FavoriteStation& station : stations) {
        if (station.sources.empty()) {
            continue;
        }
        const std::string n = std::to_string(++number);
        out.append("File").append(n).append("=").append(oneLine(station.sources.front())).append("\n");
        out.append("Title").append(n).append("=").append(oneLine(station.title)).append("\n");
        out.append("Length").append(n).append("=-1\n");
    }
    out.append("NumberOfEntries=").append(std::to_string(number)).append("\nVersion=2\n");
    return out;
}

std::string xspf(const std::vector<FavoriteStation>& stations) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\">\n"
        "  <trackList>\n";
    for (const FavoriteStation& station : stations) {
        if (station.sources.empty()) {
            continue;
        }
        const std::string& source = station.sources.front();
        out += "    <track>\n      <location>";
        out += escapeSettingText(oneLine(source.starts_with('/') ? fileUriOfPath(source) : source));
        out += "</location>\n      <title>";
        out += escapeSettingText(oneLine(station.title));
        out += "</title>\n    </track>\n";
    }
    out += "  </trackList>\n</playlist>\n";
    return out;
}

}  // namespace

std::optional<ExportFormat> exportFormatNamed(std::string_view name) {
    const std::string lower = lowerAscii(name);
    if (lower == "m3u") {
        return ExportFormat::M3u;
    }
    if (lower == "pls") {
        return ExportFormat::Pls;
    }
    if (lower == "xspf") {
        return ExportFormat::Xspf;
    }
    return std::nullopt;
}

std::string exportText(const std::vector<FavoriteStation>& stations, ExportFormat format) {
    switch (format) {
        case ExportFormat::M3u: return m3u(stations);
        case ExportFormat::Pls: return pls(stations);
        case ExportFormat::Xspf: return xspf(stations);
    }
    return {};
}

}  // namespace korvanel
