#include "cli/cli_options.h"

#include <functional>

namespace korvanel {
namespace {

constexpr std::size_t kMaxArgumentBytes = 8192;

std::optional<int> parseNumber(const std::string& text, int minimum, int maximum) {
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (value < minimum || value > maximum) {
        return std::nullopt;
    }
    return value;
}

bool isKnownCommand(const std::string& name) {
    return name == "play" || name == "record" || name == "resolve" || name == "list" || name == "favorites" || name == "search" ||
           name == "update-presets";
}

// Which options each command takes.
bool commandTakes(const std::string& command, const std::string& option) {
    if (command == "play") {
        return option == "--seconds" || option == "--pcm-out" || option == "--devices" ||
               option == "--volume" || option == "--favorite" || option == "--preset" || option == "--search";
    }
    if (command == "favorites") {
        return option == "--group" || option == "--title" || option == "--format";
    }
    if (command == "search") {
        return option == "--tag" || option == "--country" || option == "--codec" || option == "--limit";
    }
    if (command == "record") {
        return option == "--seconds" || option == "--folder" || option == "--pattern" ||
               option == "--favorite" || option == "--preset";
    }
    return false;
}

}  // namespace

CliParseResult parseCliArguments(const std::vector<std::string>& arguments) {
    CliOptions options;
    const auto fail = [](std::string message) { return CliParseResult{std::nullopt, std::move(message)}; };

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.size() > kMaxArgumentBytes) {
            return fail("an argument is longer than " + std::to_string(kMaxArgumentBytes) + " bytes");
        }
        const auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= arguments.size()) {
                return std::nullopt;
            }
            return arguments[++i];
        };

        if (argument == "--help" || argument == "-h") {
            options.help = true;
            continue;
        }
        if (argument == "--set") {
            const auto pair = value();
            const std::size_t equals = pair ? pair->find('=') : std::string::npos;
            if (!pair || equals == std::string::npos || equals == 0) {
                return fail("--set needs Key=Value, for example --set General/ReconnectRetries=5");
            }
            options.settingOverrides.emplace_back(pair->substr(0, equals), pair->substr(equals + 1));
            continue;
        }
        if (options.command.empty()) {
            if (!argument.empty() && argument[0] == '-') {
                return fail("unknown option " + argument + " before the command");
            }
            if (!isKnownCommand(argument)) {
                return fail("unknown command '" + argument + "'");
            }
            options.command = argument;
            continue;
        }
        if (argument.size() > 2 && argument.rfind("--", 0) == 0) {
            if (!commandTakes(options.command, argument)) {
                return fail(options.command + " does not take " + argument);
            }
            const auto text = value();
            if (!text) {
                return fail(argument + " needs a value");
            }
            const auto number = [&](int minimum, int maximum, std::optional<int>& into) {
                into = parseNumber(*text, minimum, maximum);
                return into.has_value();
            };
            bool ok = true;
            if (argument == "--seconds") {
                ok = number(1, 100000000, options.seconds);
            } else if (argument == "--volume") {
                ok = number(0, 100, options.volume);
            } else if (argument == "--favorite") {
                ok = number(1, 1000000, options.favorite);
            } else if (argument == "--preset") {
                ok = number(1, 1000000, options.preset);
            } else if (argument == "--pcm-out") {
                options.pcmOut = *text;
            } else if (argument == "--devices") {
                options.devices = *text;
            } else if (argument == "--folder") {
                options.folder = *text;
            } else if (argument == "--pattern") {
                options.pattern = *text;
            } else if (argument == "--limit") {
                ok = number(1, 200, options.limit);
            } else if (argument == "--tag") {
                options.tag = *text;
            } else if (argument == "--country") {
                options.country = *text;
            } else if (argument == "--codec") {
                options.codec = *text;
            } else if (argument == "--search") {
                options.search = *text;
            } else if (argument == "--group") {
                options.group = *text;
            } else if (argument == "--title") {
                options.title = *text;
            } else if (argument == "--format") {
                options.format = *text;
                ok = *text == "m3u" || *text == "pls" || *text == "xspf";
            }
            if (!ok || text->empty()) {
                return fail("bad value '" + *text + "' for " + argument);
            }
            continue;
        }
        options.sources.push_back(argument);
    }

    if (options.help) {
        return {options, {}};
    }
    if (options.command.empty()) {
        return fail("no command given");
    }
    const std::string& command = options.command;
    const bool station = options.favorite || options.preset || options.search;
    if ((options.favorite ? 1 : 0) + (options.preset ? 1 : 0) + (options.search ? 1 : 0) > 1) {
        return fail("give one of --favorite, --preset and --search");
    }
    if (command == "search" && options.sources.size() > 1) {
        return fail("search takes at most one text (quote a name with spaces)");
    }
    if ((command == "play" || command == "record") && options.sources.empty() && !station) {
        return fail(command + " needs at least one source, or --favorite N or --preset N");
    }
    if ((command == "play" || command == "record") && !options.sources.empty() && station) {
        return fail(command + " takes either sources or a station, not both");
    }
    if (command == "resolve" && options.sources.size() != 1) {
        return fail("resolve needs exactly one source");
    }
    if (command == "list") {
        if (options.sources.size() != 1 || (options.sources[0] != "favorites" && options.sources[0] != "presets" &&
                                            options.sources[0] != "devices")) {
            return fail("list needs 'favorites', 'presets' or 'devices'");
        }
        options.listWhich = options.sources[0];
        options.sources.clear();
    }
    if (command == "favorites") {
        const std::string action = options.sources.empty() ? "" : options.sources[0];
        if (options.sources.size() != 2 || (action != "add" && action != "import" && action != "export")) {
            return fail("favorites needs 'add' and one source, 'import' and one file, or 'export' and one file");
        }
        if (options.title && action != "add") {
            return fail("only favorites add takes --title");
        }
        if (options.format.has_value() != (action == "export")) {
            return fail(action == "export" ? "favorites export needs --format m3u, pls or xspf"
                                           : "only favorites export takes --format");
        }
        options.action = action;
        options.sources.erase(options.sources.begin());
    }
    if (command == "update-presets" && !options.sources.empty()) {
        return fail("update-presets takes no arguments");
    }
    return {options, {}};
}

