// The subcommands of quellwave-cli. Each takes the arguments after its own name, writes its results to
// standard output and its complaints to standard error, and returns the process exit status.
#pragma once

#include <string>
#include <vector>

namespace cli {

// "info PATH...": one line per path; 0 when every path was accepted, 1 otherwise, 2 without paths.
int RunInfo(const std::vector<std::string>& args);

// "convert IN.wav OUT.dsf": 0 on success, 1 for a rejected input or a read/write failure, 2 for wrong
// arguments.
int RunConvert(const std::vector<std::string>& args);

// "play [--driver NAME] [--repeat off|one|all] [--rf-mode] [--gapless] PATH...": plays the files through the
// engine, one line per engine message on standard output. 0 played to the end, 1 bad arguments, 2 nothing
// playable, 3 the output driver cannot be opened, 4 the device failed during play, 130 interrupted.
int RunPlay(const std::vector<std::string>& args);

// Usage text for all subcommands.
const char* UsageText();

} // namespace cli
