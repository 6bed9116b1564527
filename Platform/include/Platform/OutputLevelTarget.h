// What the level control needs from the DSD output: which output is open now, and where the PCM preview's
// software gain goes. The output device implements it and the engine hands it to the level control, so the
// two libraries meet only through the object the engine owns.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class OutputKind {
    None,       // no driver open, or one without a level of its own (dsf:, null)
    NativeDsd,  // alsa:<pcm>
    Dop,        // dop:<pcm>
    PcmPreview, // pcm:<pcm>
};

struct OutputInfo {
    OutputKind kind = OutputKind::None;
    std::string pcmName;          // the ALSA name it was opened with ("hw:1,0")
    int card = -1;                // the card the PCM sits on, -1 for none (a plugin, a sound server)
    std::string deviceName;       // the PCM's own name as the card reports it; may be empty
    std::uint64_t generation = 0; // changes whenever an output is opened or closed
};

class OutputLevelTarget {
public:
    virtual ~OutputLevelTarget() = default;
    // The output open now. Any thread.
    virtual OutputInfo CurrentOutput() const = 0;
    // The generation alone, cheap enough to ask before every level call. Any thread; never blocks.
    virtual std::uint64_t CurrentOutputGeneration() const noexcept = 0;
    // The gain (0.0 .. 1.0, linear) the PCM preview multiplies its samples by; it also holds for a preview
    // opened later. Any thread; never blocks for long.
    virtual void SetSoftwareGain(float gain) noexcept = 0;
};

} // namespace platform
