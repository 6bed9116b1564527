// The CD device on Linux: the kernel's CD-ROM ioctls on /dev/sr*, and SG_IO on the same descriptor for
// what no ioctl answers (session numbers, ISRC, CD-Text).
#include "Cdrom.h"
#include "LinuxDevices.h"

#include "Platform/ByteOrder.h"
#include "Platform/CueSheet.h"
#include "Platform/DriveTable.h"
#include "Platform/MmcCommands.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace platform {

namespace linuxcd {

cdrom_read_audio BuildReadAudio(LONG lba, int frames, BYTE* buffer) {
    cdrom_read_audio request{};
    request.addr.lba = lba;
    request.addr_format = CDROM_LBA;
    request.nframes = frames;
    request.buf = buffer;
    return request;
}

CdTocEntry FromKernelTocEntry(const cdrom_tocentry& entry) {
    CdTocEntry result;
    result.track = entry.cdte_track;
    result.adrControl = static_cast<BYTE>((entry.cdte_adr << 4) | (entry.cdte_ctrl & 0x0F));
    result.minute = entry.cdte_addr.msf.minute;
    result.second = entry.cdte_addr.msf.second;
    result.frame = entry.cdte_addr.msf.frame;
    return result;
}

bool MountinfoNamesDevice(std::string_view mountinfo, unsigned major, unsigned minor) {
    // Each line: mount id, parent id, major:minor, root, mount point, ... — the third field names the
    // device whatever path it was mounted by.
    const std::string wanted = std::to_string(major) + ":" + std::to_string(minor);
    std::size_t pos = 0;
    while (pos < mountinfo.size()) {
        std::size_t end = mountinfo.find('\n', pos);
        if (end == std::string_view::npos) {
            end = mountinfo.size();
        }
        std::istringstream line{std::string(mountinfo.substr(pos, end - pos))};
        std::string id, parent, device;
        if (line >> id >> parent >> device && device == wanted) {
            return true;
        }
        pos = end + 1;
    }
    return false;
}

} // namespace linuxcd

namespace {

int Errno() {
    return errno != 0 ? errno : EIO;
}

// One device control on fd: 0, or the errno value it failed with.
template <typename Argument> int Control(int fd, unsigned long request, Argument argument) {
    return ::ioctl(fd, request, argument) < 0 ? Errno() : 0;
}

// A 10-byte SCSI command that reads up to `size` bytes into reply, sent over SG_IO on fd. 0 when the device
// answered (whatever its status, which answer holds), else the transport's errno value.
int SendReadCommand(int fd, const std::array<BYTE, 10>& cdb, BYTE* reply, DWORD size, ScsiAnswer& answer) {
    ScsiCommand cmd;
    std::copy(cdb.begin(), cdb.end(), cmd.cdb.begin());
    cmd.cdbLength = 10;
    cmd.direction = ScsiDirection::In;
    cmd.data = reply;
    cmd.dataLength = size;
    return linuxcd::SendSgIo(fd, cmd, answer);
}

// What a CD drive and a drive of removable media share: the descriptor, the volume lock, the mount check
// and the tray.
class LinuxVolume : public CdDevice {
public:
    // openMode: the access (O_RDONLY, O_RDWR) the exclusive open of Lock asks for.
    LinuxVolume(std::string path, int fd, int openMode)
        : path_(std::move(path)), fd_(fd), openMode_(openMode) {}
    ~LinuxVolume() override { ::close(fd_); }
    LinuxVolume(const LinuxVolume&) = delete;
    LinuxVolume& operator=(const LinuxVolume&) = delete;

    int Lock() override {
        if (locked_) {
            return 0;
        }
        // An exclusive open of a block device fails while anyone else (a mount included) has it open
        // exclusively, which is what locking a volume means here. The exclusive handle replaces the one
        // this object had: with two handles open the kernel refuses to unlock the tray and to eject.
        const int fd = ::open(path_.c_str(), openMode_ | O_NONBLOCK | O_EXCL | O_CLOEXEC);
        if (fd < 0) {
            return Errno();
        }
        ::close(fd_);
        fd_ = fd;
        locked_ = true;
        return 0;
    }

    int Dismount() override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) {
            return Errno();
        }
        std::ifstream in("/proc/self/mountinfo");
        std::ostringstream text;
        text << in.rdbuf();
        return linuxcd::MountinfoNamesDevice(text.str(), major(st.st_rdev), minor(st.st_rdev)) ? EBUSY : 0;
    }

    int Eject() override { return Control(fd_, CDROMEJECT, 0); }
    int Load() override { return Control(fd_, CDROMCLOSETRAY, 0); }

