#include "Commands.h"

#include "CDsdFileSource.h"
#include "CWaveSource.h"

#include <cstdio>

namespace {

struct FileInfo {
    bool accepted = false;
    std::string text; // "wav16 length_ms=N", "dsf length_ms=N rf_mode=required" or "rejected (reason)"
};

// Tries the readers in turn, as the engine does: WAV first, then DSF/DSDIFF. A file that starts like a
// DSD file is reported with the DSD reader's reason; anything else with the WAV reader's.
FileInfo Describe(const std::string& path) {
    CWaveSource wave;
    if (wave.Open(path.c_str())) {
        return {true, "wav" + std::to_string(wave.BytesPerSample() * 8) +
                          " length_ms=" + std::to_string(wave.LengthMs())};
    }
    // DSD files play only with useRFMode = 1, whatever the setting is now: the line says so.
    CDsdFileSource dsd;
    if (dsd.Open(path.c_str(), 1, 1)) {
        return {true, std::string(dsd.IsDsdiff() ? "dsdiff" : "dsf") +
                          " length_ms=" + std::to_string(dsd.LengthMs()) + " rf_mode=required"};
    }
    const DsdOpenError dsdError = dsd.LastOpenError();
    if (dsdError != DsdOpenError::NotDsd && dsdError != DsdOpenError::Unreadable)
        return {false, std::string("rejected (") + DsdOpenErrorText(dsdError) + ")"};
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
