// The read command a drive model is read with once it has refused READ CD, chosen by its vendor.
#pragma once

#include "Platform/Types.h"
#include "drives/DriveInquiry.h"

namespace discpilot {

// The vendor field (8 characters as the drive pads them) is compared whole with each row in order; the
// first equal row gives the read mode, no row 0xD80000.
DWORD VendorReadMode(const char* vendor) noexcept;
inline DWORD VendorReadMode(const DriveIdentity& identity) noexcept {
    return VendorReadMode(identity.vendor);
}

} // namespace discpilot
