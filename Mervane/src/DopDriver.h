// "dop:<pcm>": DSD over PCM, for DACs that take DSD only inside 176.4 kHz PCM frames. Used only when named:
// on a path that is not DoP-aware the markers play as loud noise.
#pragma once

#include "PcmDevice.h"
#include "StreamDriver.h"

#include <optional>

namespace mervane {

// S32_LE if the device takes it at 176 400 Hz in two channels, else S24_3LE, else none.
std::optional<PcmFormat> ChooseDopFormat(PcmDevice& device);

// Makes and starts the DoP driver on an opened device; null (with *error) when it takes neither format.
std::unique_ptr<StreamDriver> StartDopDriver(std::unique_ptr<PcmDevice> device, std::string pcmName,
                                             std::string* error);

// Opens the ALSA PCM called pcmName and starts the DoP driver on it.
std::unique_ptr<DsdDriver> OpenDopDriver(std::string_view pcmName, std::string* error);

} // namespace mervane
