#include "Mervane/CProcessProc.h"

CProcessProc::~CProcessProc() = default;

CDSDASIO* CProcessProc::GetDSDASIO(int index) noexcept {
    return index == 0 ? &device_ : nullptr;
}

const CDSDASIO* CProcessProc::GetDSDASIO(int index) const noexcept {
    return index == 0 ? &device_ : nullptr;
}

bool CProcessProc::LockProcess() const {
    processLock_.lock();
    return true;
}

bool CProcessProc::UnlockProcess() const {
    processLock_.unlock();
    return true;
}

bool CProcessProc::Setup(int frames, float baseRate, bool /*dsd*/) {
    return frames > 0 && baseRate == kBaseRate;
}

void CProcessProc::Release() {
    enabled_.store(false);
    device_.CloseDriver();
}

bool CProcessProc::SetRate(float baseRate) {
    return baseRate == kBaseRate;
}

bool CProcessProc::Enable(bool enable) {
    enabled_.store(enable);
    return true;
}
