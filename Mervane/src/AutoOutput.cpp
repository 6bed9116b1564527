// "auto", the ALSA device list, and the survey behind "quellwave-cli outputs".
#include "AlsaDriver.h"
#include "DopDriver.h"
#include "Mervane/OutputSurvey.h"
#include "NullDriver.h"
#include "OutputSystem.h"
#include "PcmPreviewDriver.h"

#include <alsa/asoundlib.h>

#include <cstdio>

namespace mervane {

namespace {

class AlsaSystem final : public OutputSystem {
public:
    std::vector<HardwarePcm> PlaybackDevices() override {
        QuietAlsaLibrary();
        std::vector<HardwarePcm> out;
        int card = -1;
        while (snd_card_next(&card) == 0 && card >= 0) {
            snd_ctl_t* ctl = nullptr;
            const std::string ctlName = "hw:" + std::to_string(card);
            if (snd_ctl_open(&ctl, ctlName.c_str(), 0) < 0)
                continue;
            snd_ctl_card_info_t* cardInfo = nullptr;
            snd_ctl_card_info_alloca(&cardInfo);
            std::string cardName;
            if (snd_ctl_card_info(ctl, cardInfo) == 0)
                cardName = snd_ctl_card_info_get_name(cardInfo);
            int device = -1;
            while (snd_ctl_pcm_next_device(ctl, &device) == 0 && device >= 0) {
                snd_pcm_info_t* info = nullptr;
                snd_pcm_info_alloca(&info);
                snd_pcm_info_set_device(info, static_cast<unsigned>(device));
                snd_pcm_info_set_subdevice(info, 0);
                snd_pcm_info_set_stream(info, SND_PCM_STREAM_PLAYBACK);
                if (snd_ctl_pcm_info(ctl, info) < 0)
                    continue; // a capture-only device
                out.push_back({"hw:" + std::to_string(card) + "," + std::to_string(device),
                               "card " + std::to_string(card) + " (" + cardName + "), device " +
                                   std::to_string(device) + " (" + snd_pcm_info_get_name(info) + ")"});
            }
            snd_ctl_close(ctl);
        }
        return out;
    }
    std::unique_ptr<PcmDevice> Open(const std::string& name, std::string* error) override {
        return OpenAlsaPcm(name, error);
    }
};

} // namespace

std::unique_ptr<OutputSystem> AlsaOutputSystem() {
    return std::make_unique<AlsaSystem>();
}

std::unique_ptr<DsdDriver> OpenAutoDriver(OutputSystem& system, std::string* chosen) {
    std::string error;
    for (const HardwarePcm& hw : system.PlaybackDevices()) {
        auto device = system.Open(hw.name, &error);
        if (!device || !ChooseNativeDsdFormat(*device))
            continue;
        if (auto driver = StartNativeDsdDriver(std::move(device), hw.name, &error)) {
            *chosen = "alsa:" + hw.name;
            return driver;
        }
    }
    if (auto device = system.Open("default", &error)) {
        if (auto driver = StartPcmPreviewDriver(std::move(device), "default", &error)) {
            *chosen = "pcm:default";
            return driver;
        }
    }
    *chosen = "null";
    return std::make_unique<NullDriver>();
}

std::vector<OutputReport> SurveyOutputs(OutputSystem& system) {
    std::vector<OutputReport> out;
    auto probe = [&](const std::string& name, const std::string& description, bool dsd) {
        OutputReport r;
        r.pcmName = name;
        r.description = description;
        auto device = system.Open(name, &r.error);
        if (device) {
            if (dsd) {
                for (PcmFormat f : kNativeDsdFormats)
                    if (device->Accepts(f, DsdFrameRate(f)))
                        r.nativeFormats.push_back(PcmFormatName(f));
                for (PcmFormat f : {PcmFormat::S32Le, PcmFormat::S24_3Le})
                    if (device->Accepts(f, DopEncoder::kRate))
                        r.dopFormats.push_back(PcmFormatName(f));
            }
            if (const auto c = ChoosePreviewFormat(*device))
                r.pcmFormat =
                    std::string(PcmFormatName(c->format)) + " at " + std::to_string(c->rate) + " Hz";
        }
        out.push_back(std::move(r));
    };
    for (const HardwarePcm& hw : system.PlaybackDevices())
        probe(hw.name, hw.description, true);
    probe("default", "the desktop's sound output", false);
    return out;
}

std::vector<OutputReport> SurveyOutputs() {
    auto system = AlsaOutputSystem();
    return SurveyOutputs(*system);
}

} // namespace mervane
