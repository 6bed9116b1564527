#include "DopDriver.h"

namespace mervane {

std::optional<PcmFormat> ChooseDopFormat(PcmDevice& device, DsdRate rate) {
    for (PcmFormat format : {PcmFormat::S32Le, PcmFormat::S24_3Le}) {
        if (device.Accepts(format, DopEncoder::RateFor(rate)))
            return format;
    }
    return std::nullopt;
}

DsdRateSet DopRates(PcmDevice& device) {
    DsdRateSet rates = 0;
    for (DsdRate rate : platform::kDsdRates)
        if (ChooseDopFormat(device, rate))
            rates |= platform::DsdRateBit(rate);
    return rates;
}

std::unique_ptr<StreamDriver> StartDopDriver(std::unique_ptr<PcmDevice> device, std::string pcmName,
                                             std::string* error, DsdRate rate) {
    const DsdRateSet rates = DopRates(*device);
    if (rates == 0) {
        if (error)
            *error = "\"" + pcmName +
                     "\" takes neither S32_LE nor S24_3LE at 176 400, 352 800 or 705 600 Hz, so it cannot "
                     "carry DoP";
        return nullptr;
    }
    const auto format = ChooseDopFormat(*device, rate);
    if (!format) {
        if (error)
            *error = RateRefusedText(pcmName, rate, rates) + " over DoP";
        return nullptr;
    }
    return StartStreamDriver(std::move(device), std::make_unique<DopEncoder>(*format, rate), OutputKind::Dop,
                             pcmName, error, rate, rates);
}

std::unique_ptr<DsdDriver> OpenDopDriver(std::string_view pcmName, std::string* error, DsdRate rate) {
    return OpenNamedPcmDriver("dop", "hw:1,0", pcmName, StartDopDriver, error, rate);
}

} // namespace mervane
