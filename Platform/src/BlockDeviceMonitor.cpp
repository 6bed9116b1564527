#include "Platform/BlockDeviceMonitor.h"

#include <libudev.h>

namespace platform {

BlockDeviceMonitor::~BlockDeviceMonitor() {
    Close();
}

bool BlockDeviceMonitor::Open() {
    Close();
    udev_ = udev_new();
    if (udev_ == nullptr)
        return false;
    // "udev" events are those udevd has processed: their properties include what its rules found out
    // (ID_CDROM_MEDIA and the like), which the kernel's own events lack.
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (monitor_ == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor_, "block", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0) {
        Close();
        return false;
    }
    return true;
}

void BlockDeviceMonitor::Close() noexcept {
    if (monitor_ != nullptr)
        udev_monitor_unref(monitor_);
    if (udev_ != nullptr)
        udev_unref(udev_);
    monitor_ = nullptr;
    udev_ = nullptr;
}

int BlockDeviceMonitor::Descriptor() const noexcept {
    return monitor_ != nullptr ? udev_monitor_get_fd(monitor_) : -1;
}

std::optional<BlockDeviceEvent> BlockDeviceMonitor::Receive() {
    if (monitor_ == nullptr)
        return std::nullopt;
    // The monitor's socket is non-blocking: null here means nothing waits (or a message was not udev's).
    udev_device* device = udev_monitor_receive_device(monitor_);
    if (device == nullptr)
        return std::nullopt;
    BlockDeviceEvent event;
    for (udev_list_entry* entry = udev_device_get_properties_list_entry(device); entry != nullptr;
         entry = udev_list_entry_get_next(entry)) {
        const char* value = udev_list_entry_get_value(entry);
        event[udev_list_entry_get_name(entry)] = value != nullptr ? value : "";
    }
    if (const char* action = udev_device_get_action(device); action != nullptr)
        event["ACTION"] = action;
    udev_device_unref(device);
    return event;
}

} // namespace platform
