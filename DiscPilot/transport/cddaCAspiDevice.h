// The pass-through transport: SCSI/MMC command blocks sent to the drive at a host adapter and target of
// the pass-through bus (cddaCAspiLibrary), with the request time-out and the sense mapping of
// CommandBlock.h.
#pragma once

#include "Platform/ScsiPassThrough.h"
#include "Platform/Types.h"
#include "drives/DriveInquiry.h"
#include "transport/CdTransport.h"
#include "transport/CommandBlock.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace discpilot {

// Transport kinds: 1 sends through the pass-through bus at the selected adapter and target; 0 sends
// directly to the selected letter's own device with a fixed 8-second time-out; 2 (the old system's
// bridge) does not exist on this platform and answers 503 to every command.
inline constexpr int kKindNtPassThrough = 0;
inline constexpr int kKindAspi = 1;
inline constexpr int kKind9xBridge = 2;

inline constexpr DWORD kDirectPassThroughTimeOutMs = 8000;

class cddaCAspiDevice final : public CdTransport {
public:
    // Reads the adapter count (kind 1) and the request time-out ("ASPITimeOut"). Blocks on the registry
    // and while the bus opens its devices.
    explicit cddaCAspiDevice(int kind);
    // Waits for a request that outlived its time-out to finish (the device's own time-out ends it).
    ~cddaCAspiDevice() override;
    cddaCAspiDevice(const cddaCAspiDevice&) = delete;
    cddaCAspiDevice& operator=(const cddaCAspiDevice&) = delete;

    // Addresses the drive of a letter (upper-cased) at an adapter and target without asking the drive;
    // letter 0 deselects. Not thread-safe against running commands.
    void Select(char letter, int hostAdapter, int target) noexcept;

    // Sends one request and waits up to the time-out for it. 506 with no letter selected (the bus is not
    // touched), 503 for kind 2 or a missing bus, 507 when the request did not complete in time (it
    // is then left to finish on its own: its data never reaches block.data afterwards), else 0 or the
    // mapped sense (all-zero sense, as when nothing answers at the address, gives 500). Commands from
    // several threads are sent one at a time.
    int Execute(CommandBlock& block);

    // Host adapter inquiry for the selected adapter: 505 for an adapter the bus does not have, else 0,
    // taking the device's maximum transfer length when it reports one. 503 as for Execute.
    int HostAdapterInquiry();
    // Only tests that the bus is there: 0, or 503.
    int RescanBus() const;

    // The operations, each one command block built as in CommandBlock.h; buffers as listed there.
    int TestUnitReady() override;
    int Inquiry(DriveInquiry& inquiry);
    int ModeSense(int page, bool tenByte, ModeBuffer buffer) override;
    int ModeSelect(BYTE density, WORD blockLength, bool tenByte) override;
    int ReadSubChannel(int format, int track, SubChannelBuffer buffer) override;
    int ReadToc(int format, int trackOrSession, bool olderForm, TocBuffer buffer) override;
    int ReadCdText(std::span<BYTE> buffer) override;
    int Seek6(DWORD lba) override;
    int Seek10(DWORD lba) override;
    int SetSpeed(int multiple) override;
    int ReadAudio(DWORD readMode, DWORD lba, DWORD count, BYTE* buffer) override;

    int Kind() const noexcept { return kind_; }
    char Letter() const noexcept { return letter_; }
    int HostAdapter() const noexcept { return hostAdapter_; }
    int Target() const noexcept { return target_; }
    int AdapterCount() const noexcept { return adapterCount_; }
    DWORD MaxTransferLength() const noexcept override { return maxTransferLength_; }
    DWORD TimeOutMs() const noexcept { return timeOutMs_; }

private:
    struct Request;
    void WorkerLoop();

    WORD hostAdapter_ = 0;
    WORD target_ = 0;
    int adapterCount_ = 0;
    DWORD maxTransferLength_ = 0;
    int kind_ = kKindAspi;
    char letter_ = 0;
    DWORD timeOutMs_ = 0;

    std::mutex sendMutex_; // one request at a time from this transport
    std::shared_ptr<platform::ScsiPassThrough> device_;
    int deviceHostAdapter_ = -1;
    int deviceTarget_ = -1;
    char deviceLetter_ = 0; // kind 0: the letter device_ was opened for

    // The request worker: requests run on it so that the caller can stop waiting at the time-out.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::shared_ptr<Request> queued_;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread worker_;
};

} // namespace discpilot
