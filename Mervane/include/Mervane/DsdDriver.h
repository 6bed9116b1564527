// The narrow interface every DSD output driver implements, and the look-up of a driver by its name.
// Drivers: "alsa:<pcm>" native DSD to a DAC, "dop:<pcm>" DSD over PCM, "pcm:<pcm>" a PCM preview, "auto"
// the first of these the machine offers, "dsf:<path>" records the stream as a DSF file, "null" accepts
// blocks at the stream's rate and discards them. A driver is opened at one DSD rate (DSD64, DSD128, DSD256
// or DSD512) and says which rates its output takes.
#pragma once

#include "Platform/DsdRate.h"
#include "Platform/OutputLevelTarget.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace mervane {

using platform::DsdRate;
using platform::DsdRateSet;

// One DSD stereo stream, fed one block at a time: 4096 bytes per channel at every rate (11.6 ms at DSD64,
// 5.8 ms at DSD128, 2.9 ms at DSD256, 1.45 ms at DSD512), eight one-bit samples per byte, earliest sample in
// bit 0.
class DsdDriver {
public:
    static constexpr std::uint32_t kChannelBlockBytes = 4096;

    virtual ~DsdDriver() = default;

    // Output thread only. Hands over one block of each channel (kChannelBlockBytes bytes each; the
    // driver copies what it keeps). May block, as a device does while its buffer is full. Returns false
    // when the device failed; the block is then lost. Must not allocate.
    virtual bool WriteBlock(const std::uint8_t* left, const std::uint8_t* right) noexcept = 0;

    // Why the last WriteBlock failed, as an errno value (ENOSPC: the disk is full); 0 when not known.
    virtual int FailureErrno() const noexcept { return 0; }

    // Whether closing this driver after a failure and opening it again by its name may bring it back
    // (a device that was unplugged or reset). A recording cannot be reopened: that would start the file
    // afresh and lose what it holds.
    virtual bool Reopenable() const noexcept { return true; }
    // What this output is, for the level control: an ALSA output's kind, PCM name, card and device name;
    // OutputKind::None for one without a level of its own (a recording, the null sink). The generation
    // is left to the device that opened the driver. Any thread.
    virtual platform::OutputInfo Describe() const { return {}; }
    // The gain (0.0 .. 1.0) a driver with a software level (the PCM preview) applies from its next block
    // on; the others ignore it. Any thread; lock-free.
    virtual void SetSoftwareGain(float /*gain*/) noexcept {}
    // Underruns recovered so far (the device ran dry and was restarted). Any thread.
    virtual std::uint64_t Underruns() const noexcept { return 0; }

    // The rate the stream runs at now, and every rate the output takes (one of them). Any thread.
    virtual DsdRate Rate() const noexcept { return DsdRate::kDsd64; }
    virtual DsdRateSet Rates() const noexcept { return platform::kAllDsdRates; }
    // Output thread, between blocks. Carries the stream on at another rate in place, when the driver can
    // (a recording goes on in a new file, a clocked sink changes its clock); false when it cannot, and the
    // caller then opens the driver anew at that rate. Blocks on I/O.
    virtual bool ChangeRate(DsdRate /*rate*/) noexcept { return false; }

    // Finishes the stream (a recording gets its final header). Blocks on I/O. Returns false when that
    // failed. The driver accepts no blocks afterwards.
    virtual bool Close() noexcept = 0;
};

// Opens the driver a name selects, at rate: "alsa:<pcm>", "dop:<pcm>", "pcm:<pcm>" (an ALSA PCM name),
// "auto" (the first card taking native DSD, the one taking the highest rate first, else "pcm:default",
// else "null"; says on standard error which it took), "dsf:<path>" (path in UTF-8, created or truncated)
// or "null". Returns null for any other name, or when the driver cannot be opened or its output does not
// take the rate; *error (when given) then says why, naming the rates it takes. Blocks on I/O; any thread.
std::unique_ptr<DsdDriver> OpenDsdDriver(std::string_view name, std::string* error = nullptr,
                                         DsdRate rate = DsdRate::kDsd64);

// The rates the output a name selects takes, found by opening it (a recording is not created: "dsf:" and
// "null" take every rate). 0 when it cannot be opened; *error then says why. Blocks on I/O; any thread.
DsdRateSet ProbeDsdRates(std::string_view name, std::string* error = nullptr);

// Makes OpenDsdDriver open names that start with prefix through factory, which gets the rest of the name
// (and the error text to fill). For drivers that live outside this library, and for tests that need a
// driver of their own. Registered prefixes are tried before the built-in names, the latest first; their
// drivers are handed blocks at whatever rate the stream runs (ChangeRate tells them of a change).
// Thread-safe.
using DsdDriverFactory = std::function<std::unique_ptr<DsdDriver>(std::string_view rest, std::string* error)>;
void RegisterDsdDriver(std::string prefix, DsdDriverFactory factory);
// The same for a factory that opens its driver at the rate asked for.
using DsdDriverRateFactory =
    std::function<std::unique_ptr<DsdDriver>(std::string_view rest, std::string* error, DsdRate rate)>;
void RegisterDsdDriver(std::string prefix, DsdDriverRateFactory factory);

// The names OpenDsdDriver knows, for help texts.
const char* DsdDriverNamesText() noexcept;

} // namespace mervane
