#include "transport/cddaCDevice.h"

#include "drives/DriveDiscovery.h"
#include "store/DriveSettings.h"

namespace discpilot {

cddaCDevice::cddaCDevice(int kind) : kind_(kind), cdromMode_(ReadCdromMode()) {}

cddaCDevice::~cddaCDevice() = default;

void cddaCDevice::CloseTransport() noexcept {
    transport_.reset();
    active_ = kActiveNone;
    identity_ = {};
}

int cddaCDevice::OpenTransport(char letter) {
    CloseTransport();
    DriveInquiry inquiry;
    int hostAdapter = 0, target = 0;
    if (cdromMode_ == kCdromModeAspi || cdromMode_ == kCdromModeAspiThenRaw) {
        if (IdentifyAspi(letter, kind_, inquiry, hostAdapter, target) == kTransportOk) {
            auto aspi = std::make_unique<cddaCAspiDevice>(kind_);
            if (const int result = OpenAspiDevice(*aspi, letter); result != kTransportOk) {
                return result;
            }
            identity_ = MakeIdentity(letter, hostAdapter, target, inquiry);
            transport_ = std::move(aspi);
            active_ = kActiveAspi;
            return kTransportOk;
        }
        if (cdromMode_ == kCdromModeAspi) {
            return kTransportNoDevice;
        }
    }
    if (IdentifyRaw(letter, inquiry, hostAdapter, target) != kTransportOk) {
        return kTransportNoDevice;
    }
    auto raw = std::make_unique<cddaCRawDevice>();
    if (const int result = raw->Open(letter); result != kTransportOk) {
        return result;
    }
    identity_ = MakeIdentity(letter, hostAdapter, target, inquiry);
    transport_ = std::move(raw);
    active_ = kActiveRaw;
    return kTransportOk;
}

cddaCAspiDevice* cddaCDevice::Aspi() noexcept {
    return active_ == kActiveAspi ? static_cast<cddaCAspiDevice*>(transport_.get()) : nullptr;
}

cddaCRawDevice* cddaCDevice::Raw() noexcept {
    return active_ == kActiveRaw ? static_cast<cddaCRawDevice*>(transport_.get()) : nullptr;
}

int cddaCDevice::TestUnitReady() {
    return transport_ ? transport_->TestUnitReady() : kTransportNoDevice;
}
int cddaCDevice::ModeSense(int page, bool tenByte, ModeBuffer buffer) {
    return transport_ ? transport_->ModeSense(page, tenByte, buffer) : kTransportNoDevice;
}
int cddaCDevice::ModeSelect(BYTE density, WORD blockLength, bool tenByte) {
    return transport_ ? transport_->ModeSelect(density, blockLength, tenByte) : kTransportNoDevice;
}
int cddaCDevice::ReadSubChannel(int format, int track, SubChannelBuffer buffer) {
    return transport_ ? transport_->ReadSubChannel(format, track, buffer) : kTransportNoDevice;
}
int cddaCDevice::ReadToc(int format, int trackOrSession, bool olderForm, TocBuffer buffer) {
    return transport_ ? transport_->ReadToc(format, trackOrSession, olderForm, buffer) : kTransportNoDevice;
}
int cddaCDevice::ReadCdText(std::span<BYTE> buffer) {
    return transport_ ? transport_->ReadCdText(buffer) : kTransportNoDevice;
}
int cddaCDevice::Seek6(DWORD lba) {
    return transport_ ? transport_->Seek6(lba) : kTransportNoDevice;
}
int cddaCDevice::Seek10(DWORD lba) {
    return transport_ ? transport_->Seek10(lba) : kTransportNoDevice;
}
int cddaCDevice::SetSpeed(int multiple) {
    return transport_ ? transport_->SetSpeed(multiple) : kTransportNoDevice;
}
int cddaCDevice::ReadAudio(DWORD readMode, DWORD lba, DWORD count, BYTE* buffer) {
    return transport_ ? transport_->ReadAudio(readMode, lba, count, buffer) : kTransportNoDevice;
}

DWORD cddaCDevice::MaxTransferLength() const noexcept {
    return transport_ ? transport_->MaxTransferLength() : 0;
}

} // namespace discpilot
