#include "CProcessLoadMonitor.h"

#include "CRegistrySection.h"
#include "Settings.h"

CProcessLoadMonitor::CProcessLoadMonitor(platform::SystemProbe& probe) : probe_(probe) {
    Allocate();
    ownId_ = probe_.CurrentProcessId();
    const DWORD processors = probe_.ProcessorCount();
    processorCount_ = processors == 0 || processors > 128 ? 1 : processors;
    Sample();
}

void CProcessLoadMonitor::Allocate() {
    for (DWORD slot = 0; slot < kSlots; ++slot) {
        times_[slot].assign(capacity_, 0);
        ids_[slot].assign(capacity_, 0);
    }
}

unsigned CProcessLoadMonitor::Sample() {
    unsigned result = 0;
    const DWORD t0 = probe_.TickCount();
    DWORD count = 0;
    bool failed = false;
    std::vector<std::uint64_t>& times = times_[slot_];
    std::vector<DWORD>& ids = ids_[slot_];
    probe_.WalkProcesses([&](DWORD pid, std::uint64_t userTime) {
        if (count >= capacity_) {
            // The arrays are too small for this machine: grow them for the next walk and give up on this
            // one (the grown arrays start empty).
            if (capacity_ < kMaxCapacity) {
                capacity_ += kCapacityStep;
                Allocate();
            }
            failed = true;
            return false;
        }
        times[count] = userTime;
        ids[count] = pid;
        ++count;
        return true;
    });
    const DWORD t1 = probe_.TickCount();
    // Measured as a difference so that the clock's wrap after 49.7 days does not look like a slow walk.
    if (failed || t1 - t0 > kMaxWalkMs) {
        valid_ = false;
        slot_ = 0;
        sampleCount_ = 0;
        repeatCount_ = 0;
        return 0;
    }
    ticks_[slot_] = t1;
    if (count == referenceCount_) {
        if (valid_) {
            const Busiest busiest = Compare();
            result = busiest.load;
            if (busiest.pid == lastBusiest_) {
                repeatCount_ = std::min<DWORD>(repeatCount_ + 1, 4);
            } else {
                repeatCount_ = 1;
                lastBusiest_ = busiest.pid;
            }
        } else {
            repeatCount_ = 1;
            lastBusiest_ = kNoProcess;
        }
    } else {
        // A process started or ended: this snapshot becomes the new base in slot 0.
        if (slot_ != 0) {
            std::copy_n(times_[slot_].begin(), count, times_[0].begin());
            std::copy_n(ids_[slot_].begin(), count, ids_[0].begin());
            ticks_[0] = ticks_[slot_];
        }
        referenceCount_ = count;
        slot_ = 0;
        sampleCount_ = 0;
        repeatCount_ = 0;
    }
    sampleCount_ = std::min<DWORD>(sampleCount_ + 1, 4);
    slot_ = (slot_ + 1) % kSlots;
    valid_ = true;
    return result;
}

CProcessLoadMonitor::Busiest CProcessLoadMonitor::Compare() const {
    const DWORD current = slot_;
    const DWORD previous = (slot_ + kSlots - 1) % kSlots;
    const DWORD n = referenceCount_;
    DWORD largest = 0;
    Busiest busiest;
    for (DWORD i = 0; i < n; ++i) {
        const DWORD pid = ids_[current][i];
        for (DWORD j = 0; j < n; ++j) {
            if (ids_[previous][j] != pid) {
                continue;
            }
            // Low 32 bits, modulo 2^32: a counter that passed a multiple of 2^32 still gives the right step.
            const DWORD difference =
                static_cast<DWORD>(times_[current][i]) - static_cast<DWORD>(times_[previous][j]);
            if (difference > largest && pid != ownId_) {
                largest = difference;
                busiest.pid = pid;
            }
            break;
        }
    }
    const DWORD elapsed = ticks_[current] - ticks_[previous];
    if (elapsed != 0) {
        // 100 ns units per ms: one processor fully used gives 10 000 per ms, hence 100 after the division
        // by 100.
        busiest.load = largest / elapsed / 100 / processorCount_;
    }
    return busiest;
}

DWORD CProcessLoadMonitor::TimeSinceLastSample() const {
    if (sampleCount_ == 0) {
        return 0;
    }
    const DWORD last = ticks_[(slot_ + kSlots - 1) % kSlots];
    const DWORD since = probe_.TickCount() - last;
    // A difference of 2^31 or more means the clock stands before the sample.
    return since < 0x80000000u ? since : 0;
}

DWORD MaxProcessorState(platform::SystemProbe& probe) {
    return probe.MaxProcessorState().value_or(100);
}

BatteryTimerStep CheckBattery(platform::SystemProbe& probe, bool playing) {
    platform::PowerStatus status;
    if (!probe.GetPowerStatus(&status)) {
        return BatteryTimerStep::EndTimer;
    }
    if (BatteryCallsForStop(status)) {
        return BatteryTimerStep::Stop;
    }
    return playing ? BatteryTimerStep::KeepTimer : BatteryTimerStep::EndTimer;
}

LoadThresholds ReadLoadThresholds(DWORD defaultLoad, DWORD defaultCount) {
    LoadThresholds thresholds{defaultLoad, defaultCount};
    CRegistrySection section;
    section.SetNames(kCompanyName, kProductName, "App");
    section.ReadDWORD("OverloadValue", &thresholds.load);
    section.ReadDWORD("OverloadCountNum", &thresholds.count);
    return thresholds;
}
