// The Linux CD implementations without a drive: requests laid out as the kernel expects them, answers
// read back into status and fixed sense, and clear errors for paths that are not CD drives.
#include "../src/linux/Cdrom.h"
#include "../src/linux/LinuxDevices.h"

#include "Platform/DriveTable.h"

#include "TestKit/Scratch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>

using namespace platform;
using ::testing::HasSubstr;

namespace {

TEST(LinuxSgIo, RequestCarriesTheBlockTheBufferAndTheTimeOut) {
    std::vector<BYTE> buffer(26 * 2352);
    ScsiCommand read;
    read.cdb = {0xBE, 0x04, 0x00, 0x01, 0x02, 0x03, 0x00, 0x00, 26, 0xF8, 0, 0};
    read.cdbLength = 12;
    read.direction = ScsiDirection::In;
    read.data = buffer.data();
    read.dataLength = static_cast<DWORD>(buffer.size());
    read.timeoutMs = 16000;
    unsigned char sense[linuxcd::kSenseCapacity];
    const sg_io_hdr_t h = linuxcd::BuildSgIoHeader(read, sense);
    EXPECT_EQ(h.interface_id, 'S');
    EXPECT_EQ(h.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(h.cmd_len, 12);
    EXPECT_EQ(h.cmdp, read.cdb.data());
    EXPECT_EQ(std::vector<BYTE>(h.cmdp, h.cmdp + 12),
              std::vector<BYTE>(read.cdb.begin(), read.cdb.begin() + 12));
    EXPECT_EQ(h.dxferp, buffer.data());
    EXPECT_EQ(h.dxfer_len, 26u * 2352);
    EXPECT_EQ(h.sbp, sense);
    EXPECT_EQ(h.mx_sb_len, linuxcd::kSenseCapacity);
    EXPECT_EQ(h.timeout, 16000u);

    BYTE params[128] = {};
    ScsiCommand select;
    select.cdb = {0x15, 0x10, 0x01, 0, 12, 0};
    select.cdbLength = 6;
    select.direction = ScsiDirection::Out;
    select.data = params;
    select.dataLength = sizeof params;
    EXPECT_EQ(linuxcd::BuildSgIoHeader(select, sense).dxfer_direction, SG_DXFER_TO_DEV);
    ScsiCommand tur; // the all-zero 12-byte TEST UNIT READY goes out as 12 bytes, without data
    tur.cdbLength = 12;
    const sg_io_hdr_t t = linuxcd::BuildSgIoHeader(tur, sense);
    EXPECT_EQ(t.dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(t.cmd_len, 12);
    EXPECT_EQ(t.dxferp, nullptr);
}

TEST(LinuxSgIo, AnswersBecomeStatusFixedSenseAndErrors) {
    unsigned char sense[linuxcd::kSenseCapacity] = {};
    sg_io_hdr_t h{};
    h.dxfer_direction = SG_DXFER_FROM_DEV;
    h.dxfer_len = 4704;
    h.resid = 2352;
    ScsiAnswer a;
    linuxcd::ReadSgIoHeader(h, sense, a);
    EXPECT_EQ(a.error, 0);
    EXPECT_EQ(a.status, kScsiGood);
    EXPECT_EQ(a.transferred, 2352u);

    // Check condition with descriptor-format sense (key 3, 11/05, LBA 305): handed on as fixed sense.
    const unsigned char descriptor[] = {0x72, 0x03, 0x11, 0x05, 0, 0, 0, 12, 0x00, 0x0A,
                                        0x80, 0,    0,    0,    0, 0, 0, 0,  0x01, 0x31};
    std::copy(std::begin(descriptor), std::end(descriptor), sense);
    h.status = kScsiCheckCondition;
    h.sb_len_wr = sizeof descriptor;
    h.driver_status = 0x08;
    linuxcd::ReadSgIoHeader(h, sense, a);
    EXPECT_EQ(a.status, kScsiCheckCondition);
    EXPECT_EQ(a.sense, MakeFixedSense(3, 0x11, 0x05, 305));

    h = {};
    h.host_status = 0x03;
    linuxcd::ReadSgIoHeader(h, sense, a);
    EXPECT_EQ(a.error, ETIMEDOUT);
    h.host_status = 0x01; // no connect
    linuxcd::ReadSgIoHeader(h, sense, a);
    EXPECT_EQ(a.error, EIO);
    EXPECT_EQ(a.sense, (std::array<BYTE, kSenseBytes>{}));
}

TEST(LinuxSgIo, SenseConversionKeepsFixedSenseAndRefusesFragments) {
    const auto fixed = MakeFixedSense(5, 0x20, 0x00);
    EXPECT_EQ(ToFixedSense(fixed.data(), fixed.size()), fixed);
    EXPECT_EQ(fixed[2], 5);
    EXPECT_EQ(fixed[7], 10);
    EXPECT_EQ(fixed[12], 0x20);
    const BYTE shortSense[] = {0x70, 0, 5};
    EXPECT_EQ(ToFixedSense(shortSense, sizeof shortSense), (std::array<BYTE, kSenseBytes>{}));
    EXPECT_EQ(ToFixedSense(nullptr, 0), (std::array<BYTE, kSenseBytes>{}));
}

TEST(LinuxCdrom, IoctlStructuresAreFilledAsTheKernelReadsThem) {
    BYTE buffer[2352];
    const cdrom_read_audio r = linuxcd::BuildReadAudio(1234, 75, buffer);
    EXPECT_EQ(r.addr_format, CDROM_LBA);
    EXPECT_EQ(r.addr.lba, 1234);
    EXPECT_EQ(r.nframes, 75);
    EXPECT_EQ(r.buf, buffer);
    EXPECT_EQ(linuxcd::kMaxAudioFramesPerRead, 75u);

    cdrom_tocentry e{};
    e.cdte_track = CDROM_LEADOUT;
    e.cdte_adr = 1;
    e.cdte_ctrl = 4;
    e.cdte_format = CDROM_MSF;
    e.cdte_addr.msf = {15, 25, 0};
    const CdTocEntry entry = linuxcd::FromKernelTocEntry(e);
    EXPECT_EQ(entry.track, kCdLeadOutTrack);
    EXPECT_EQ(entry.adrControl, 0x14);
    EXPECT_EQ(entry.Lba(), 15 * 4500 + 25 * 75 - 150);
}

TEST(LinuxCdrom, MountTableIsSearchedByDeviceNumber) {
    const std::string mountinfo = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                                  "40 22 11:0 / /media/cd ro - iso9660 /dev/sr0 ro\n";
    EXPECT_TRUE(linuxcd::MountinfoNamesDevice(mountinfo, 11, 0));
    EXPECT_FALSE(linuxcd::MountinfoNamesDevice(mountinfo, 11, 1));
    EXPECT_FALSE(linuxcd::MountinfoNamesDevice(mountinfo, 1, 1));
    EXPECT_FALSE(linuxcd::MountinfoNamesDevice("", 11, 0));
}

TEST(LinuxOpen, PathsThatAreNotCdDrivesGiveClearErrors) {
    std::string error;
    EXPECT_EQ(OpenLinuxCdDevice("/dev/no-such-drive", error), nullptr);
    EXPECT_EQ(error, "cannot open /dev/no-such-drive: No such file or directory");
    EXPECT_EQ(OpenLinuxCdDevice("/dev/null", error), nullptr);
    EXPECT_THAT(error, HasSubstr("/dev/null is not a CD-ROM device: "));
    EXPECT_EQ(OpenLinuxScsiPassThrough("/dev/null", error), nullptr);
    EXPECT_THAT(error, HasSubstr("/dev/null does not take SCSI commands (SG_IO): "));
    const testkit::ScratchFolder scratch("not-a-device");
    const auto file = scratch.Put("file", "x");
    EXPECT_EQ(OpenLinuxScsiPassThrough(file.string(), error), nullptr);
    EXPECT_EQ(error, file.string() + " is not a device");
}

} // namespace
