// "quellwave-cli outputs": the machine's sound devices and the DSD modes each takes.
#pragma once

#include <string>
#include <vector>

namespace cli {

// Lists every playback device of every ALSA card with the native DSD formats and the DoP formats it takes,
// and the PCM preview's format on it and on "default", each with the driver name to use. Opens each device
// briefly (one in use shows as busy). Takes no arguments: 0 listed, 2 bad arguments.
int RunOutputs(const std::vector<std::string>& args);

} // namespace cli
