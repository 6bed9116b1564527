// Events of the kernel's block devices as udev reports them (a disc inserted or taken out, a drive added
// or removed), read from a udev monitor. The monitor owns a descriptor that becomes readable when events
// wait; the caller watches it (a socket notifier, poll) and takes the events with Receive. What an event
// means for the player is decided above, from its properties alone.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// One event: udev's properties of the device as they came (ACTION, DEVNAME, DEVLINKS, DEVTYPE,
// DISK_MEDIA_CHANGE, ID_CDROM_MEDIA, ...).
using BlockDeviceEvent = std::map<std::string, std::string>;

// One thread at a time.
class BlockDeviceMonitor {
public:
    BlockDeviceMonitor();
    ~BlockDeviceMonitor();
    BlockDeviceMonitor(const BlockDeviceMonitor&) = delete;
    BlockDeviceMonitor& operator=(const BlockDeviceMonitor&) = delete;

    // Starts listening to udev's events of the "block" subsystem. False when udev cannot be reached
    // (no udev in a container, say); the monitor then stays closed.
    bool Open();
    void Close() noexcept;
    // The descriptor that is readable while events wait, non-blocking; -1 when closed. Owned here.
    int Descriptor() const noexcept;
    // The next waiting event; empty when none waits. Never blocks.
    std::optional<BlockDeviceEvent> Receive();

private:
    struct Handles;
    std::unique_ptr<Handles> handles_; // null while closed
};

} // namespace platform
