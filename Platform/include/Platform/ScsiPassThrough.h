// SCSI pass-through: one command block to one device, with its data, status and sense, as an MMC drive
// answers it. Implementations: linux (SG_IO on a /dev/sr* device, linux/ScsiPassThrough.cpp) and virtual
// (the emulated drive, VirtualScsiPassThrough.cpp). Open one through OpenScsiPassThrough (DriveTable.h).
#pragma once

#include "Platform/Types.h"

#include <array>
#include <memory>
#include <string>

namespace platform {

enum class ScsiDirection { None, In, Out };

// SCSI status byte values.
inline constexpr BYTE kScsiGood = 0x00;
inline constexpr BYTE kScsiCheckCondition = 0x02;
inline constexpr BYTE kScsiBusy = 0x08;

// Fixed-format sense data is at least 18 bytes: response code 0x70, sense key in byte 2 bits 0..3, the
// information field in bytes 3..6, ASC in byte 12 and ASCQ in byte 13.
inline constexpr std::size_t kSenseBytes = 18;

// The default time a command may take before the transport gives up on it, in milliseconds.
inline constexpr DWORD kDefaultScsiTimeoutMs = 16000;

struct ScsiCommand {
    std::array<BYTE, 16> cdb{}; // command descriptor block; bytes past cdbLength are ignored
    BYTE cdbLength = 0;         // 6, 10, 12 or 16
    ScsiDirection direction = ScsiDirection::None;
    BYTE* data = nullptr; // caller-owned; dataLength bytes are read (Out) or written (In)
    DWORD dataLength = 0;
    DWORD timeoutMs = kDefaultScsiTimeoutMs;
};

struct ScsiAnswer {
    // 0 when the command reached the device and the device answered (whatever its status); otherwise an
    // errno value for a transport failure: EINVAL for a malformed request or one longer than the device's
    // maximum transfer length, ETIMEDOUT when the time-out passed, EIO when the device or adapter failed.
    // On a transport failure status is 0 and the sense is all zero.
    int error = 0;
    BYTE status = kScsiGood;
    DWORD transferred = 0; // bytes actually moved (data in: bytes of the reply written to data)
    // Fixed-format sense, all zero unless status is kScsiCheckCondition. A device that returns
    // descriptor-format sense is converted to the fixed format here.
    std::array<BYTE, kSenseBytes> sense{};

    BYTE SenseKey() const noexcept { return sense[2] & 0x0F; }
    BYTE Asc() const noexcept { return sense[12]; }
    BYTE Ascq() const noexcept { return sense[13]; }
};

// Where the device sits on the kernel's SCSI bus.
struct ScsiAddress {
    int hostAdapter = 0;
    int channel = 0;
    int target = 0;
    int lun = 0;
};

class ScsiPassThrough {
public:
    virtual ~ScsiPassThrough() = default;

    // Sends one command and waits for its answer (up to cmd.timeoutMs). Fills answer completely and
    // returns answer.error. Thread-safe: commands from several threads are serialised per device.
    virtual int Execute(const ScsiCommand& cmd, ScsiAnswer& answer) = 0;

    // The device's SCSI address. Does not block.
    virtual ScsiAddress Address() const = 0;

    // The longest data transfer one command may carry, in bytes; 0 when unknown. Longer requests fail
    // with EINVAL before they reach the device.
    virtual DWORD MaxTransferLength() const = 0;
};

// What a standard 36-byte INQUIRY reply says about a device.
struct ScsiIdentity {
    BYTE deviceType = 0x1F;     // byte 0 bits 0..4; 5 = CD/DVD device
    bool removable = false;     // byte 1 bit 7
    std::string vendor;         // bytes 8..15, 8 characters as the device pads them
    std::string product;        // bytes 16..31, 16 characters
    std::string revision;       // bytes 32..35, 4 characters
    std::array<BYTE, 36> raw{}; // the reply as received
};

inline constexpr BYTE kScsiDeviceTypeCdDvd = 0x05;

// Sends INQUIRY (6-byte block, allocation length 36) and parses the reply. Returns 0, the transport's
// errno, or EIO when the device answered with a status other than GOOD. Blocks like Execute.
int Inquire(ScsiPassThrough& device, ScsiIdentity& identity);

// Builds fixed-format sense (response code 0x70, additional length 10) for key, ASC and ASCQ. With
// information >= 0 the VALID bit is set and bytes 3..6 hold it (the failing LBA of a read error).
std::array<BYTE, kSenseBytes> MakeFixedSense(BYTE key, BYTE asc, BYTE ascq, LONG information = -1) noexcept;

// Converts sense as a device returned it (fixed 0x70/0x71 or descriptor 0x72/0x73 format, `length`
// valid bytes) into the fixed format. Anything unrecognised or shorter than needed becomes all zero.
std::array<BYTE, kSenseBytes> ToFixedSense(const BYTE* sense, std::size_t length) noexcept;

} // namespace platform
