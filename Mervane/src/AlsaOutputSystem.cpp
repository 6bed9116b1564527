// The machine's ALSA playback devices as an OutputSystem: the cards in index order, each card's playback
// devices, opened through the ALSA PCM device.
#include "OutputSystem.h"
#include "PcmDevice.h"

#include <alsa/asoundlib.h>

#include <string>

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

} // namespace mervane
