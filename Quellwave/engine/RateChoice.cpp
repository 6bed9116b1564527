#include "RateChoice.h"

#include "CPlaybackEngine.h"

#include "shell/Settings.h"

namespace engine {

DsdRate PcmRateFor(DWORD setting, platform::DsdRateSet outputRates) noexcept {
    const DsdRate wanted = platform::DsdRateFromNumber(DsdRateFromSetting(setting)).value_or(DsdRate::kDsd64);
    return platform::HighestDsdRate(outputRates, wanted).value_or(DsdRate::kDsd64);
}

std::string RateRefusalText(const std::string& driverName, DsdRate rate, platform::DsdRateSet outputRates) {
    return "the output \"" + driverName + "\" does not take " + platform::DsdRateName(rate) + "; it takes " +
           platform::DsdRateSetText(outputRates);
}

// ---- the engine's choice for the current track

bool CPlaybackEngine::RateTaken(const CDSDASIO* device) {
    const DsdRate rate = TrackRate();
    const platform::DsdRateSet rates = device->Rates();
    if (platform::DsdRateSetHas(rates, rate))
        return true;
    std::string refusal = RateRefusalText(DriverName(), rate, rates);
    std::lock_guard lock(control_.mutex);
    control_.rateRefusal = std::move(refusal);
    return false;
}

std::string CPlaybackEngine::RateRefusal() const {
    std::lock_guard lock(control_.mutex);
    return control_.rateRefusal;
}

DsdRate CPlaybackEngine::PcmRate() const {
    const DWORD setting = dsdRateOverride_ ? *dsdRateOverride_ : ReadDsdRate();
    // DSD64 when nothing is open yet (the output thread opens the driver at start-up, before any track
    // plays).
    const CDSDASIO* device = outputProcessor_.GetDSDASIO(0);
    return PcmRateFor(setting, device ? device->Rates() : 0);
}

} // namespace engine
