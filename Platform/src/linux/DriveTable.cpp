// Drive letters to devices, drive types, and opening the device behind a letter.
#include "Platform/DriveTable.h"
#include "LinuxDevices.h"

#include "Platform/Registry.h"
#include "Platform/Text.h"
#include "Platform/VirtualDrive.h"

#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace platform {

namespace {

// Where block devices are listed; tests point QUELLWAVE_SYSFS_BLOCK at a folder of their own.
std::filesystem::path SysBlock() {
    const char* root = std::getenv("QUELLWAVE_SYSFS_BLOCK");
    return root != nullptr && *root != '\0' ? std::filesystem::path(root)
                                            : std::filesystem::path("/sys/block");
}

// Optical drives in the kernel's order: sr0, sr1, ..., sr10 (numeric, not text, order).
std::vector<std::string> OpticalDevices() {
    std::vector<std::pair<unsigned, std::string>> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(SysBlock(), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() < 8 && name.compare(0, 2, "sr") == 0) {
            if (const auto number = ParseInteger<unsigned>(std::string_view(name).substr(2))) {
                found.emplace_back(*number, name);
            }
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> devices;
    for (const auto& [number, name] : found) {
        devices.push_back("/dev/" + name);
    }
    return devices;
}

// Letter -> device from the machine registry's Drives key.
std::map<char, std::string> RegistryMappings() {
    std::map<char, std::string> mappings;
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kDrivesKey, KEY_READ, &key) != ERROR_SUCCESS) {
        return mappings;
    }
    for (DWORD index = 0;; ++index) {
        std::string name;
        DWORD type = 0;
        DWORD size = 0;
        const LONG result = RegEnumValue(key, index, &name, nullptr, &type, nullptr, &size);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result != ERROR_SUCCESS || type != REG_SZ || name.size() != 1 ||
            !std::isalpha(static_cast<unsigned char>(name[0]))) {
            continue;
        }
        std::vector<BYTE> data(size);
        if (RegQueryValueEx(key, name, &type, data.data(), &size) != ERROR_SUCCESS) {
            continue;
        }
        std::string text = RegStringFromData(data.data(), std::min<std::size_t>(size, data.size()));
        if (!text.empty()) {
            mappings[static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])))] = std::move(text);
        }
    }
    RegCloseKey(key);
    return mappings;
}

std::string ReadFirstLine(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    return text;
}

bool ReadsOne(const std::filesystem::path& file) {
    std::ifstream in(file);
    int value = 0;
    return static_cast<bool>(in >> value) && value == 1;
}

// The device a mapping names, with symbolic links (/dev/cdrom) resolved, so that one drive is one device
// whatever name it was mapped by. Images and folders are left as they are.
std::string ResolvedDevice(const std::string& device) {
    if (device.rfind(kImagePrefix, 0) == 0) {
        return device;
    }
    // Links are followed by hand: a link to an optical drive whose node is not there yet still names it.
    std::error_code ec;
    std::filesystem::path path(device);
    for (int hop = 0; hop < 40 && std::filesystem::is_symlink(path, ec); ++hop) {
        const std::filesystem::path target = std::filesystem::read_symlink(path, ec);
        if (ec) {
            break;
        }
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, ec);
    return ec ? path.lexically_normal().string() : resolved.string();
}

// The SCSI CD-ROM driver's block major: every sr device, whatever its node is called.
constexpr unsigned kScsiCdromMajor = 11;

UINT DeviceType(const std::string& mapped) {
    if (mapped.rfind(kImagePrefix, 0) == 0) {
        return DRIVE_CDROM;
    }
    std::error_code ec;
    if (std::filesystem::is_directory(mapped, ec)) {
        return GetPathDriveType(mapped);
    }
    const std::filesystem::path path(ResolvedDevice(mapped));
    const std::string name = path.filename().string();
    // An optical drive the kernel lists is a CD drive even before its device node appears.
    if (name.rfind("sr", 0) == 0 && path.parent_path() == "/dev" &&
        std::filesystem::exists(SysBlock() / name, ec)) {
        return DRIVE_CDROM;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) {
        return DRIVE_NO_ROOT_DIR;
    }
    if (major(st.st_rdev) == kScsiCdromMajor || name.rfind("sr", 0) == 0) {
        return DRIVE_CDROM;
    }
    return ReadsOne(SysBlock() / name / "removable") ? DRIVE_REMOVABLE : DRIVE_FIXED;
}

char Upper(char letter) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
}

} // namespace

