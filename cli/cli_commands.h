#pragma once

#include "cli/cli_options.h"

namespace korvanel {

class Application;
class ConsoleWindow;
class SignalWatcher;

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Runs one command of korvanel-cli on a started Application whose window is
// the console; returns the exit status. Setting overrides hold for the run
// only and are undone before the Application saves.
// `signals` tells when the user asks the program to end (Ctrl-C).
int runCliCommand(Application& application, ConsoleWindow& console, const CliOptions& options,
                  SignalWatcher& signals);

}  // namespace korvanel
