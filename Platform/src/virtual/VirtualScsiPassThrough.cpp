// SCSI pass-through to a virtual drive: a view that hands command blocks to the shared emulated drive.
#include "Platform/VirtualDrive.h"

namespace platform {

namespace {

class VirtualScsiPassThrough final : public ScsiPassThrough {
public:
    VirtualScsiPassThrough(std::shared_ptr<VirtualDrive> drive, ScsiAddress address)
        : drive_(std::move(drive)), address_(address) {}

    int Execute(const ScsiCommand& cmd, ScsiAnswer& answer) override { return drive_->Execute(cmd, answer); }
    ScsiAddress Address() const override { return address_; }
    DWORD MaxTransferLength() const override { return drive_->MaxTransferLength(); }

private:
    std::shared_ptr<VirtualDrive> drive_;
    ScsiAddress address_;
};

} // namespace

std::unique_ptr<ScsiPassThrough> MakeVirtualScsiPassThrough(std::shared_ptr<VirtualDrive> drive,
                                                            ScsiAddress address) {
    return std::make_unique<VirtualScsiPassThrough>(std::move(drive), address);
}

} // namespace platform
