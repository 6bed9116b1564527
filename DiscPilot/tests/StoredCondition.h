// A read condition stored for the drive behind a letter, as a drive check stores it.
#pragma once

#include "reader/cddaCReader.h"
#include "store/DriveSettings.h"

#include <gtest/gtest.h>

namespace dptest {

// The condition of a drive that takes the audio read commands, at its top speed with an overlap of 5;
// accurate 0 means it needs the secure reads. withBufferSize also stores the probe's buffer size (none),
// as a whole check does.
inline void StoreCondition(char letter, DWORD accurate, bool withBufferSize = false) {
    discpilot::cddaCReader reader(discpilot::kKindAspi);
    ASSERT_EQ(reader.Open(letter, false), 1) << "status " << reader.Status();
    discpilot::ReadCondition condition;
    condition.valid = 1;
    condition.cddaCommands = 1;
    condition.accurate = accurate;
    condition.speed = static_cast<WORD>(reader.MaxSpeed());
    condition.overlap = 5;
    ASSERT_EQ(discpilot::Store(reader.Identity(), condition, false), 1);
    if (withBufferSize) {
        ASSERT_EQ(discpilot::Store(reader.Identity(), condition, true), 1);
    }
}

} // namespace dptest
