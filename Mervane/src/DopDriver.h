// "dop:<pcm>": DSD over PCM, for DACs that take DSD only inside PCM frames (176.4 kHz for DSD64, two, four
// and eight times that for DSD128, DSD256 and DSD512). Used only when named: on a path that is not DoP-aware
// the markers play as loud noise.
#pragma once

#include "PcmDevice.h"
#include "StreamDriver.h"

namespace mervane {

// DoP: S32_LE if the device takes it in two channels at the PCM rate that carries the DSD rate (176 400 Hz
// for DSD64, 352 800 for DSD128, 705 600 for DSD256, 1 411 200 for DSD512), else S24_3LE, else none.
inline constexpr PcmFormat kDopFormats[] = {PcmFormat::S32Le, PcmFormat::S24_3Le};
inline constexpr unsigned DopFrameRate(PcmFormat, DsdRate rate) noexcept {
    return DopEncoder::RateFor(rate);
}
inline constexpr DsdCarrier kDopCarrier{kDopFormats, DopFrameRate};

// The DSD rates the device can carry as DoP.
inline DsdRateSet DopRates(PcmDevice& device) {
    return CarrierRates(device, kDopCarrier);
}

// Makes and starts the DoP driver on an opened device at rate; null (with *error) when it takes neither
// format at any rate, or not at this one (the error names the rates it takes).
std::unique_ptr<StreamDriver> StartDopDriver(std::unique_ptr<PcmDevice> device, std::string pcmName,
                                             std::string* error, DsdRate rate = DsdRate::kDsd64);

// Opens the ALSA PCM called pcmName and starts the DoP driver on it.
std::unique_ptr<DsdDriver> OpenDopDriver(std::string_view pcmName, std::string* error,
                                         DsdRate rate = DsdRate::kDsd64);

} // namespace mervane