std::vector<DriveEntry> ListDrives() {
    std::map<char, std::string> mappings = RegistryMappings();
    std::vector<std::string> named;
    for (const auto& [letter, device] : mappings) {
        named.push_back(ResolvedDevice(device));
    }
    char next = 'D';
    for (const std::string& device : OpticalDevices()) {
        if (std::find(named.begin(), named.end(), device) != named.end()) {
            continue;
        }
        while (next <= 'Z' && mappings.count(next) != 0) {
            ++next;
        }
        if (next > 'Z') {
            break;
        }
        mappings[next] = device;
    }
    std::vector<DriveEntry> drives;
    for (const auto& [letter, device] : mappings) {
        drives.push_back({letter, device, DeviceType(device)});
        if (drives.back().IsImage()) {
            // A virtual drive may stand for a drive of removable media; a profile that does not load
            // leaves it a CD drive, whose opening then names the fault.
            VirtualDriveProfile profile;
            std::string error;
            if (LoadVirtualDriveProfile(letter, profile, error) && profile.driveType == DRIVE_REMOVABLE) {
                drives.back().type = DRIVE_REMOVABLE;
            }
        }
    }
    return drives;
}

DriveEntry FindDrive(char letter) {
    const char upper = Upper(letter);
    for (DriveEntry& entry : ListDrives()) {
        if (entry.letter == upper) {
            return entry;
        }
    }
    return {upper, {}, DRIVE_NO_ROOT_DIR};
}

UINT GetDriveType(char letter) {
    return FindDrive(letter).type;
}

namespace {

constexpr unsigned long kFuseMagic = 0x65735546;

// The file system type of the mount whose device is dev, from the process's mount table ("" when it is not
// listed).
std::string MountType(dev_t dev) {
    std::ifstream table("/proc/self/mountinfo");
    const std::string wanted = std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
    std::string line;
    std::string found;
    while (std::getline(table, line)) {
        // id parent major:minor root mount-point options [optional fields] - type source super-options
        std::istringstream fields(line);
        std::string id, parent, device;
        if (!(fields >> id >> parent >> device) || device != wanted)
            continue;
        const auto separator = line.find(" - ");
        if (separator == std::string::npos)
            continue;
        std::istringstream rest(line.substr(separator + 3));
        rest >> found; // the last mount of the device is the one in effect
    }
    return found;
}

} // namespace

UINT ClassifyFileSystem(unsigned long magic, std::string_view mountType, bool removableDevice) {
    switch (magic & 0xFFFFFFFFul) {
    case 0x6969:     // NFS
    case 0x517B:     // SMB
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2
    case 0x01021997: // 9P
    case 0x5346414F: // AFS
    case 0x6B414653: // kernel AFS
    case 0x73757245: // CODA
    case 0x00C36400: // Ceph
    case 0x564C:     // NCP
        return DRIVE_REMOTE;
    case 0x9660:     // ISO 9660
    case 0x15013346: // UDF
        return DRIVE_CDROM;
    case 0x01021994: // tmpfs
    case 0x858458F6: // ramfs
        return DRIVE_RAMDISK;
    case kFuseMagic:
        // A FUSE file system on a block device ("fuseblk": NTFS, exFAT) is a disk; one without (sshfs,
        // rclone, the desktop's network shares) reaches its files over the network or from nowhere local.
        if (mountType != "fuseblk")
            return DRIVE_REMOTE;
        break;
    default:
        break;
    }
    return removableDevice ? DRIVE_REMOVABLE : DRIVE_FIXED;
}

UINT GetPathDriveType(const std::filesystem::path& path) {
    struct statfs fs {};
    struct stat st {};
    if (::statfs(path.c_str(), &fs) != 0 || ::stat(path.c_str(), &st) != 0) {
        return DRIVE_NO_ROOT_DIR;
    }
    const auto magic = static_cast<unsigned long>(fs.f_type);
    // The block device the file system sits on says whether it can be removed; a partition's own folder
    // has no "removable" file, its disk's folder does.
    const auto sysDevice = std::filesystem::path("/sys/dev/block") /
                           (std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev)));
    std::error_code ec;
    const auto real = std::filesystem::canonical(sysDevice, ec);
    const bool removable =
        !ec && (ReadsOne(real / "removable") || ReadsOne(real.parent_path() / "removable"));
    return ClassifyFileSystem(magic, (magic & 0xFFFFFFFFul) == kFuseMagic ? MountType(st.st_dev) : "",
                              removable);
}

