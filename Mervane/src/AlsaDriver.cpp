#include "AlsaDriver.h"

namespace mervane {

std::optional<PcmFormat> ChooseNativeDsdFormat(PcmDevice& device, DsdRate rate) {
    for (PcmFormat format : kNativeDsdFormats) {
        if (device.Accepts(format, DsdFrameRate(format, rate)))
            return format;
    }
    return std::nullopt;
}

DsdRateSet NativeDsdRates(PcmDevice& device) {
    DsdRateSet rates = 0;
    for (DsdRate rate : platform::kDsdRates)
        if (ChooseNativeDsdFormat(device, rate))
            rates |= platform::DsdRateBit(rate);
    return rates;
}

std::unique_ptr<StreamDriver> StartNativeDsdDriver(std::unique_ptr<PcmDevice> device, std::string pcmName,
                                                   std::string* error, DsdRate rate) {
    const DsdRateSet rates = NativeDsdRates(*device);
    if (rates == 0) {
        if (error)
            *error =
                "\"" + pcmName +
                "\" takes no native DSD format (DSD_U32_BE, DSD_U32_LE, DSD_U16_BE, DSD_U16_LE, DSD_U8); "
                "a DAC that takes DSD over PCM plays through \"dop:" +
                pcmName + "\"";
        return nullptr;
    }
    const auto format = ChooseNativeDsdFormat(*device, rate);
    if (!format) {
        if (error)
            *error = RateRefusedText(pcmName, rate, rates);
        return nullptr;
    }
    return StartStreamDriver(std::move(device), std::make_unique<NativeDsdEncoder>(*format, rate),
                             OutputKind::NativeDsd, pcmName, error, rate, rates);
}

std::unique_ptr<DsdDriver> OpenAlsaDriver(std::string_view pcmName, std::string* error, DsdRate rate) {
    return OpenNamedPcmDriver("alsa", "hw:1,0", pcmName, StartNativeDsdDriver, error, rate);
}

} // namespace mervane