protected:
    int Fd() const noexcept { return fd_; }

private:
    std::string path_;
    int fd_;
    int openMode_;
    bool locked_ = false;
};

class LinuxCdDevice final : public LinuxVolume {
public:
    LinuxCdDevice(std::string path, int fd) : LinuxVolume(std::move(path), fd, O_RDONLY) {}

    int GetDiskType(DWORD& type) override {
        type = 0;
        const int status = ::ioctl(Fd(), CDROM_DISC_STATUS, CDSL_CURRENT);
        switch (status) {
        case CDS_AUDIO:
            type = kCdDiskAudio;
            return 0;
        case CDS_MIXED:
            type = kCdDiskMixed;
            return 0;
        case CDS_DATA_1:
        case CDS_DATA_2:
        case CDS_XA_2_1:
        case CDS_XA_2_2:
            type = kCdDiskData;
            return 0;
        case CDS_NO_DISC:
        case CDS_TRAY_OPEN:
            return ENOMEDIUM;
        default:
            return status < 0 ? Errno() : EIO;
        }
    }

    int DriveStatus(CdDriveStatus& status) override {
        status = CdDriveStatus::NoInfo;
        const int result = ::ioctl(Fd(), CDROM_DRIVE_STATUS, CDSL_CURRENT);
        switch (result) {
        case CDS_NO_DISC:
            status = CdDriveStatus::NoDisc;
            return 0;
        case CDS_TRAY_OPEN:
            status = CdDriveStatus::TrayOpen;
            return 0;
        case CDS_DRIVE_NOT_READY:
            status = CdDriveStatus::NotReady;
            return 0;
        case CDS_DISC_OK:
            status = CdDriveStatus::DiscOk;
            return 0;
        default:
            return result < 0 ? Errno() : 0;
        }
    }

    int ReadToc(CdToc& toc) override {
        toc = {};
        cdrom_tochdr header{};
        if (const int error = Control(Fd(), CDROMREADTOCHDR, &header)) {
            return error;
        }
        toc.firstTrack = header.cdth_trk0;
        toc.lastTrack = header.cdth_trk1;
        for (int track = header.cdth_trk0; track <= header.cdth_trk1 + 1; ++track) {
            cdrom_tocentry entry{};
            entry.cdte_track = static_cast<__u8>(track > header.cdth_trk1 ? CDROM_LEADOUT : track);
            entry.cdte_format = CDROM_MSF;
            if (const int error = Control(Fd(), CDROMREADTOCENTRY, &entry)) {
                return error;
            }
            toc.entries.push_back(linuxcd::FromKernelTocEntry(entry));
        }
        return 0;
    }

    int GetLastSession(CdSessionInfo& info) override {
        info = {};
        // READ TOC format 1 names the first and last session; the kernel's multi-session ioctl only
        // knows whether there is more than one.
        BYTE reply[12] = {};
        ScsiAnswer answer;
        if (SendReadCommand(Fd(), {mmc::kReadToc, 0x00, 0x01, 0, 0, 0, 0, 0, sizeof reply, 0}, reply,
                            sizeof reply, answer) == 0 &&
            answer.status == kScsiGood && answer.transferred >= 12) {
            info.firstSession = reply[2];
            info.lastSession = reply[3];
            info.lastSessionStart = static_cast<LONG>(ReadBe32(reply + 8));
            return 0;
        }
        cdrom_multisession multi{};
        multi.addr_format = CDROM_LBA;
        if (const int error = Control(Fd(), CDROMMULTISESSION, &multi)) {
            return error;
        }
        info.firstSession = 1;
        info.lastSession = multi.xa_flag ? 2 : 1;
        info.lastSessionStart = multi.addr.lba;
        return 0;
    }

    int ReadAudio(LONG lba, DWORD count, BYTE* buffer) override {
        for (DWORD done = 0; done < count;) {
            const DWORD frames = std::min(count - done, linuxcd::kMaxAudioFramesPerRead);
            cdrom_read_audio request =
                linuxcd::BuildReadAudio(lba + static_cast<LONG>(done), static_cast<int>(frames),
                                        buffer + std::size_t{done} * kCdSectorBytes);
            if (const int error = Control(Fd(), CDROMREADAUDIO, &request)) {
                return error;
            }
            done += frames;
        }
        return 0;
    }

