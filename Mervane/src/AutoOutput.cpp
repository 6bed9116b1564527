// "auto" and the survey behind "quellwave-cli outputs", over any OutputSystem.
#include "AlsaDriver.h"
#include "DopDriver.h"
#include "Mervane/OutputSurvey.h"
#include "NullDriver.h"
#include "OutputSystem.h"
#include "PcmPreviewDriver.h"

#include <cstdio>

namespace mervane {

namespace {

// The native DSD device "auto" takes: of those that take native DSD, the one whose highest rate is the
// highest, the first in card order among equals. Each device is opened once; the one chosen stays open.
struct NativeChoice {
    std::unique_ptr<PcmDevice> device;
    std::string name;
    DsdRateSet rates = 0;
};
NativeChoice ChooseNativeDevice(OutputSystem& system) {
    NativeChoice best;
    std::string error;
    for (const HardwarePcm& hw : system.PlaybackDevices()) {
        auto device = system.Open(hw.name, &error);
        if (!device)
            continue;
        const DsdRateSet rates = NativeDsdRates(*device);
        if (rates == 0)
            continue;
        if (best.device && platform::DsdRateMultiple(*platform::HighestDsdRate(rates)) <=
                               platform::DsdRateMultiple(*platform::HighestDsdRate(best.rates)))
            continue;
        best = {std::move(device), hw.name, rates};
        if (platform::DsdRateSetHas(rates, DsdRate::kDsd512))
            break; // nothing takes more
    }
    return best;
}

// The names of the carrier's formats the device takes in two channels at the frame rate of DSD64.
std::vector<std::string> FormatsAtDsd64(PcmDevice& device, const DsdCarrier& carrier) {
    std::vector<std::string> names;
    for (PcmFormat format : carrier.formats)
        if (device.Accepts(format, carrier.frameRate(format, DsdRate::kDsd64)))
            names.push_back(PcmFormatName(format));
    return names;
}

} // namespace

std::unique_ptr<DsdDriver> OpenAutoDriver(OutputSystem& system, std::string* chosen, DsdRate rate,
                                          std::string* error) {
    std::string why;
    if (NativeChoice native = ChooseNativeDevice(system); native.device) {
        if (!platform::DsdRateSetHas(native.rates, rate)) {
            if (error)
                *error = RateRefusedText("alsa:" + native.name, rate, native.rates);
            return nullptr;
        }
        if (auto driver = StartNativeDsdDriver(std::move(native.device), native.name, &why, rate)) {
            *chosen = "alsa:" + native.name;
            return driver;
        }
    }
    if (auto device = system.Open("default", &why)) {
        if (ChoosePreviewFormat(*device)) {
            if (rate != DsdRate::kDsd64) {
                if (error)
                    *error = RateRefusedText("pcm:default", rate, platform::DsdRateBit(DsdRate::kDsd64));
                return nullptr;
            }
            if (auto driver = StartPcmPreviewDriver(std::move(device), "default", &why)) {
                *chosen = "pcm:default";
                return driver;
            }
        }
    }
    *chosen = "null";
    return std::make_unique<NullDriver>(rate);
}

DsdRateSet AutoDriverRates(OutputSystem& system) {
    if (NativeChoice native = ChooseNativeDevice(system); native.device)
        return native.rates;
    std::string why;
    if (auto device = system.Open("default", &why); device && ChoosePreviewFormat(*device))
        return platform::DsdRateBit(DsdRate::kDsd64);
    return platform::kAllDsdRates;
}

std::vector<OutputReport> SurveyOutputs(OutputSystem& system) {
    std::vector<OutputReport> out;
    auto probe = [&](const std::string& name, const std::string& description, bool dsd) {
        OutputReport r;
        r.pcmName = name;
        r.description = description;
        auto device = system.Open(name, &r.error);
        if (device) {
            if (dsd) {
                r.nativeFormats = FormatsAtDsd64(*device, kNativeDsdCarrier);
                r.dopFormats = FormatsAtDsd64(*device, kDopCarrier);
                r.nativeRates = NativeDsdRates(*device);
                r.dopRates = DopRates(*device);
            }
            if (const auto c = ChoosePreviewFormat(*device))
                r.pcmFormat =
                    std::string(PcmFormatName(c->format)) + " at " + std::to_string(c->rate) + " Hz";
        }
        out.push_back(std::move(r));
    };
    for (const HardwarePcm& hw : system.PlaybackDevices())
        probe(hw.name, hw.description, true);
    probe("default", "the desktop's sound output", false);
    return out;
}

std::vector<OutputReport> SurveyOutputs() {
    auto system = AlsaOutputSystem();
    return SurveyOutputs(*system);
}

} // namespace mervane
