// Which reader takes a file, tried in the engine's order (WAV, then DSF/DSDIFF, then every other PCM
// file), and why none does.
#pragma once

#include <string>

namespace cli {

struct FileProbe {
    enum class Kind { Rejected, Wave, Dsd, PcmFile };
    Kind kind = Kind::Rejected;
    std::string description; // the info line after "path: ", without "rejected (...)"
    std::string reason;      // why it is rejected; empty when it is not
};

FileProbe ProbeFile(const std::string& path);

} // namespace cli
