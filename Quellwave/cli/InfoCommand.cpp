#include "Commands.h"

#include "FileProbe.h"

#include "Platform/Text.h"

#include <cstdio>

namespace cli {

int RunInfo(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::fputs(UsageText(), stderr);
        return 2;
    }
    bool allAccepted = true;
    for (const auto& path : args) {
        const FileProbe probe = ProbeFile(path);
        const bool accepted = probe.kind != FileProbe::Kind::Rejected;
        allAccepted = allAccepted && accepted;
        const std::string text = accepted ? probe.description : "rejected (" + probe.reason + ")";
        std::printf("%s: %s\n", platform::ControlCharactersAsSpaces(path).c_str(), text.c_str());
    }
    return allAccepted ? 0 : 1;
}

} // namespace cli
