#include "AlsaDriver.h"

namespace mervane {

std::optional<PcmFormat> ChooseNativeDsdFormat(PcmDevice& device) {
    for (PcmFormat format : kNativeDsdFormats) {
        if (device.Accepts(format, DsdFrameRate(format)))
            return format;
    }
    return std::nullopt;
}

std::unique_ptr<StreamDriver> StartNativeDsdDriver(std::unique_ptr<PcmDevice> device, std::string pcmName,
                                                   std::string* error) {
    const auto format = ChooseNativeDsdFormat(*device);
    if (!format) {
        if (error)
            *error =
                "\"" + pcmName +
                "\" takes no native DSD format (DSD_U32_BE, DSD_U32_LE, DSD_U16_BE, DSD_U16_LE, DSD_U8); "
                "a DAC that takes DSD over PCM plays through \"dop:" +
                pcmName + "\"";
        return nullptr;
    }
    return StartStreamDriver(std::move(device), std::make_unique<NativeDsdEncoder>(*format),
                             OutputKind::NativeDsd, pcmName, error);
}

std::unique_ptr<DsdDriver> OpenAlsaDriver(std::string_view pcmName, std::string* error) {
    return OpenNamedPcmDriver("alsa", "hw:1,0", pcmName, StartNativeDsdDriver, error);
}

} // namespace mervane
