// The DSD output processor: holds the one output device and the lock that guards opening its driver.
#pragma once

#include "Mervane/CDSDASIO.h"

#include <mutex>

class CProcessProc {
public:
    // The only PCM base rate the processor takes: that of CD audio.
    static constexpr float kBaseRate = 44100.0f;

    CProcessProc() noexcept = default;
    virtual ~CProcessProc();
    CProcessProc(const CProcessProc&) = delete;
    CProcessProc& operator=(const CProcessProc&) = delete;

    // The device with the given index; only index 0 exists. Null for any other index. The pointer stays
    // valid for the life of the processor.
    CDSDASIO* GetDSDASIO(int index) noexcept;
    const CDSDASIO* GetDSDASIO(int index) const noexcept;

    // Bracket the opening of the driver. LockProcess blocks while another thread holds the lock; the same
    // thread must call UnlockProcess. Both return true.
    bool LockProcess() const;
    bool UnlockProcess() const;

    // Stream parameters: frames per conversion unit, PCM base rate, and whether the stream is DSD. The DSD
    // rate (DSD64, DSD128, DSD256 or DSD512, a multiple of the 44 100 Hz base) is set when the driver is
    // opened, so these are checked, not acted on: Setup and SetRate return false for values they cannot
    // honour (anything but a 44 100 Hz base rate).
    virtual bool Setup(int frames, float baseRate, bool dsd);
    // Closes the driver (finishing a recording). Called when the output thread ends.
    virtual void Release();
    virtual bool SetRate(float baseRate);
    // Records whether the stream is enabled. The drivers here have no switch of their own, so it changes
    // nothing in what they receive.
    virtual bool Enable(bool enable);

    bool Enabled() const noexcept { return enabled_.load(); }

private:
    mutable std::mutex processLock_;
    std::atomic<bool> enabled_{false};
    CDSDASIO device_;
};
