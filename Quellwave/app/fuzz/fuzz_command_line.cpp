// Feeds arbitrary arguments (NUL-separated) to the command line's readers and arbitrary lines to the
// single instance's request reader: none may crash, a "/cdplay" letter is always a letter, every file
// taken is an absolute path that named something in its argument, and a request is one of the two lines.
#include "app/CommandLine.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> argv;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= bytes.size(); ++i) {
        if (i == bytes.size() || bytes[i] == '\0') {
            argv.emplace_back(bytes.substr(start, i - start));
            start = i + 1;
        }
    }
    const app::CommandLine line = app::ParseCommandLine(argv);
    if (const auto letter = app::CdPlayLetter(line.args);
        letter && !std::isalpha(static_cast<unsigned char>(*letter)))
        std::abort();
    for (bool rfMode : {false, true}) {
        for (const std::string& file : app::CommandLineFiles(line.args, rfMode, "/nonexistent-start"))
            if (file.empty() || file.front() != '/')
                std::abort();
    }
    const app::InstanceRequest request = app::ParseInstanceRequest(bytes);
    if (request != app::InstanceRequest::None && bytes != "raise\n" && bytes != "reload\n")
        std::abort();
    return 0;
}
