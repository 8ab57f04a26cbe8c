#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace korvanel {

// What the command line of korvanel-cli asks for.
struct CliOptions {
    std::string command;  // play, record, resolve, list, update-presets, favorites
    bool help = false;
    std::vector<std::pair<std::string, std::string>> settingOverrides;  // --set Key=Value

    std::optional<int> seconds;
    std::optional<std::string> pcmOut;  // a file, or "-" for standard output
    std::optional<std::string> devices;
    std::optional<int> volume;
    std::optional<std::string> folder;
    std::optional<std::string> pattern;
    std::optional<int> favorite;
    std::optional<int> preset;
    std::optional<std::string> group;  // favorites add
    std::optional<std::string> title;  // favorites add
    std::string action;                 // favorites: add, import or export
    std::optional<std::string> format;  // favorites export: m3u, pls or xspf
    // search, and play --search
    std::optional<std::string> tag;
    std::optional<std::string> country;
    std::optional<std::string> codec;
    std::optional<int> limit;
    std::optional<std::string> search;
    std::string listWhich;  // favorites or presets
    std::vector<std::string> sources;
};

struct CliParseResult {
    std::optional<CliOptions> options;
    std::string error;  // one line, set when options is empty
};

CliParseResult parseCliArguments(const std::vector<std::string>& arguments);

// The text of --help.
const char* cliUsage();

}  // namespace korvanel
