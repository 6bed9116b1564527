// The machine's ALSA playback devices, behind an interface so that "auto" and the survey can be tested
// against a made-up machine.
#pragma once

#include "Mervane/DsdDriver.h"
#include "Mervane/OutputSurvey.h"
#include "PcmDevice.h"

#include <memory>
#include <string>
#include <vector>

namespace mervane {

struct HardwarePcm {
    std::string name;        // "hw:1,0"
    std::string description; // "card 1 (USB DAC), device 0 (USB Audio)"
};

class OutputSystem {
public:
    virtual ~OutputSystem() = default;
    // Every playback device of every card, cards in index order.
    virtual std::vector<HardwarePcm> PlaybackDevices() = 0;
    // Opens a playback PCM by name; null (with *error) when it cannot.
    virtual std::unique_ptr<PcmDevice> Open(const std::string& name, std::string* error) = 0;
};

// The real machine, through libasound.
std::unique_ptr<OutputSystem> AlsaOutputSystem();

// "auto": the first device of the first card that takes native DSD ("alsa:hw:C,D"), else the PCM preview
// on "default", else "null". *chosen gets the name of what was opened (and, for the first two, the device
// is opened only once). Never null: "null" always opens.
std::unique_ptr<DsdDriver> OpenAutoDriver(OutputSystem& system, std::string* chosen);

// The same survey as SurveyOutputs, on a given system.
std::vector<OutputReport> SurveyOutputs(OutputSystem& system);

} // namespace mervane
