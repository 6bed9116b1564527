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
    auto driver = std::make_unique<StreamDriver>(std::move(device), std::make_unique<DopEncoder>(*format),
                                                 OutputKind::Dop, pcmName);
    if (!driver->Start(error))
        return nullptr;
    return driver;
}

std::unique_ptr<DsdDriver> OpenDopDriver(std::string_view pcmName, std::string* error) {
    if (pcmName.empty()) {
        if (error)
            *error = "\"dop:\" needs an ALSA device name after the colon, e.g. dop:hw:1,0";
        return nullptr;
    }
    auto device = OpenAlsaPcm(pcmName, error);
    if (!device)
        return nullptr;
    return StartDopDriver(std::move(device), std::string(pcmName), error);
}

} // namespace mervane
