// What the level control needs to know about the DSD output that is open now, and the software level the
// PCM preview applies. Process-wide: there is one DSD output device.
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

// The output open now. Any thread.
OutputInfo CurrentOutput();
// The generation alone, cheap enough to ask before every level call. Any thread; never blocks.
std::uint64_t CurrentOutputGeneration() noexcept;

// Underruns recovered by every ALSA output of this process so far (the device ran dry and was restarted).
std::uint64_t TotalUnderruns() noexcept;

// The gain (0.0 .. 1.0, linear) the PCM preview multiplies its samples by; the level control sets it.
// Any thread; lock-free.
void SetSoftwareGain(float gain) noexcept;
float SoftwareGain() noexcept;

// For the drivers: publishes the output they opened (returns its generation) and withdraws it when they
// close (only if it is still the current one).
std::uint64_t PublishOutput(OutputKind kind, std::string pcmName, int card, std::string deviceName);
void WithdrawOutput(std::uint64_t generation);
void CountUnderrun() noexcept;

} // namespace platform
