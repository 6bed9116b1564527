#include "DopDriver.h"

namespace mervane {

std::optional<PcmFormat> ChooseDopFormat(PcmDevice& device) {
    for (PcmFormat format : {PcmFormat::S32Le, PcmFormat::S24_3Le}) {
        if (device.Accepts(format, DopEncoder::kRate))
            return format;
    }
    return std::nullopt;
}

std::unique_ptr<StreamDriver> StartDopDriver(std::unique_ptr<PcmDevice> device, std::string pcmName,
                                             std::string* error) {
    const auto format = ChooseDopFormat(*device);
    if (!format) {
        if (error)
            *error =
                "\"" + pcmName + "\" takes neither S32_LE nor S24_3LE at 176 400 Hz, so it cannot carry DoP";
        return nullptr;
    }
    return StartStreamDriver(std::move(device), std::make_unique<DopEncoder>(*format), OutputKind::Dop,
                             pcmName, error);
}

std::unique_ptr<DsdDriver> OpenDopDriver(std::string_view pcmName, std::string* error) {
    return OpenNamedPcmDriver("dop", "hw:1,0", pcmName, StartDopDriver, error);
}

} // namespace mervane
