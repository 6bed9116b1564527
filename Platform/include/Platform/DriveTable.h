// Drive letters. The system names drives by letter; here a letter maps to a device:
//  - the machine registry key "Software\Orva Corporation\Drives" maps letters explicitly: a value named
//    by the letter ("D") holding a device path ("/dev/sr0"), a folder (a fixed or removable disc's mount
//    point) or "image:<path.cue>" (a virtual drive, section VirtualDrive.h);
//  - optical drives found in /sys/block (sr0, sr1, ...) that no value names get the free letters from D
//    upward, in the kernel's order.
// Drive types are those of the original platform so that callers keep their tests unchanged.
//
// Functions read the registry and sysfs at each call (nothing is cached); any thread may call them.
#pragma once

#include "Platform/CdDevice.h"
#include "Platform/ScsiPassThrough.h"
#include "Platform/Types.h"

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr UINT DRIVE_UNKNOWN = 0;
inline constexpr UINT DRIVE_NO_ROOT_DIR = 1;
inline constexpr UINT DRIVE_REMOVABLE = 2;
inline constexpr UINT DRIVE_FIXED = 3;
inline constexpr UINT DRIVE_REMOTE = 4;
inline constexpr UINT DRIVE_CDROM = 5;
inline constexpr UINT DRIVE_RAMDISK = 6;

inline constexpr const char* kDrivesKey = "Software\\Orva Corporation\\Drives";
inline constexpr const char* kImagePrefix = "image:";

struct DriveEntry {
    char letter = 0;    // 'A'..'Z'
    std::string device; // as mapped: "/dev/sr0", "image:/path/album.cue", or a folder
    UINT type = DRIVE_NO_ROOT_DIR;
    bool IsImage() const { return device.rfind(kImagePrefix, 0) == 0; }
    std::filesystem::path ImagePath() const { return device.substr(6); }
};

// Every mapped letter, in letter order. Registry values whose names are not a single letter are ignored.
std::vector<DriveEntry> ListDrives();

// The entry of one letter (either case). A letter that maps to nothing has type DRIVE_NO_ROOT_DIR and an
// empty device.
DriveEntry FindDrive(char letter);

// GetDriveType for a letter: DRIVE_CDROM for optical drives and images, DRIVE_REMOVABLE or DRIVE_FIXED for
// other block devices and folders, DRIVE_NO_ROOT_DIR for unmapped letters.
UINT GetDriveType(char letter);

// The type of the storage a path lives on: DRIVE_REMOTE (network file systems, and FUSE file systems that
// sit on no block device, as network mounts through FUSE do), DRIVE_CDROM (ISO 9660, UDF), DRIVE_RAMDISK
// (tmpfs, ramfs), DRIVE_REMOVABLE (a block device the kernel marks removable), DRIVE_FIXED otherwise;
// DRIVE_NO_ROOT_DIR when the path does not exist.
UINT GetPathDriveType(const std::filesystem::path& path);

// The rule GetPathDriveType applies to a mounted file system: its statfs type number, its type as the
// mount table lists it ("ext4", "fuse.sshfs", "fuseblk"; empty when unknown), and whether the block device
// under it is removable.
UINT ClassifyFileSystem(unsigned long magic, std::string_view mountType, bool removableDevice);

// What the kernel lists for an optical drive's device ("/dev/sr0"): the first line of its sysfs vendor,
// model and rev files, as they are (drives pad them with spaces). Empty where a file cannot be read.
// QUELLWAVE_SYSFS_BLOCK stands for /sys/block when set (tests).
struct KernelDriveModel {
    std::string vendor;
    std::string model;
    std::string revision;
};
KernelDriveModel ReadKernelDriveModel(const std::string& device);

// Whether the tray of the drive behind a letter is open: the virtual drive's tray, or what the kernel
// reports for a Linux drive. Unknown where the drive cannot tell or the letter is no CD drive. Never waits
// for a disc to spin up.
enum class TrayStatus { Unknown, Open, Closed };
TrayStatus ReadTrayStatus(char letter);

// Opens the CD device behind a letter: the Linux device or the letter's virtual drive. Returns null with
// a message in error (naming the letter and the cause) when the letter is not a CD drive or cannot be
// opened. Blocks while the device opens.
std::unique_ptr<CdDevice> OpenCdDevice(char letter, std::string& error);

// Opens the volume behind a letter for its volume and tray controls: a CD drive as OpenCdDevice does
// (for reading), a drive of removable media (DRIVE_REMOVABLE: a block device, the folder it is mounted
// on, or a virtual drive of that type) for reading and writing. Null with a message for any other type
// or when the device cannot be opened so.
std::unique_ptr<CdDevice> OpenVolumeDevice(char letter, std::string& error);

// Opens SCSI pass-through to the drive behind a letter; as OpenCdDevice.
std::unique_ptr<ScsiPassThrough> OpenScsiPassThrough(char letter, std::string& error);

} // namespace platform
