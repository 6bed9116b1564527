// What the player watches of the machine: the user CPU time of every process, the processor limit and the
// power status. One narrow interface with a Linux implementation over /proc and /sys; the folders are
// injectable so tests can point them at a tree of their own.
#pragma once

#include "Platform/Types.h"

#include <cstdint>
#include <filesystem>
#include <functional>
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

struct LinuxSystemPaths {
    std::filesystem::path proc = "/proc";
    std::filesystem::path sys = "/sys";
};

// Over /proc/<pid>/stat (kernel threads are left out: they are not programs and run no user time),
// /sys/devices/system/cpu (online processors; cpufreq scaling_max_freq against cpuinfo_max_freq and
// intel_pstate max_perf_pct, the lowest of them) and /sys/class/power_supply (batteries other than those of
// devices such as mice; any online mains, USB or other external supply means on line).
class LinuxSystemProbe final : public SystemProbe {
public:
    explicit LinuxSystemProbe(LinuxSystemPaths paths = {});

    void WalkProcesses(const std::function<bool(DWORD pid, std::uint64_t userTime)>& visit) override;
    DWORD CurrentProcessId() override;
    DWORD ProcessorCount() override;
    DWORD TickCount() override;
    std::optional<DWORD> MaxProcessorState() override;
    bool GetPowerStatus(PowerStatus* status) override;

    // For tests over a tree of their own: the id that counts as this process, and the clock.
    void SetCurrentProcessId(DWORD pid) { ownPid_ = pid; }
    void SetClock(std::function<DWORD()> clock) { clock_ = std::move(clock); }

private:
    LinuxSystemPaths paths_;
    std::optional<DWORD> ownPid_;
    std::function<DWORD()> clock_;
    std::uint64_t ticksPerSecond_;
};

} // namespace platform
