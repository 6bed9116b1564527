// Operation codes of the SCSI/MMC commands a CD drive is sent: the one list that the command builders
// and the emulated drive share.
#pragma once

#include "Platform/Types.h"

namespace platform::mmc {

inline constexpr BYTE kTestUnitReady = 0x00;
inline constexpr BYTE kRequestSense = 0x03;
inline constexpr BYTE kSeek6 = 0x0B;
inline constexpr BYTE kInquiry = 0x12;
inline constexpr BYTE kModeSelect6 = 0x15;
inline constexpr BYTE kModeSense6 = 0x1A;
inline constexpr BYTE kStartStopUnit = 0x1B;
inline constexpr BYTE kPreventAllowMediumRemoval = 0x1E;
inline constexpr BYTE kReadCapacity = 0x25;
inline constexpr BYTE kRead10 = 0x28;
inline constexpr BYTE kSeek10 = 0x2B;
inline constexpr BYTE kReadSubChannel = 0x42;
inline constexpr BYTE kReadToc = 0x43;
inline constexpr BYTE kModeSelect10 = 0x55;
inline constexpr BYTE kModeSense10 = 0x5A;
inline constexpr BYTE kSetCdSpeed = 0xBB;
inline constexpr BYTE kReadCd = 0xBE;
// The vendor CD-DA reads: 10-byte (LBA in bytes 2..5, count in 7..8) and 12-byte (count in 6..9,
// sub-code format in 10).
inline constexpr BYTE kVendorReadCdda10 = 0xD4;
inline constexpr BYTE kVendorReadCdda12 = 0xD8;

} // namespace platform::mmc
