// The probe of a Linux machine, over /proc and /sys (OpenSystemProbe makes one); Platform's tests use it
// directly to set the process id and the clock.
#pragma once

#include "Platform/SystemProbe.h"

namespace platform {

// Over /proc/<pid>/stat (kernel threads are left out: they are not programs and run no user time),
// /sys/devices/system/cpu (online processors; cpufreq scaling_max_freq against cpuinfo_max_freq and
// intel_pstate max_perf_pct, the lowest of them) and /sys/class/power_supply (batteries other than those of
// devices such as mice; any online mains, USB or other external supply means on line).
class LinuxSystemProbe final : public SystemProbe {
public:
    explicit LinuxSystemProbe(SystemProbeFolders paths = {});

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
    SystemProbeFolders paths_;
    std::optional<DWORD> ownPid_;
    std::function<DWORD()> clock_;
    std::uint64_t ticksPerSecond_;
};

} // namespace platform
