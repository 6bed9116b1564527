#include "Commands.h"

#include "CWaveSource.h"

#include <cstdio>

namespace {

struct FileInfo {
    bool accepted = false;
    std::string text; // "wav16 length_ms=N" or "rejected (reason)"
};

// Tries the readers in turn. Only WAV exists so far; DSF and DSDIFF readers will be tried here before the
// WAV reason is reported, so that a file is rejected only when no reader takes it.
FileInfo Describe(const std::string& path) {
    CWaveSource wave;
    if (wave.Open(path.c_str())) {
        return {true, "wav" + std::to_string(wave.BytesPerSample() * 8) +
                          " length_ms=" + std::to_string(wave.LengthMs())};
    }
    return {false, std::string("rejected (") + WaveOpenErrorText(wave.LastOpenError()) + ")"};
}

} // namespace

int RunInfo(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::fputs(UsageText(), stderr);
        return 2;
    }
    bool allAccepted = true;
    for (const auto& path : args) {
        const FileInfo info = Describe(path);
        allAccepted = allAccepted && info.accepted;
        std::printf("%s: %s\n", path.c_str(), info.text.c_str());
    }
    return allAccepted ? 0 : 1;
}
