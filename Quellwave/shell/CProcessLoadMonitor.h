// Watches the user CPU time of every process and reports the load of the busiest process other than the
// player: a sample every few seconds is compared with the one before, in a ring of four snapshots. Used
// only on the UI thread (the player panel's load timer and the start-up check).
#pragma once

#include "Platform/SystemProbe.h"
#include "Platform/Types.h"

#include <array>
#include <cstdint>
#include <vector>

class CProcessLoadMonitor {
public:
    static constexpr DWORD kInitialCapacity = 128;
    static constexpr DWORD kCapacityStep = 16;
    static constexpr DWORD kMaxCapacity = 512;
    static constexpr DWORD kSlots = 4;
    static constexpr DWORD kMaxWalkMs = 100; // a slower walk was disturbed and gives no reading
    static constexpr DWORD kNoProcess = 0xFFFFFFFF;

    // Reads the own process id and the processor count from probe and takes a first sample. probe must
    // outlive the monitor.
    explicit CProcessLoadMonitor(platform::SystemProbe& probe);
    CProcessLoadMonitor(const CProcessLoadMonitor&) = delete;
    CProcessLoadMonitor& operator=(const CProcessLoadMonitor&) = delete;

    // Takes a snapshot of every process's user time and compares it with the previous one. Returns the
    // busiest other process's share of the whole machine in percent (user time only), or 0 when no
    // comparison was possible: the first sample after a process started or ended, a walk slower than
    // 100 ms, or more processes than the arrays hold (they grow by 16 for the next walk, up to 512).
    unsigned Sample();
    // Milliseconds since the last usable sample; 0 when there is none or the clock has not advanced.
    DWORD TimeSinceLastSample() const;
    // Consecutive comparisons that found the same busiest process, 0..4; back to 0 whenever the number of
    // processes changes.
    DWORD RepeatCount() const noexcept { return repeatCount_; }
    DWORD Capacity() const noexcept { return capacity_; }
    DWORD ProcessorCount() const noexcept { return processorCount_; }

private:
    struct Busiest {
        unsigned load = 0;
        DWORD pid = kNoProcess;
    };
    Busiest Compare() const;
    void Allocate();

    platform::SystemProbe& probe_;
    std::array<std::vector<std::uint64_t>, kSlots> times_;
    DWORD referenceCount_ = 0;
    std::array<std::vector<DWORD>, kSlots> ids_;
    std::array<DWORD, kSlots> ticks_{};
    DWORD capacity_ = kInitialCapacity;
    DWORD sampleCount_ = 0;
    DWORD ownId_ = 0;
    DWORD processorCount_ = 1;
    DWORD lastBusiest_ = kNoProcess;
    DWORD repeatCount_ = 0;
    bool valid_ = false;
    DWORD slot_ = 0;
};

// The highest processor performance allowed, in percent; 100 when it cannot be read.
DWORD MaxProcessorState(platform::SystemProbe& probe);

// The load check's thresholds (machine section "App": OverloadValue, OverloadCountNum), each left at the
// given default when missing.
struct LoadThresholds {
    DWORD load;
    DWORD count;
};
LoadThresholds ReadLoadThresholds(DWORD defaultLoad, DWORD defaultCount = 2);
// Defaults of OverloadValue: the start-up warning and the playback check.
inline constexpr DWORD kStartupOverloadValue = 50;
inline constexpr DWORD kPlaybackOverloadValue = 30;

// The playback check (every 5 s): a sustained overload by the same process stops playback.
constexpr bool LoadCallsForPause(unsigned load, DWORD repeatCount,
                                 const LoadThresholds& thresholds) noexcept {
    return load > thresholds.load && repeatCount >= thresholds.count;
}

// The battery check while playing (every 10 s): nearly empty (5 % or less) on battery power. An unknown
// level (255) never stops playback.
constexpr bool BatteryCallsForStop(const platform::PowerStatus& status) noexcept {
    return status.BatteryLifePercent <= 5 && status.ACLineStatus == 0;
}

// One run of the battery timer (every 10 s from each start of play): Stop when the battery calls for it
// (the timer ends too); otherwise the timer stays only while playing, and ends when the power status
// cannot be read.
enum class BatteryTimerStep { Stop, KeepTimer, EndTimer };
BatteryTimerStep CheckBattery(platform::SystemProbe& probe, bool playing);
