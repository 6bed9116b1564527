// Running the real quellwave-cli (or any shell command) from a test and collecting what a user sees: the
// exit status and both output streams.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace clitest {

struct RunResult {
    int status = -1; // the exit code; -1 when the command was ended by a signal
    std::string out, err;
};

// A path or word quoted for sh, whatever characters it holds.
std::string Quote(const std::filesystem::path& path);

// The command line that runs quellwave-cli with args, each quoted.
std::string CliCommand(const std::vector<std::string>& args);

// Runs a shell command line with no input. Its output streams go through two files in `scratch`
// ("cli-stdout", "cli-stderr"), replaced at each run.
RunResult Shell(const std::string& command, const std::filesystem::path& scratch);

// Whether a program of that name is on the PATH.
bool Have(const std::string& tool);

} // namespace clitest
