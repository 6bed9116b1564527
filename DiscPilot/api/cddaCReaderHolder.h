// What the controller's reader pointer holds: the open reader, shared by controllers that were copied
// from one another (the last one to close destroys it), and what the last delivery produced.
#pragma once

#include "check/cddaCDriveCheck.h"
#include "reader/cddaCReader.h"

#include <atomic>
#include <cstddef>
#include <thread>

class CDiscPilot;

namespace discpilot {

struct cddaCReaderHolder {
    cddaCReaderHolder() : reader(kKindAspi) {}

    std::atomic<int> references{1};
    cddaCReader reader;
    std::atomic<std::size_t> lastDelivered{0};
    // The drive check's thread, the controller that started it (the one that waits for it when it closes
    // the drive) and whether it still runs.
    std::thread checkThread;
    const CDiscPilot* checkOwner = nullptr;
    std::atomic<bool> checkBusy{false};
    // What the last check found and the condition it left in force; written by the check thread before
    // it clears checkBusy, read only after that.
    CheckReport lastReport;
    ReadCondition lastCondition;
};

} // namespace discpilot
