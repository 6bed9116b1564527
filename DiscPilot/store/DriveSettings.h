// The drive settings store. Machine-wide transport settings under HKEY_LOCAL_MACHINE
// "SOFTWARE\Orva Corporation\Tarnix\Corvex", and per-user, per-drive-model drive-check results under
// HKEY_CURRENT_USER "SOFTWARE\Orva Corporation\Tarnix\Corvex\<letter>\<model>".
//
// Every function reads or writes the registry at the call (nothing is cached), may be called from any
// thread, and blocks only on the registry's file lock. Registry failures end an operation quietly: reads
// give their defaults, Store returns 0, LookUp reports not found, Forget does nothing.
#pragma once

#include "Platform/Types.h"
#include "drives/DriveInquiry.h"

#include <array>

namespace discpilot {

inline constexpr const char* kMachineKey = "SOFTWARE\\Orva Corporation\\Tarnix\\Corvex";
inline constexpr const char* kUserKey = "SOFTWARE\\Orva Corporation\\Tarnix\\Corvex";

// How a reader reaches its drive ("Cdrom_Mode").
enum CdromMode : int {
    kCdromModeAspi = 1,        // "ASPI": identify and read through SCSI pass-through only
    kCdromModeAspiThenRaw = 2, // "ASPI&RAW": pass-through, falling back to the CD device controls
    kCdromModeRaw = 3,         // "RAW": the CD device controls only (the default)
};

inline constexpr DWORD kDefaultAspiTimeOutMs = 16000;
inline constexpr DWORD kDefaultMarginLba = 375;

// "Cdrom_Mode": compared without case against the whole text (so "aspi&raw" selects ASPI-then-raw, and
// "ASPI " with a trailing blank is no mode at all); missing, longer than 32 bytes or unknown gives raw.
int ReadCdromMode();
// "ASPITimeOut": decimal text in milliseconds; missing, not a number or 0 gives 16000.
DWORD ReadAspiTimeOut();
// "MARGIN_LBA": used only when stored as a 4-byte DWORD; otherwise 375.
DWORD ReadMarginLba();

inline constexpr std::size_t kReadConditionBytes = 28;

// How a drive model must be read, as the drive check found it.
struct ReadCondition {
    DWORD valid = 0;
    DWORD cddaCommands = 0;
    DWORD isrc = 0;
    DWORD accurate = 0;
    DWORD noJitter = 0;
    WORD speed = 0;   // multiples of 176 kB/s
    WORD overlap = 0; // sectors
    DWORD bufferSize = 0;

    // The stored form: 28 bytes, little-endian, fields in the order above.
    std::array<BYTE, kReadConditionBytes> Pack() const noexcept;
    static ReadCondition Unpack(const std::array<BYTE, kReadConditionBytes>& bytes) noexcept;
    bool operator==(const ReadCondition&) const = default;
};

// Writes "Drive Info" and then, with bufferSizeFlag, "Buffer Size" (the record's buffer size, 4 bytes),
// else "Read Condition" (28 bytes), creating the key chain. 1 when both values were written, else 0.
int Store(const DriveIdentity& identity, const ReadCondition& condition, bool bufferSizeFlag);

// Finds, below the identity's letter key, the first model key whose "Drive Info" is the same drive in the
// same place (DriveIdentity::SameDrive) and that holds the asked value; reads "Read Condition" into
// condition, or with bufferSizeFlag "Buffer Size" into condition.bufferSize. 1 when found; 0 otherwise
// (condition untouched, except that a buffer-size request then sets bufferSize to 0).
int LookUp(const DriveIdentity& identity, bool bufferSizeFlag, ReadCondition& condition);

// Reads the stored read condition, then lets a stored buffer size replace its buffer size. 1 when a read
// condition was found; condition keeps its values otherwise (bar a found buffer size).
int LoadAtOpen(const DriveIdentity& identity, ReadCondition& condition);

// A drive model's read offset in samples, as a rip corrects it: "Read Offset" (a DWORD taken as a signed
// number) in the model key beside the read condition. Store creates the key chain as Store does; 1 when
// written. LookUp: 1 with samples set when the model key of the same drive holds one within
// -kLargestReadOffset..kLargestReadOffset; 0 otherwise (samples untouched).
inline constexpr LONG kLargestReadOffset = 5880; // ten sectors either way
int StoreReadOffset(const DriveIdentity& identity, LONG samples);
int LookUpReadOffset(const DriveIdentity& identity, LONG& samples);

// Deletes the identity's model key unless a read condition is stored for the drive.
void Forget(const DriveIdentity& identity);

} // namespace discpilot
