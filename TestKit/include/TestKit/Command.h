// What a shell command prints, for the tests that check a file with an outside tool (ffprobe, cd-info).
#pragma once

#include <cstdio>
#include <string>

namespace testkit {

// Everything the command writes to its standard output; empty when it cannot be started.
inline std::string CommandOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

} // namespace testkit
