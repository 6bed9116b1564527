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

// "auto": of the devices that take native DSD ("alsa:hw:C,D"), the one that takes the highest rate (the
// first of those in card order), else the PCM preview on "default", else "null". *chosen gets the name of
// what was opened (and, for the first two, the device is opened only once). At DSD64 never null: "null"
// always opens. At a higher rate null (with *error naming the rates it takes) when the device chosen does
// not take it.
std::unique_ptr<DsdDriver> OpenAutoDriver(OutputSystem& system, std::string* chosen,
                                          DsdRate rate = DsdRate::kDsd64, std::string* error = nullptr);
// The rates the output "auto" would open takes.
DsdRateSet AutoDriverRates(OutputSystem& system);

// The same survey as SurveyOutputs, on a given system.
std::vector<OutputReport> SurveyOutputs(OutputSystem& system);

} // namespace mervane
