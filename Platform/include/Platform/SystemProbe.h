// What the player watches of the machine: the user CPU time of every process, the processor limit and the
// power status. One narrow interface (OpenSystemProbe gives this machine's); the folders it reads are
// injectable so tests can point them at a tree of their own.
#pragma once

#include "Platform/Types.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace platform {

struct PowerStatus {
    BYTE ACLineStatus = 255;       // 0 off line (on battery), 1 on line, 255 unknown
    BYTE BatteryLifePercent = 255; // 0..100, 255 unknown (also: no battery)
};

// Not thread-safe: one user at a time (the UI thread).
class SystemProbe {
public:
    virtual ~SystemProbe() = default;
    // Calls visit(pid, userTime) for each running process whose user CPU time could be read, in the order
    // the system lists them; userTime is in 100 ns units and counts all the process's threads. Processes
    // that cannot be read (protected, or gone meanwhile) are skipped. Stops when visit returns false.
    virtual void WalkProcesses(const std::function<bool(DWORD pid, std::uint64_t userTime)>& visit) = 0;
    virtual DWORD CurrentProcessId() = 0;
    // Processors as the system reports them; 0 when unknown.
    virtual DWORD ProcessorCount() = 0;
    // Milliseconds on a clock that never goes back, wrapping at 2^32.
    virtual DWORD TickCount() = 0;
    // The highest processor performance allowed, in percent of the processors' own maximum; nothing when
    // it cannot be read.
    virtual std::optional<DWORD> MaxProcessorState() = 0;
    // False when the power status cannot be read at all; *status is then untouched.
    virtual bool GetPowerStatus(PowerStatus* status) = 0;
};

// Where the system publishes what the probe reads (the process and device trees); tests point them at a
// tree of their own.
struct SystemProbeFolders {
    std::filesystem::path proc = "/proc";
    std::filesystem::path sys = "/sys";
};

// The probe of this machine, reading below folders.
std::unique_ptr<SystemProbe> OpenSystemProbe(SystemProbeFolders folders = {});

} // namespace platform
