// "alsa:<pcm>": native DSD to a DAC through ALSA, at DSD64, DSD128, DSD256 or DSD512.
#pragma once

#include "PcmDevice.h"
#include "StreamDriver.h"

namespace mervane {

// The native DSD formats in the order they are tried; each at its DsdFrameRate.
inline constexpr PcmFormat kNativeDsdFormats[] = {PcmFormat::DsdU32Be, PcmFormat::DsdU32Le,
                                                  PcmFormat::DsdU16Be, PcmFormat::DsdU16Le, PcmFormat::DsdU8};
// Native DSD: the first of those the device takes in two channels at the frame rate that carries the DSD
// rate (none for a PCM-only device, or one that does not go that high).
inline constexpr DsdCarrier kNativeDsdCarrier{kNativeDsdFormats,
                                              static_cast<unsigned (*)(PcmFormat, DsdRate)>(DsdFrameRate)};

// The DSD rates the device takes in some native format.
inline DsdRateSet NativeDsdRates(PcmDevice& device) {
    return CarrierRates(device, kNativeDsdCarrier);
}

// Makes and starts the native DSD driver on an opened device at rate. Null (with *error) when the device
// takes no native DSD format, does not take the rate (the error names the rates it takes) or refuses its
// settings.
std::unique_ptr<StreamDriver> StartNativeDsdDriver(std::unique_ptr<PcmDevice> device, std::string pcmName,
                                                   std::string* error, DsdRate rate = DsdRate::kDsd64);

// Opens the ALSA PCM called pcmName and starts the native DSD driver on it.
std::unique_ptr<DsdDriver> OpenAlsaDriver(std::string_view pcmName, std::string* error,
                                          DsdRate rate = DsdRate::kDsd64);

} // namespace mervane
