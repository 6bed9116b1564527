// The udev monitor's contract where udev may or may not be reachable (a container has no udevd): closed
// it has no descriptor and no events, open it never blocks, and closing it gives the descriptor back.
#include "Platform/BlockDeviceMonitor.h"
#include "Platform/Process.h"

#include <gtest/gtest.h>

namespace {

TEST(BlockDeviceMonitor, IsQuietWhenClosedAndNeverBlocksWhenOpen) {
    platform::BlockDeviceMonitor monitor;
    EXPECT_EQ(monitor.Descriptor(), -1);
    EXPECT_FALSE(monitor.Receive().has_value());
    const long before = platform::OpenDescriptorCount();
    if (!monitor.Open()) {
        EXPECT_EQ(monitor.Descriptor(), -1);
        EXPECT_EQ(platform::OpenDescriptorCount(), before);
        return;
    }
    EXPECT_GE(monitor.Descriptor(), 0);
    // Whatever waits is taken; then Receive answers at once with nothing instead of waiting for the next.
    for (int i = 0; i < 10000 && monitor.Receive().has_value(); ++i) {
    }
    EXPECT_FALSE(monitor.Receive().has_value());
    monitor.Close();
    EXPECT_EQ(monitor.Descriptor(), -1);
    EXPECT_FALSE(monitor.Receive().has_value());
    EXPECT_EQ(platform::OpenDescriptorCount(), before);
}

} // namespace