    int ReadPosition(CdQPosition& position) override {
        position = {};
        cdrom_subchnl q{};
        q.cdsc_format = CDROM_LBA;
        if (const int error = Control(Fd(), CDROMSUBCHNL, &q)) {
            return error;
        }
        position.audioStatus = q.cdsc_audiostatus;
        position.adrControl = static_cast<BYTE>((q.cdsc_adr << 4) | (q.cdsc_ctrl & 0x0F));
        position.track = q.cdsc_trk;
        position.index = q.cdsc_ind;
        position.absoluteLba = q.cdsc_absaddr.lba;
        position.relativeLba = q.cdsc_reladdr.lba;
        return 0;
    }

    int ReadCatalogue(CdQText& catalogue) override {
        catalogue = {};
        cdrom_mcn mcn{};
        if (const int error = Control(Fd(), CDROM_GET_MCN, &mcn)) {
            return error;
        }
        // The kernel leaves the number empty when the disc does not flag one as valid.
        catalogue.text.assign(reinterpret_cast<const char*>(mcn.medium_catalog_number),
                              strnlen(reinterpret_cast<const char*>(mcn.medium_catalog_number), 13));
        catalogue.valid =
            !catalogue.text.empty() && catalogue.text.find_first_not_of('0') != std::string::npos;
        return 0;
    }

    int ReadIsrc(BYTE track, CdQText& isrc) override {
        isrc = {};
        BYTE reply[24] = {};
        ScsiAnswer answer;
        if (const int error = SendReadCommand(
                Fd(), {mmc::kReadSubChannel, 0x00, 0x40, 0x03, 0, 0, track, 0, sizeof reply, 0}, // ISRC
                reply, sizeof reply, answer)) {
            return error;
        }
        if (answer.status != kScsiGood) {
            return answer.SenseKey() == 0x02 ? ENOMEDIUM : (answer.SenseKey() == 0x05 ? EINVAL : EIO);
        }
        isrc.valid = answer.transferred >= 21 && (reply[8] & 0x80) != 0;
        if (isrc.valid) {
            isrc.text.assign(reinterpret_cast<const char*>(reply + 9), 12);
        }
        return 0;
    }

    int ReadCdText(BYTE* buffer, DWORD size, DWORD& length) override {
        length = 0;
        size = std::min<DWORD>(size, 0xFFFF);
        ScsiAnswer answer;
        if (const int error =
                SendReadCommand(Fd(),
                                {mmc::kReadToc, 0x00, 0x05, 0, 0, 0, 0, static_cast<BYTE>(size >> 8),
                                 static_cast<BYTE>(size & 0xFF), 0},
                                buffer, size, answer)) {
            return error;
        }
        if (answer.status != kScsiGood) {
            return answer.SenseKey() == 0x02 ? ENOMEDIUM : (answer.SenseKey() == 0x05 ? EINVAL : EIO);
        }
        length = answer.transferred;
        return 0;
    }

    int PreventRemoval(bool prevent) override { return Control(Fd(), CDROM_LOCKDOOR, prevent ? 1 : 0); }
};

// A drive of removable media that is no CD drive (a card reader, a USB disk): opened for reading and
// writing, it answers the volume and tray controls; the CD controls are not its to answer.
class LinuxRemovableVolume final : public LinuxVolume {
public:
    LinuxRemovableVolume(std::string path, int fd) : LinuxVolume(std::move(path), fd, O_RDWR) {}

    int GetDiskType(DWORD& type) override {
        type = 0;
        return ENOTTY;
    }
    int ReadToc(CdToc&) override { return ENOTTY; }
    int GetLastSession(CdSessionInfo&) override { return ENOTTY; }
    int ReadAudio(LONG, DWORD, BYTE*) override { return ENOTTY; }
    int ReadPosition(CdQPosition&) override { return ENOTTY; }
    int ReadCatalogue(CdQText&) override { return ENOTTY; }
    int ReadIsrc(BYTE, CdQText&) override { return ENOTTY; }

    // The SCSI disk driver's door lock and its start-stop eject and load.
    int PreventRemoval(bool prevent) override {
        constexpr unsigned long kDoorLock = 0x5380;
        constexpr unsigned long kDoorUnlock = 0x5381;
        return Control(Fd(), prevent ? kDoorLock : kDoorUnlock, 0);
    }
};

} // namespace

std::unique_ptr<CdDevice> OpenLinuxRemovableVolume(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path + " for reading and writing: " + std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<LinuxRemovableVolume>(path, fd);
}

std::unique_ptr<CdDevice> OpenLinuxCdDevice(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (::ioctl(fd, CDROM_GET_CAPABILITY, 0) < 0) {
        const int code = errno;
        ::close(fd);
        error = path + " is not a CD-ROM device: " + std::strerror(code);
        return nullptr;
    }
    return std::make_unique<LinuxCdDevice>(path, fd);
}

} // namespace platform
