#include "transport/cddaCDevice.h"

#include "drives/DriveDiscovery.h"
#include "store/DriveSettings.h"

namespace discpilot {

cddaCDevice::cddaCDevice(int kind) : kind_(kind), cdromMode_(ReadCdromMode()) {}

cddaCDevice::~cddaCDevice() = default;

void cddaCDevice::CloseTransport() noexcept {
    aspi_.reset();
    raw_.reset();
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
            aspi_ = std::move(aspi);
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
    raw_ = std::move(raw);
    active_ = kActiveRaw;
    return kTransportOk;
}

// One dispatch per operation: the pass-through transport, the raw transport, or 502.
#define DISPATCH(call)                                                                                       \
    do {                                                                                                     \
        if (active_ == kActiveAspi) {                                                                        \
            return aspi_->call;                                                                              \
        }                                                                                                    \
        if (active_ == kActiveRaw) {                                                                         \
            return raw_->call;                                                                               \
        }                                                                                                    \
        return kTransportNoDevice;                                                                           \
    } while (false)

int cddaCDevice::TestUnitReady() {
    DISPATCH(TestUnitReady());
}
int cddaCDevice::ModeSense(int page, bool tenByte, BYTE* buffer) {
    DISPATCH(ModeSense(page, tenByte, buffer));
}
int cddaCDevice::ModeSelect(BYTE density, WORD blockLength, bool tenByte) {
    DISPATCH(ModeSelect(density, blockLength, tenByte));
}
int cddaCDevice::ReadSubChannel(int format, int track, BYTE* buffer) {
    DISPATCH(ReadSubChannel(format, track, buffer));
}
int cddaCDevice::ReadToc(int format, int trackOrSession, bool olderForm, BYTE* buffer) {
    DISPATCH(ReadToc(format, trackOrSession, olderForm, buffer));
}
int cddaCDevice::Seek6(DWORD lba) {
    DISPATCH(Seek6(lba));
}
int cddaCDevice::Seek10(DWORD lba) {
    DISPATCH(Seek10(lba));
}
int cddaCDevice::SetSpeed(int multiple) {
    DISPATCH(SetSpeed(multiple));
}
int cddaCDevice::ReadAudio(DWORD readMode, DWORD lba, DWORD count, BYTE* buffer) {
    DISPATCH(ReadAudio(readMode, lba, count, buffer));
}

#undef DISPATCH

DWORD cddaCDevice::MaxTransferLength() const noexcept {
    return active_ == kActiveAspi ? aspi_->MaxTransferLength() : 0;
}

} // namespace discpilot