const char* cliUsage() {
    return R"(Usage: korvanel-cli [--set Key=Value]... COMMAND [OPTIONS]

The headless Korvanel Radio: the same player as the desktop window, with the
console for a window. Log lines go to standard error. Settings are read from
and written to korvanel.xml in the program folder (KORVANEL_HOME when set).

Commands:
  play [OPTIONS] SOURCE...     play the sources as one station's list
  play [OPTIONS] --favorite N  play favourite number N (see list favorites)
  play [OPTIONS] --preset N    play preset number N (see list presets)
      --seconds N       stop after N seconds of playing
      --pcm-out FILE|-  write the 16-bit samples the sound card would get to
                        FILE or standard output instead of playing them
      --devices LIST    sound devices, such as 1 or 1,2 (with --pcm-out:
                        play there as well)
      --volume 0-100    volume for this run
  record [OPTIONS] SOURCE...   play silently and record to files
      --seconds N       stop after N seconds
      --folder DIR      recording folder (default: Recording/Path)
      --pattern P       file name pattern (default: Recording/FilePattern)
  resolve SOURCE               print the stream addresses a playlist yields
  list favorites|presets       print the numbered stations of a list
  list devices                 print the sound devices by the numbers --devices takes
  search [--tag T] [--country CC] [--codec C] [--limit N] [TEXT]
                               find stations in the station directory
  play [OPTIONS] --search TEXT play the directory's first station for TEXT
  favorites add [--group G] [--title T] SOURCE
                               keep a station in favorites.xml (at the end,
                               or at the end of group G; T defaults to SOURCE)
  favorites import [--group G] FILE
                               add the stations of an M3U, PLS, XSPF, ASX or
                               station-list file as group G (default: the
                               file's name), leaving out those already kept
  favorites export --format m3u|pls|xspf [--group G] FILE
                               write the favourites (or group G) to FILE
  update-presets               check the update server for new presets

Options for every command:
  --set Key=Value   change an existing setting for this run only (not saved),
                    for example --set General/ReconnectRetries=5
  --help            show this text

Exit status: 0 done, 1 the player or the command failed, 2 bad usage.
)";
}

}  // namespace korvanel
