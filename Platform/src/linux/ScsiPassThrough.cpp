// SCSI pass-through on Linux: SG_IO on the drive's block device (/dev/sr*), which the sr driver accepts
// on a descriptor opened read-only and non-blocking (so an empty drive can be opened).
#include "Cdrom.h"
#include "LinuxDevices.h"

#include "Platform/DriveTable.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <scsi/scsi.h>
#include <scsi/scsi_ioctl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace platform {

namespace linuxcd {

sg_io_hdr_t BuildSgIoHeader(const ScsiCommand& cmd, unsigned char* sense) {
    sg_io_hdr_t header{};
    header.interface_id = 'S';
    switch (cmd.direction) {
    case ScsiDirection::In:
        header.dxfer_direction = SG_DXFER_FROM_DEV;
        break;
    case ScsiDirection::Out:
        header.dxfer_direction = SG_DXFER_TO_DEV;
        break;
    case ScsiDirection::None:
        header.dxfer_direction = SG_DXFER_NONE;
        break;
    }
    header.cmd_len = cmd.cdbLength;
    header.cmdp = const_cast<unsigned char*>(cmd.cdb.data());
    header.dxferp = cmd.dataLength > 0 ? cmd.data : nullptr;
    header.dxfer_len = cmd.dataLength;
    header.mx_sb_len = kSenseCapacity;
    header.sbp = sense;
    header.timeout = cmd.timeoutMs;
    return header;
}

void ReadSgIoHeader(const sg_io_hdr_t& header, const unsigned char* sense, ScsiAnswer& answer) {
    constexpr unsigned short kDidTimeOut = 0x03;    // host status: the adapter timed the command out
    constexpr unsigned short kDriverTimeOut = 0x06; // driver status
    constexpr unsigned short kDriverSense = 0x08;
    answer = {};
    if (header.host_status == kDidTimeOut || (header.driver_status & 0x0F) == kDriverTimeOut) {
        answer.error = ETIMEDOUT;
        return;
    }
    if (header.host_status != 0) {
        answer.error = EIO;
        return;
    }
    answer.status = header.status & 0xFE;
    const bool hasSense = header.sb_len_wr > 0;
    if (hasSense && (answer.status == kScsiCheckCondition || (header.driver_status & kDriverSense) != 0)) {
        answer.status = kScsiCheckCondition;
        answer.sense = ToFixedSense(sense, header.sb_len_wr);
    }
    const int moved = static_cast<int>(header.dxfer_len) - header.resid;
    answer.transferred = header.dxfer_direction == SG_DXFER_NONE || moved < 0 ? 0 : static_cast<DWORD>(moved);
}

int SendSgIo(int fd, const ScsiCommand& cmd, ScsiAnswer& answer) {
    answer = {};
    if (cmd.cdbLength == 0 || cmd.cdbLength > cmd.cdb.size() || (cmd.dataLength > 0 && cmd.data == nullptr) ||
        (cmd.direction == ScsiDirection::None && cmd.dataLength > 0)) {
        answer.error = EINVAL;
        return answer.error;
    }
    unsigned char sense[kSenseCapacity] = {};
    sg_io_hdr_t header = BuildSgIoHeader(cmd, sense);
    while (::ioctl(fd, SG_IO, &header) < 0) {
        if (errno != EINTR) {
            answer.error = errno;
            return answer.error;
        }
    }
    ReadSgIoHeader(header, sense, answer);
    return answer.error;
}

} // namespace linuxcd

namespace {

class LinuxScsiPassThrough final : public ScsiPassThrough {
public:
    LinuxScsiPassThrough(int fd, ScsiAddress address, DWORD maxTransfer)
        : fd_(fd), address_(address), maxTransfer_(maxTransfer) {}
    ~LinuxScsiPassThrough() override { ::close(fd_); }
    LinuxScsiPassThrough(const LinuxScsiPassThrough&) = delete;
    LinuxScsiPassThrough& operator=(const LinuxScsiPassThrough&) = delete;

    int Execute(const ScsiCommand& cmd, ScsiAnswer& answer) override {
        if (maxTransfer_ != 0 && cmd.dataLength > maxTransfer_) {
            answer = {};
            answer.error = EINVAL;
            return answer.error;
        }
        const std::lock_guard lock(mutex_);
        return linuxcd::SendSgIo(fd_, cmd, answer);
    }
    ScsiAddress Address() const override { return address_; }
    DWORD MaxTransferLength() const override { return maxTransfer_; }

private:
    std::mutex mutex_;
    int fd_;
    ScsiAddress address_;
    DWORD maxTransfer_;
};

} // namespace

std::unique_ptr<ScsiPassThrough> OpenLinuxScsiPassThrough(const std::string& path, std::string& error) {
    // MODE SELECT and SET CD SPEED (speed control, the density switch of the vendor read forms) need a
    // writable open; without write access everything else still works, so say once what is missing.
    int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        static std::once_flag told;
        if (fd >= 0) {
            std::call_once(told, [&path] {
                std::fprintf(stderr,
                             "quellwave: %s is open for reading only: the drive's speed and read mode cannot "
                             "be changed (write access to the device is needed)\n",
                             path.c_str());
            });
        }
    }
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode))) {
        ::close(fd);
        error = path + " is not a device";
        return nullptr;
    }
    int version = 0;
    if (::ioctl(fd, SG_GET_VERSION_NUM, &version) < 0) {
        const int code = errno;
        ::close(fd);
        error = path + " does not take SCSI commands (SG_IO): " + std::strerror(code);
        return nullptr;
    }
    // The kernel's SCSI address: id, lun and channel packed in dev_id, the host number beside it.
    ScsiAddress address;
    struct {
        int devId;
        int hostUniqueId;
    } idLun{};
    if (::ioctl(fd, SCSI_IOCTL_GET_IDLUN, &idLun) == 0) {
        address.target = idLun.devId & 0xFF;
        address.lun = (idLun.devId >> 8) & 0xFF;
        address.channel = (idLun.devId >> 16) & 0xFF;
        address.hostAdapter = (idLun.devId >> 24) & 0xFF;
    }
    int host = 0;
    if (::ioctl(fd, SCSI_IOCTL_GET_BUS_NUMBER, &host) == 0) {
        address.hostAdapter = host;
    }
    unsigned short maxSectors = 0;
    DWORD maxTransfer = 0;
    if (S_ISBLK(st.st_mode) && ::ioctl(fd, BLKSECTGET, &maxSectors) == 0) {
        maxTransfer = DWORD{maxSectors} * 512;
    }
    return std::make_unique<LinuxScsiPassThrough>(fd, address, maxTransfer);
}

} // namespace platform
