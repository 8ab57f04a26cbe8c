// korvanel-cli: the headless player, recorder and tools on the same core as
// the desktop player.
#include <cstdio>
#include <string>
#include <vector>

#include "app/application.h"
#include "cli/cli_commands.h"
#include "cli/cli_options.h"
#include "cli/console_window.h"

int main(int argc, char** argv) {
    using namespace korvanel;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const CliParseResult parsed = parseCliArguments(arguments);
    if (!parsed.options) {
        std::fprintf(stderr, "korvanel-cli: %s (see korvanel-cli --help)\n", parsed.error.c_str());
        return kExitUsage;
    }
    if (parsed.options->help) {
        std::fputs(cliUsage(), stdout);
        return kExitOk;
    }

    ConsoleWindow* console = nullptr;
    Application application([&console](Application& app) {
        auto window = std::make_unique<ConsoleWindow>(app, stderr);
        console = window.get();
        return window;
    });
    return runCliCommand(application, *console, *parsed.options);
}
