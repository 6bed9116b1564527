#include "AlsaDriver.h"

namespace mervane {

std::unique_ptr<StreamDriver> StartNativeDsdDriver(std::unique_ptr<PcmDevice> device, std::string pcmName,
                                                   std::string* error, DsdRate rate) {
    const auto choice = ChooseCarrier(
        *device, kNativeDsdCarrier, rate, pcmName,
        "\"" + pcmName +
            "\" takes no native DSD format (DSD_U32_BE, DSD_U32_LE, DSD_U16_BE, DSD_U16_LE, DSD_U8); "
            "a DAC that takes DSD over PCM plays through \"dop:" +
            pcmName + "\"",
        "", error);
    if (!choice)
        return nullptr;
    return StartStreamDriver(std::move(device), std::make_unique<NativeDsdEncoder>(choice->format, rate),
                             OutputKind::NativeDsd, pcmName, error, rate, choice->rates);
}

std::unique_ptr<DsdDriver> OpenAlsaDriver(std::string_view pcmName, std::string* error, DsdRate rate) {
    return OpenNamedPcmDriver("alsa", "hw:1,0", pcmName, StartNativeDsdDriver, error, rate);
}

} // namespace mervane
