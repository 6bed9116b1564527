// The SCSI bus that the pass-through transport addresses drives on: devices named by host adapter and
// target, as the drive table and the transport's adapter scan expect. On this platform the bus is made
// of the platform's SCSI pass-through devices behind the CD drive letters (real drives at the kernel's
// SCSI address, virtual drives at adapter 0, target = letter − 'A').
#pragma once

#include "Platform/ScsiPassThrough.h"
#include "Platform/Types.h"

#include <memory>
#include <mutex>
#include <string>

namespace discpilot {

class AspiBus {
public:
    virtual ~AspiBus() = default;

    // Number of host adapters (at least one past the highest adapter number in use); −1 on failure.
    // Blocks while devices are opened.
    virtual int AdapterCount() = 0;

    // The device at an address, or null when nothing answers there. The device is shared: it stays valid
    // while any holder keeps it. Blocks while devices are opened.
    virtual std::shared_ptr<platform::ScsiPassThrough> Device(int hostAdapter, int target) = 0;

    // The SCSI address of the drive behind a letter (either case); false when the letter's device cannot
    // be opened or has no address.
    virtual bool AddressOf(char letter, int& hostAdapter, int& target) = 0;

    // The drive's own description of itself as one byte string (vendor, product and revision as the
    // system lists them); empty when unknown. Used to pick one of several candidate adapters.
    virtual std::string StorageDescriptor(char letter) = 0;
};

// The bus over the platform's drive letters. Every call looks at the current drive list, so drives and
// mappings added while the program runs are seen.
std::shared_ptr<AspiBus> MakePlatformAspiBus();

// The process-wide pass-through library, created on first use and never released. Thread-safe.
class cddaCAspiLibrary {
public:
    static cddaCAspiLibrary& Instance();

    // The bus, or null when pass-through is missing (every pass-through operation then answers 503).
    std::shared_ptr<AspiBus> Bus() const;

    // Replaces the bus (tests use a fake bus, or null for a missing library); the default is the
    // platform bus. Transports opened earlier keep the devices they hold.
    void SetBus(std::shared_ptr<AspiBus> bus);

    // Adapter count as support information gives it: the count, −1 on a failure, 503 when the library
    // is missing.
    int SupportInfo() const;

private:
    cddaCAspiLibrary();
    mutable std::mutex mutex_;
    std::shared_ptr<AspiBus> bus_;
};

} // namespace discpilot
