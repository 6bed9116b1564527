#include "Platform/BlockDeviceMonitor.h"

#include <libudev.h>

namespace platform {

struct BlockDeviceMonitor::Handles {
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
};

BlockDeviceMonitor::BlockDeviceMonitor() = default;

BlockDeviceMonitor::~BlockDeviceMonitor() {
    Close();
}

bool BlockDeviceMonitor::Open() {
    Close();
    handles_ = std::make_unique<Handles>();
    handles_->context = udev_new();
    if (handles_->context == nullptr) {
        handles_.reset();
        return false;
    }
    // "udev" events are those udevd has processed: their properties include what its rules found out
    // (ID_CDROM_MEDIA and the like), which the kernel's own events lack.
    udev_monitor*& monitor = handles_->monitor;
    monitor = udev_monitor_new_from_netlink(handles_->context, "udev");
    if (monitor == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "block", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        Close();
        return false;
    }
    return true;
}

void BlockDeviceMonitor::Close() noexcept {
    if (!handles_)
        return;
    if (handles_->monitor != nullptr)
        udev_monitor_unref(handles_->monitor);
    if (handles_->context != nullptr)
        udev_unref(handles_->context);
    handles_.reset();
}

int BlockDeviceMonitor::Descriptor() const noexcept {
    return handles_ ? udev_monitor_get_fd(handles_->monitor) : -1;
}

std::optional<BlockDeviceEvent> BlockDeviceMonitor::Receive() {
    if (!handles_)
        return std::nullopt;
    // The monitor's socket is non-blocking: null here means nothing waits (or a message was not udev's).
    udev_device* device = udev_monitor_receive_device(handles_->monitor);
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
