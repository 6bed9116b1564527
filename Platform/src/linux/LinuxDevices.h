// The CD devices of the kernel's drives, opened by device path ("/dev/sr0"); the drive table opens them
// for the letters mapped to such a device. Null with a message on failure.
#pragma once

#include "Platform/CdDevice.h"
#include "Platform/ScsiPassThrough.h"

#include <memory>
#include <string>

namespace platform {

std::unique_ptr<CdDevice> OpenLinuxCdDevice(const std::string& path, std::string& error);
std::unique_ptr<ScsiPassThrough> OpenLinuxScsiPassThrough(const std::string& path, std::string& error);
// A block device of removable media, opened for reading and writing.
std::unique_ptr<CdDevice> OpenLinuxRemovableVolume(const std::string& path, std::string& error);

} // namespace platform
