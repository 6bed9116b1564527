// A sound card's mixer as the level control uses it: the playback elements by name, each with a volume in
// dB (or raw steps) and maybe an on/off switch. An interface, so the level mapping can be tested without
// a card.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace chanterel {

// One playback element. Volumes in hundredths of a dB, as ALSA counts them. Calls do not block for long.
class MixerElement {
public:
    virtual ~MixerElement() = default;
    // The element's dB range; false when it has no dB scale (then only raw steps are known).
    virtual bool DbRange(long* min, long* max) = 0;
    virtual bool SetDb(long centiDb) = 0; // every channel
    virtual bool GetDb(int channel, long* centiDb) = 0;
    virtual bool RawRange(long* min, long* max) = 0;
    virtual bool SetRaw(long value) = 0; // every channel
    virtual bool GetRaw(int channel, long* value) = 0;
    // The playback switch (on = sound plays); HasSwitch false when the element has none.
    virtual bool HasSwitch() = 0;
    virtual bool SetSwitch(bool on) = 0;
    virtual bool GetSwitch(bool* on) = 0;
};

class Mixer {
public:
    virtual ~Mixer() = default;
    // Names of the elements with a playback volume, in the card's order.
    virtual std::vector<std::string> PlaybackVolumes() = 0;
    // The element called name; null when there is none. Owned by the mixer.
    virtual MixerElement* Element(const std::string& name) = 0;
};

// Opens card's mixer; null (with *error) when it cannot.
using MixerOpener = std::function<std::unique_ptr<Mixer>(int card, std::string* error)>;
std::unique_ptr<Mixer> OpenAlsaMixer(int card, std::string* error);

// The element a user would pick: the one named like the PCM's own name, else "PCM", else "Master", else
// the first playback volume. Case is ignored. Empty when there is no playback volume at all.
std::string ChooseElement(const std::vector<std::string>& volumes, const std::string& pcmDeviceName);

} // namespace chanterel
