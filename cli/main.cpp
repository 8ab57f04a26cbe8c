// korvanel-cli: the headless player, recorder and tools on the same core as
// the desktop player.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/application.h"
#include "cli/cli_commands.h"
#include "cli/cli_options.h"
#include "cli/console_window.h"
#include "audio/engine/audio_engine.h"
#include "cli/pcm_output.h"
#include "frontend/signal_watcher.h"

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

    // A closed pipe on --pcm-out - must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    SignalWatcher signals;
    std::unique_ptr<PcmOutput> pcmOutput;
    // Recording plays silently: the samples go to a card that plays nowhere.
    const bool recording = parsed.options->command == "record";
    if (parsed.options->pcmOut || recording) {
        pcmOutput = PcmOutput::open(recording ? std::string("/dev/null") : *parsed.options->pcmOut);
        if (!pcmOutput) {
            std::fprintf(stderr, "korvanel-cli: cannot write to %s: %s\n", parsed.options->pcmOut->c_str(),
                         std::strerror(errno));
            return kExitFailed;
        }
    }
    AudioLibraryFactory makeLibrary = Application::defaultAudioLibrary();
    if (pcmOutput) {
        makeLibrary = [file = pcmOutput->file()] {
            return std::make_unique<AudioEngine>(AudioEngine::Libraries{}, file);
        };
    }

    ConsoleWindow* console = nullptr;
    Application application(
        [&console](Application& app) {
            auto window = std::make_unique<ConsoleWindow>(app, stderr);
            console = window.get();
            return window;
        },
        makeLibrary);
    application.setSaveFailed([](const std::string& path) {
        std::fprintf(stderr, "korvanel-cli: could not save the settings to %s (is its folder writable?)\n",
                     path.c_str());
    });
    return runCliCommand(application, *console, *parsed.options, signals);
}