namespace {

// Letters of virtual drives sit on target ids by letter, on host adapter 0, unless their profile places
// them.
ScsiAddress VirtualAddress(char letter, const VirtualDriveProfile& profile) {
    const int target = profile.target == VirtualDriveProfile::kTargetByLetter
                           ? Upper(letter) - 'A'
                           : static_cast<int>(profile.target);
    return {static_cast<int>(profile.hostAdapter), 0, target, 0};
}

std::shared_ptr<VirtualDrive> OpenVirtual(const DriveEntry& entry, std::string& error) {
    std::string why;
    auto drive = VirtualDrive::ForLetter(entry.letter, entry.ImagePath(), why);
    if (!drive) {
        error = std::string("drive ") + entry.letter + ": " + why;
    }
    return drive;
}

bool CheckCdLetter(const DriveEntry& entry, std::string& error) {
    if (entry.device.empty()) {
        error = std::string("drive ") + entry.letter + ": is not mapped to a device";
        return false;
    }
    if (entry.type != DRIVE_CDROM) {
        error = std::string("drive ") + entry.letter + ": " + entry.device + " is not a CD drive";
        return false;
    }
    return true;
}

} // namespace

std::unique_ptr<CdDevice> OpenCdDevice(char letter, std::string& error) {
    const DriveEntry entry = FindDrive(letter);
    if (!CheckCdLetter(entry, error)) {
        return nullptr;
    }
    if (entry.IsImage()) {
        auto drive = OpenVirtual(entry, error);
        return drive ? MakeVirtualCdDevice(std::move(drive)) : nullptr;
    }
    std::string why;
    auto device = OpenLinuxCdDevice(entry.device, why);
    if (!device) {
        error = std::string("drive ") + entry.letter + ": " + why;
    }
    return device;
}

std::unique_ptr<CdDevice> OpenVolumeDevice(char letter, std::string& error) {
    const DriveEntry entry = FindDrive(letter);
    if (entry.type == DRIVE_CDROM) {
        return OpenCdDevice(letter, error);
    }
    if (entry.type != DRIVE_REMOVABLE) {
        CheckCdLetter(entry, error);
        return nullptr;
    }
    if (entry.IsImage()) {
        auto drive = OpenVirtual(entry, error);
        return drive ? MakeVirtualCdDevice(std::move(drive)) : nullptr;
    }
    // A folder stands for the medium mounted on it.
    std::string device = entry.device;
    std::error_code ec;
    struct stat st {};
    if (std::filesystem::is_directory(device, ec) && ::stat(device.c_str(), &st) == 0) {
        device = "/dev/block/" + std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
    }
    std::string why;
    auto volume = OpenLinuxRemovableVolume(device, why);
    if (!volume) {
        error = std::string("drive ") + entry.letter + ": " + why;
    }
    return volume;
}

std::unique_ptr<ScsiPassThrough> OpenScsiPassThrough(char letter, std::string& error) {
    const DriveEntry entry = FindDrive(letter);
    if (!CheckCdLetter(entry, error)) {
        return nullptr;
    }
    if (entry.IsImage()) {
        auto drive = OpenVirtual(entry, error);
        if (!drive) {
            return nullptr;
        }
        const ScsiAddress address = VirtualAddress(entry.letter, drive->Profile());
        return MakeVirtualScsiPassThrough(std::move(drive), address);
    }
    std::string why;
    auto device = OpenLinuxScsiPassThrough(entry.device, why);
    if (!device) {
        error = std::string("drive ") + entry.letter + ": " + why;
    }
    return device;
}

KernelDriveModel ReadKernelDriveModel(const std::string& device) {
    const auto folder = SysBlock() / std::filesystem::path(device).filename() / "device";
    return {ReadFirstLine(folder / "vendor"), ReadFirstLine(folder / "model"), ReadFirstLine(folder / "rev")};
}

TrayStatus ReadTrayStatus(char letter) {
    const DriveEntry entry = FindDrive(letter);
    if (entry.type != DRIVE_CDROM)
        return TrayStatus::Unknown;
    if (entry.IsImage()) {
        std::string error;
        const auto drive = VirtualDrive::ForLetter(entry.letter, entry.ImagePath(), error);
        if (!drive)
            return TrayStatus::Unknown;
        return drive->TrayOpen() ? TrayStatus::Open : TrayStatus::Closed;
    }
    // O_NONBLOCK opens the device even with no disc in it.
    const int fd = ::open(entry.device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return TrayStatus::Unknown;
    const int status = ::ioctl(fd, CDROM_DRIVE_STATUS, CDSL_CURRENT);
    ::close(fd);
    if (status == CDS_TRAY_OPEN)
        return TrayStatus::Open;
    if (status == CDS_NO_DISC || status == CDS_DISC_OK)
        return TrayStatus::Closed;
    return TrayStatus::Unknown;
}

} // namespace platform
