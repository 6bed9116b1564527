// Running the real quellwave-cli (or any shell command) from a test and collecting what a user sees: the
// exit status and both output streams.
#pragma once

#include "TestKit/Bytes.h"
#include "TestKit/RegistrySandbox.h"
#include "TestKit/Scratch.h"

#include <gtest/gtest.h>

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

// A test of the program: a scratch folder for its files, and a registry and kernel drive list of its own
// which every command it starts inherits, so that no run reads or changes the user's settings.
class CliFixture : public ::testing::Test {
protected:
    RunResult Shell(const std::string& command) const { return clitest::Shell(command, dir_.Path()); }
    // quellwave-cli with args, each quoted.
    RunResult Cli(const std::vector<std::string>& args) const { return Shell(CliCommand(args)); }
    // quellwave-cli with an argument line already quoted for sh, given up after two minutes.
    RunResult CliLine(const std::string& args) const;
    // Writes a file into the scratch folder and returns its path.
    std::string Write(const std::string& name, const testkit::Bytes& bytes) const;

    testkit::RegistrySandbox registry_{"cli"};
    testkit::ScratchFolder dir_{"cli"};
};

} // namespace clitest
