#include "DopDriver.h"

namespace mervane {

std::unique_ptr<StreamDriver> StartDopDriver(std::unique_ptr<PcmDevice> device, std::string pcmName,
                                             std::string* error, DsdRate rate) {
    const auto choice =
        ChooseCarrier(*device, kDopCarrier, rate, pcmName,
                      "\"" + pcmName +
                          "\" takes neither S32_LE nor S24_3LE at 176 400, 352 800, 705 600 or 1 411 200 Hz, "
                          "so it cannot carry DoP",
                      " over DoP", error);
    if (!choice)
        return nullptr;
    return StartStreamDriver(std::move(device), std::make_unique<DopEncoder>(choice->format, rate),
                             OutputKind::Dop, pcmName, error, rate, choice->rates);
}

std::unique_ptr<DsdDriver> OpenDopDriver(std::string_view pcmName, std::string* error, DsdRate rate) {
    return OpenNamedPcmDriver("dop", "hw:1,0", pcmName, StartDopDriver, error, rate);
}

} // namespace mervane
