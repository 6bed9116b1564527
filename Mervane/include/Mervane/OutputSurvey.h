// What the machine's sound devices can take, for choosing an output name.
#pragma once

#include "Platform/DsdRate.h"

#include <string>
#include <vector>

namespace mervane {

struct OutputReport {
    std::string pcmName;                    // "hw:1,0", "default"
    std::string description;                // card and device names as ALSA reports them
    std::vector<std::string> nativeFormats; // the native DSD formats it takes at the DSD64 frame rates
    std::vector<std::string> dopFormats;    // the formats it takes at 176 400 Hz that can carry DoP
    std::string pcmFormat;                  // the PCM preview's choice ("S32_LE at 88200 Hz"); empty: none
    platform::DsdRateSet nativeRates = 0;   // the DSD rates it takes in some native format
    platform::DsdRateSet dopRates = 0;      // the DSD rates it can carry as DoP
    std::string error;                      // why it could not be opened (busy, ...); empty when probed
};

// Every playback device of every card (hw:C,D), then "default". Opens each in turn (so a device in use by
// another program shows as busy). Blocks on device I/O; any thread.
std::vector<OutputReport> SurveyOutputs();

} // namespace mervane
