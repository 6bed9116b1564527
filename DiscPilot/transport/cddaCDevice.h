// The transport part of a reader: chooses, by "Cdrom_Mode", between the pass-through transport and the
// raw transport when a drive is opened, and answers every reader operation through the one in use.
#pragma once

#include "drives/DriveInquiry.h"
#include "transport/CdTransport.h"
#include "transport/cddaCAspiDevice.h"
#include "transport/cddaCRawDevice.h"

#include <memory>

namespace discpilot {

inline constexpr int kActiveNone = 0;
inline constexpr int kActiveAspi = 1;
inline constexpr int kActiveRaw = 3;

class cddaCDevice : public CdTransport {
public:
    // Reads "Cdrom_Mode". kind is the pass-through kind to use (the controller always passes 1).
    explicit cddaCDevice(int kind);
    ~cddaCDevice() override;
    cddaCDevice(const cddaCDevice&) = delete;
    cddaCDevice& operator=(const cddaCDevice&) = delete;

    // Identifies the drive behind a letter and opens a transport for it: pass-through only, raw only, or
    // pass-through falling back to raw when pass-through cannot identify the drive (the transport that
    // identified it is used). 0, or 502 when identification fails, or the transport's open result.
    // Blocks while devices are opened; closes any transport open before.
    int OpenTransport(char letter);
    void CloseTransport() noexcept;

    // Every operation answers 502 when no transport is open.
    int TestUnitReady() override;
    int ModeSense(int page, bool tenByte, ModeBuffer buffer) override;
    int ModeSelect(BYTE density, WORD blockLength, bool tenByte) override;
    int ReadSubChannel(int format, int track, SubChannelBuffer buffer) override;
    int ReadToc(int format, int trackOrSession, bool olderForm, TocBuffer buffer) override;
    int ReadCdText(std::span<BYTE> buffer) override;
    int Seek6(DWORD lba) override;
    int Seek10(DWORD lba) override;
    int SetSpeed(int multiple) override;
    int ReadAudio(DWORD readMode, DWORD lba, DWORD count, BYTE* buffer) override;
    // The pass-through transport's maximum transfer length; 0 (unknown) for raw or with nothing open.
    DWORD MaxTransferLength() const noexcept override;

    int Kind() const noexcept { return kind_; }
    int CdromMode() const noexcept { return cdromMode_; }
    int ActiveTransport() const noexcept { return active_; }
    // The identity of the open drive (letter as passed to OpenTransport).
    const DriveIdentity& Identity() const noexcept { return identity_; }
    // The open transport of each kind; null when that kind is not the one open.
    cddaCAspiDevice* Aspi() noexcept;
    cddaCRawDevice* Raw() noexcept;

private:
    int kind_;
    int cdromMode_;
    int active_ = kActiveNone;
    std::unique_ptr<CdTransport> transport_; // the open transport, of the kind active_ names
    DriveIdentity identity_;
};

} // namespace discpilot
