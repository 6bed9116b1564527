// The CD device controls of a virtual drive: a view that forwards to the shared emulated drive.
#include "Platform/MmcCommands.h"
#include "Platform/VirtualDrive.h"

#include <algorithm>

namespace platform {

namespace {

class VirtualCdDevice final : public CdDevice {
public:
    explicit VirtualCdDevice(std::shared_ptr<VirtualDrive> drive) : drive_(std::move(drive)) {}

    int GetDiskType(DWORD& type) override { return drive_->GetDiskType(type); }
    int DriveStatus(CdDriveStatus& status) override { return drive_->DriveStatus(status); }
    int ReadToc(CdToc& toc) override { return drive_->ReadToc(toc); }
    int GetLastSession(CdSessionInfo& info) override { return drive_->GetLastSession(info); }
    int ReadAudio(LONG lba, DWORD count, BYTE* buffer) override {
        return drive_->ReadAudio(lba, count, buffer);
    }
    int ReadPosition(CdQPosition& position) override { return drive_->ReadPosition(position); }
    int ReadCatalogue(CdQText& catalogue) override { return drive_->ReadCatalogue(catalogue); }
    int ReadIsrc(BYTE track, CdQText& isrc) override { return drive_->ReadIsrc(track, isrc); }
    // The drive answers the command itself, as the kernel passes it to a real one.
    int ReadCdText(BYTE* buffer, DWORD size, DWORD& length) override {
        length = 0;
        size = std::min<DWORD>(size, 0xFFFF);
        ScsiCommand cmd;
        cmd.cdb = {mmc::kReadToc,
                   0x00,
                   0x05,
                   0,
                   0,
                   0,
                   0,
                   static_cast<BYTE>(size >> 8),
                   static_cast<BYTE>(size & 0xFF),
                   0};
        cmd.cdbLength = 10;
        cmd.direction = ScsiDirection::In;
        cmd.data = buffer;
        cmd.dataLength = size;
        ScsiAnswer answer;
        if (const int error = drive_->Execute(cmd, answer)) {
            return error;
        }
        if (answer.status != kScsiGood) {
            return answer.SenseKey() == 0x02 ? ENOMEDIUM : (answer.SenseKey() == 0x05 ? EINVAL : EIO);
        }
        length = answer.transferred;
        return 0;
    }
    // An image is never mounted, so dismounting always succeeds; the lock fails while the profile says
    // the volume is busy.
    int Lock() override { return drive_->Lock(); }
    int Dismount() override { return 0; }
    int PreventRemoval(bool prevent) override { return drive_->PreventRemoval(prevent); }
    int Eject() override { return drive_->Eject(); }
    int Load() override { return drive_->Load(); }

private:
    std::shared_ptr<VirtualDrive> drive_;
};

} // namespace

std::unique_ptr<CdDevice> MakeVirtualCdDevice(std::shared_ptr<VirtualDrive> drive) {
    return std::make_unique<VirtualCdDevice>(std::move(drive));
}

} // namespace platform
