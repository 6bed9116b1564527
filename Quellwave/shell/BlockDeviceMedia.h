// What a block device event from udev means for the player window: media arriving in or leaving a drive
// of the drive table, as the device change message the window handles. Pure: the event's properties and
// the drive table go in, so every case can be tried without a device or udev.
#pragma once

#include "SystemEvents.h"

#include "Platform/BlockDeviceMonitor.h"
#include "Platform/DriveTable.h"

#include <optional>
#include <vector>

struct MediaEvent {
    WPARAM event = 0; // DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE
    DeviceChange change;
};

// The media change an event reports for a lettered drive, or nothing:
//  - "change" with DISK_MEDIA_CHANGE=1: arrival when the device now holds media (ID_CDROM_MEDIA=1, or a
//    file system or partition table was found on it), else removal;
//  - "remove" of the device: removal (the drive and its disc are gone);
//  - "add" of a device holding media: arrival;
//  - anything else (the eject button's request, other property changes): nothing.
// The drive is the entry whose device is the event's DEVNAME or one of its DEVLINKS ("/dev/cdrom");
// only entries that map a device node (under /dev) match, never an image or a folder.
std::optional<MediaEvent> MediaEventFromBlockDevice(const platform::BlockDeviceEvent& event,
                                                    const std::vector<platform::DriveEntry>& drives);
