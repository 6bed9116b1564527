// The pure parts of the Linux CD implementations, apart so that tests can check how requests are laid
// out and answers read without a drive: the SG_IO header, the CD-ROM ioctl structures, and the mount
// table look-up.
#pragma once

#include "Platform/CdDevice.h"
#include "Platform/ScsiPassThrough.h"

#include <linux/cdrom.h>
#include <scsi/sg.h>

#include <string_view>

namespace platform::linuxcd {

// Room for the sense a device may return; more than the fixed 18 bytes so descriptor sense fits.
inline constexpr unsigned char kSenseCapacity = 64;

// The SG_IO request for one command: direction, block, buffer and time-out taken from cmd.
sg_io_hdr_t BuildSgIoHeader(const ScsiCommand& cmd, unsigned char* sense);

// Fills answer from a completed SG_IO request (status, sense in the fixed format, bytes moved, and an
// errno for an adapter or driver failure).
void ReadSgIoHeader(const sg_io_hdr_t& header, const unsigned char* sense, ScsiAnswer& answer);

// Sends cmd through SG_IO on fd and fills answer; returns answer.error.
int SendSgIo(int fd, const ScsiCommand& cmd, ScsiAnswer& answer);

// The CDROMREADAUDIO request for `frames` CD-DA sectors from lba into buffer.
cdrom_read_audio BuildReadAudio(LONG lba, int frames, BYTE* buffer);

// Largest number of sectors the kernel accepts in one CDROMREADAUDIO.
inline constexpr DWORD kMaxAudioFramesPerRead = CD_FRAMES;

// A TOC entry as CDROMREADTOCENTRY returns it in MSF form.
CdTocEntry FromKernelTocEntry(const cdrom_tocentry& entry);

// True when /proc/self/mountinfo text lists a file system on the block device major:minor.
bool MountinfoNamesDevice(std::string_view mountinfo, unsigned major, unsigned minor);

} // namespace platform::linuxcd
