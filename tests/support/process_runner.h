#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace korvanel::test {

struct ProcessResult {
    int exitCode = -1;  // -1 when it was killed or did not start
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Runs a program (no shell) with extra environment variables ("NAME=value"),
// collects its output, and kills it when the bound passes.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment = {},
                         std::chrono::milliseconds bound = std::chrono::seconds(30));

// The built korvanel-cli.
std::string cliPath();

}  // namespace korvanel::test
