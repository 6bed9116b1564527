// Mixer over libasound's simple mixer interface.
#include "Mixer.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cctype>
#include <map>

namespace chanterel {

namespace {

class AlsaElement final : public MixerElement {
public:
    explicit AlsaElement(snd_mixer_elem_t* e) : e_(e) {}
    bool DbRange(long* min, long* max) override {
        return snd_mixer_selem_get_playback_dB_range(e_, min, max) == 0;
    }
    bool SetDb(long centiDb) override {
        // The nearest step, whichever side of the wanted value it lies on.
        long down = 0, up = 0, downDb = 0, upDb = 0;
        if (snd_mixer_selem_ask_playback_dB_vol(e_, centiDb, -1, &down) < 0 ||
            snd_mixer_selem_ask_playback_dB_vol(e_, centiDb, 1, &up) < 0 ||
            snd_mixer_selem_ask_playback_vol_dB(e_, down, &downDb) < 0 ||
            snd_mixer_selem_ask_playback_vol_dB(e_, up, &upDb) < 0)
            return snd_mixer_selem_set_playback_dB_all(e_, centiDb, -1) == 0;
        return SetRaw(centiDb - downDb <= upDb - centiDb ? down : up);
    }
    bool GetDb(int channel, long* centiDb) override {
        return snd_mixer_selem_get_playback_dB(e_, Channel(channel), centiDb) == 0;
    }
    bool RawRange(long* min, long* max) override {
        return snd_mixer_selem_get_playback_volume_range(e_, min, max) == 0;
    }
    bool SetRaw(long value) override { return snd_mixer_selem_set_playback_volume_all(e_, value) == 0; }
    bool GetRaw(int channel, long* value) override {
        return snd_mixer_selem_get_playback_volume(e_, Channel(channel), value) == 0;
    }
    bool HasSwitch() override { return snd_mixer_selem_has_playback_switch(e_) != 0; }
    bool SetSwitch(bool on) override { return snd_mixer_selem_set_playback_switch_all(e_, on ? 1 : 0) == 0; }
    bool GetSwitch(bool* on) override {
        int value = 0;
        if (snd_mixer_selem_get_playback_switch(e_, SND_MIXER_SCHN_FRONT_LEFT, &value) < 0)
            return false;
        *on = value != 0;
        return true;
    }

private:
    // A mono element has only its first channel.
    snd_mixer_selem_channel_id_t Channel(int channel) const {
        if (snd_mixer_selem_is_playback_mono(e_) || channel != 1)
            return SND_MIXER_SCHN_FRONT_LEFT;
        return SND_MIXER_SCHN_FRONT_RIGHT;
    }
    snd_mixer_elem_t* e_;
};

class AlsaMixer final : public Mixer {
public:
    explicit AlsaMixer(snd_mixer_t* m) : m_(m) {
        for (snd_mixer_elem_t* e = snd_mixer_first_elem(m_); e; e = snd_mixer_elem_next(e)) {
            if (!snd_mixer_selem_is_active(e) || !snd_mixer_selem_has_playback_volume(e))
                continue;
            // Elements with an index (a second "PCM") are told apart by it.
            std::string name = snd_mixer_selem_get_name(e);
            if (snd_mixer_selem_get_index(e) != 0)
                name += "," + std::to_string(snd_mixer_selem_get_index(e));
            names_.push_back(name);
            elements_.emplace(name, AlsaElement(e));
        }
    }
    ~AlsaMixer() override { snd_mixer_close(m_); }
    AlsaMixer(const AlsaMixer&) = delete;
    AlsaMixer& operator=(const AlsaMixer&) = delete;

    std::vector<std::string> PlaybackVolumes() override { return names_; }
    MixerElement* Element(const std::string& name) override {
        const auto it = elements_.find(name);
        return it == elements_.end() ? nullptr : &it->second;
    }

private:
    snd_mixer_t* m_;
    std::vector<std::string> names_;
    std::map<std::string, AlsaElement> elements_;
};

void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

std::unique_ptr<Mixer> OpenAlsaMixer(int card, std::string* error) {
    // Failures are reported once by the level control, in its own words.
    snd_lib_error_set_handler(IgnoreAlsaMessage);
    snd_mixer_t* m = nullptr;
    const std::string name = "hw:" + std::to_string(card);
    int err = snd_mixer_open(&m, 0);
    if (err == 0 && (err = snd_mixer_attach(m, name.c_str())) == 0 &&
        (err = snd_mixer_selem_register(m, nullptr, nullptr)) == 0 && (err = snd_mixer_load(m)) == 0)
        return std::make_unique<AlsaMixer>(m);
    if (m)
        snd_mixer_close(m);
    if (error)
        *error = "cannot open the mixer of card " + std::to_string(card) + ": " + snd_strerror(err);
    return nullptr;
}

std::string ChooseElement(const std::vector<std::string>& volumes, const std::string& pcmDeviceName) {
    for (const std::string& wanted : {pcmDeviceName, std::string("PCM"), std::string("Master")}) {
        if (wanted.empty())
            continue;
        for (const std::string& v : volumes)
            if (SameText(v, wanted))
                return v;
    }
    return volumes.empty() ? std::string() : volumes.front();
}

} // namespace chanterel
