#pragma once

#include <atomic>

#include "cli/cli_options.h"

namespace korvanel {

class Application;
class ConsoleWindow;

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Runs one command of korvanel-cli on a started Application whose window is
// the console; returns the exit status. Setting overrides hold for the run
// only and are undone before the Application saves.
// `interrupted` turns true when the user asks the program to end (Ctrl-C).
int runCliCommand(Application& application, ConsoleWindow& console, const CliOptions& options,
                  const std::atomic<bool>& interrupted);

}  // namespace korvanel
