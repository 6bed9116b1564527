// Drive discovery: which transport reaches the drive behind a letter, at which host adapter and target
// it sits on the pass-through bus, and what it calls itself. All functions block while devices are
// opened and asked; any thread may call them.
#pragma once

#include "drives/DriveInquiry.h"
#include "drives/cddaCMapStringToOb.h"
#include "transport/cddaCAspiDevice.h"

#include <memory>
#include <mutex>
#include <vector>

namespace discpilot {

// Identification through pass-through (kind 1): the letter (either case) must be a CD drive; its SCSI
// address is asked and INQUIRY sent there, a device of type 5 ends the search. Otherwise every adapter
// at the same target is asked: one CD device is taken, of several the first whose vendor and product
// occur in the drive's own description. Without an address, adapter = number of CD drives among the
// letters A up to this one, target 0. 0 with the results, else 502.
int IdentifyAspi(char letter, int kind, DriveInquiry& inquiry, int& hostAdapter, int& target);

// Identification from the device's own description: the letter must be a CD drive whose device opens.
// Vendor, product and revision from the kernel's description of the device (a virtual drive's profile),
// cut to 8, 16 and 4 characters; "unknown", "unknown", "0.0" where none is given. Adapter, target and
// removable 0. 0 or 502.
int IdentifyRaw(char letter, DriveInquiry& inquiry, int& hostAdapter, int& target);

// The process-wide table of the letters identified through pass-through, keyed by upper-case letter.
class cddaCDriveTable {
public:
    // The table, rebuilt (every letter A..Z identified anew) when kind differs from the kind it was built
    // for, when rebuild is set, or on first use. Entries are copied out under the table's lock.
    static cddaCDriveTable& Get(int kind, bool rebuild);

    // The identity of a letter (either case); false when the letter was not identified.
    bool Find(char letter, DriveIdentity& identity) const;
    int Kind() const;
    std::size_t Count() const;

private:
    cddaCDriveTable() = default;
    void Build(int kind);

    struct Entry : cddaCObject {
        DriveIdentity identity;
        int kind = 0;
    };
    mutable std::mutex mutex_;
    int kind_ = -1;
    int adapterCount9x_ = 0;
    cddaCMapStringToOb map_;
    std::vector<std::unique_ptr<Entry>> entries_;
};

// Opens the pass-through transport for a letter after identification: looks the letter up in the drive
// table (building it anew once when the letter is missing or its address no longer answers with the
// entry's vendor, product and revision: a drive may have been added or moved since), takes the device
// at the entry's host adapter and target, and fetches its maximum transfer length. 502 for a letter
// outside A..Z, 506 when the letter or its device is not found, 503 for kinds without a pass-through.
int OpenAspiDevice(cddaCAspiDevice& device, char letter);

} // namespace discpilot
