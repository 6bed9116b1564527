// "alsa:<pcm>": native DSD64 to a DAC through ALSA.
#pragma once

#include "PcmDevice.h"
#include "StreamDriver.h"

#include <optional>

namespace mervane {

// The native DSD formats in the order they are tried; each at its DsdFrameRate.
inline constexpr PcmFormat kNativeDsdFormats[] = {PcmFormat::DsdU32Be, PcmFormat::DsdU32Le,
                                                  PcmFormat::DsdU16Be, PcmFormat::DsdU16Le, PcmFormat::DsdU8};

// The first native DSD format the device takes in two channels at the rate that carries DSD64; none when
// it takes none of them (a PCM-only device).
std::optional<PcmFormat> ChooseNativeDsdFormat(PcmDevice& device);

// Makes and starts the native DSD driver on an opened device. Null (with *error) when the device takes no
// native DSD format or refuses its settings.
std::unique_ptr<StreamDriver> StartNativeDsdDriver(std::unique_ptr<PcmDevice> device, std::string pcmName,
                                                   std::string* error);

// Opens the ALSA PCM called pcmName and starts the native DSD driver on it.
std::unique_ptr<DsdDriver> OpenAlsaDriver(std::string_view pcmName, std::string* error);

} // namespace mervane
