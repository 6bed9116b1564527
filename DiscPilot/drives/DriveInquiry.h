// What identification learns about the drive behind a letter, and the 40-byte identity that is stored
// with every drive-check result ("Drive Info") and compared when a result is looked up again.
#pragma once

#include "Platform/Types.h"

#include <array>
#include <string>

namespace discpilot {

// Produced by identification. Text fields are NUL-terminated 8-bit text as the drive reports it
// (space-padded by the drive); raw holds the INQUIRY reply when it came from the drive.
struct DriveInquiry {
    std::array<BYTE, 36> raw{};
    int removable = 0;
    char vendor[9] = {};
    char product[17] = {};
    char revision[5] = {};

    BYTE DeviceType() const noexcept { return raw[0] & 0x1F; }
};

// Parses a standard 36-byte INQUIRY reply: device type and flags, removable (byte 1 bit 7), vendor
// (bytes 8..15), product (16..31), revision (32..35).
DriveInquiry ParseInquiry(const BYTE* reply) noexcept;

// Copies text into a NUL-terminated field of size bytes, cutting what does not fit.
void CopyField(char* field, std::size_t size, const std::string& text) noexcept;

inline constexpr std::size_t kDriveIdentityBytes = 40;

struct DriveIdentity {
    BYTE letter = 0; // as passed by the caller (either case)
    BYTE target = 0;
    BYTE hostAdapter = 0;
    LONG removable = 0;
    char vendor[9] = {};
    char product[17] = {};
    char revision[5] = {};

    // The stored form: letter, target, adapter, 0, removable (little-endian), vendor, product,
    // revision, 0. Text fields are written NUL-terminated whatever they hold.
    std::array<BYTE, kDriveIdentityBytes> Pack() const noexcept;
    // The inverse of Pack; text fields are cut at their terminator.
    static DriveIdentity Unpack(const std::array<BYTE, kDriveIdentityBytes>& bytes) noexcept;

    // The model key's name: vendor + product + revision, padding kept, read as Latin-1 and given as
    // UTF-8 (the drive's 8-bit text is read as ISO 8859-1 whatever the locale).
    std::string ModelName() const;

    // The same drive in the same place: letters compare without case (a letter passed in lower case
    // names the same drive), then target, adapter, removable flag and the three texts exactly.
    bool SameDrive(const DriveIdentity& other) const noexcept;
};

DriveIdentity MakeIdentity(char letter, int hostAdapter, int target, const DriveInquiry& inquiry) noexcept;

} // namespace discpilot
