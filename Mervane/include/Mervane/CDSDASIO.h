// The DSD output device: one driver, opened by name, fed one block per channel per write. It describes the
// driver open now to the level control, and passes the level control's software gain on to it.
#pragma once

#include "Mervane/DsdDriver.h"
#include "Platform/OutputLevelTarget.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class CDSDASIO : public platform::OutputLevelTarget {
public:
    // Channel and work tables hold this many pointers: left, right and four further device channels.
    static constexpr int kTableEntries = 6;
    static constexpr std::uint32_t kChannelBlockBytes = mervane::DsdDriver::kChannelBlockBytes;
    // Position units one block advances.
    static constexpr std::int64_t kPositionPerBlock = 512;

    CDSDASIO() noexcept = default;
    ~CDSDASIO() override;
    CDSDASIO(const CDSDASIO&) = delete;
    CDSDASIO& operator=(const CDSDASIO&) = delete;

    // Output thread. Writes entries 0 (left) and 1 (right) of channels, each kChannelBlockBytes of
    // LSB-first DSD at the rate the driver was opened at; entries 2..5 and the work table are accepted and
    // not read. Sets started. Blocks as long as the driver does. Returns false when no driver is open or the
    // driver failed; a failure raises resetRequest, and so does every later write refused because of it,
    // until OpenDriver. Does not allocate.
    virtual bool WriteBlock(std::int64_t position, std::uint8_t* const* channels, std::uint8_t* const* work);

    // Closes any open driver and opens the one name selects (UTF-16; see mervane::OpenDsdDriver). True
    // when open; sets or clears open accordingly, and clears a failure and its reset request. Blocks on I/O.
    // Call it with the processor lock held (CProcessProc::LockProcess), never while another thread writes.
    virtual bool OpenDriver(const char16_t* name);
    // The same at a DSD rate (OpenDriver opens at DSD64). Fails, with LastOpenError naming the rates the
    // output takes, when it does not take this one.
    bool OpenDriver(const char16_t* name, platform::DsdRate rate);

    // Output thread, between blocks, with the processor lock held. Carries the open driver on at rate:
    // in place when it can (a recording goes on in the next file of its series), else by opening it
    // anew by its name at the rate. True when the driver runs at rate afterwards; on failure the driver
    // is closed (or, for a recording, failed), LastOpenError says why and resetRequest is raised.
    bool ChangeRate(platform::DsdRate rate);
    // The rate the open driver runs at (DSD64 when none is open), and the rates its output takes (0 when
    // none is open). Any thread.
    platform::DsdRate Rate() const noexcept;
    platform::DsdRateSet Rates() const noexcept;

    // Tells the device its reset request was seen; clearing resetRequest is the caller's part. A driver
    // that failed is closed here (finishing it) when it can be opened again, which clears open, so the
    // engine's next Play opens it anew. A failed recording stays open and failed (reopening would start
    // the file afresh): its writes stay refused until OpenDriver.
    virtual void AcknowledgeReset();

    // Finishes and closes the driver (a recording gets its final header). Clears open.
    bool CloseDriver();

    // Why the last OpenDriver failed, for messages to the user; empty after a success.
    const std::string& LastOpenError() const noexcept { return lastOpenError_; }
    // The errno value the driver gave for its last failed write (ENOSPC: the disk is full); 0 when it
    // gave none or nothing failed since OpenDriver. Any thread.
    int LastWriteErrno() const noexcept { return lastWriteErrno_.load(); }

    // The driver open now as it describes itself, with a generation that changes at every open and close
    // (OutputKind::None while nothing is open). Any thread.
    platform::OutputInfo CurrentOutput() const override;
    std::uint64_t CurrentOutputGeneration() const noexcept override { return generation_.load(); }
    // Kept for every driver opened later, and handed to the open one. Any thread.
    void SetSoftwareGain(float gain) noexcept override;
    // Underruns recovered by every driver this device has opened so far. Any thread.
    std::uint64_t Underruns() const noexcept;

    // Read and written directly by the engine (any thread):
    std::atomic<bool> open{false};         // a driver is open
    std::atomic<bool> started{false};      // a block has been written since the engine last cleared it
    std::atomic<bool> resetRequest{false}; // the device asks for a reset (it failed or was lost)

private:
    // Replaced only under outputMutex_, so that any thread may describe the driver or set its gain; the
    // output thread writes to it without the lock (OpenDriver and CloseDriver never run beside a write).
    std::unique_ptr<mervane::DsdDriver> driver_;
    std::string name_;     // the name the open driver was opened by (UTF-8)
    bool faulted_ = false; // a write failed; cleared by OpenDriver
    std::atomic<int> lastWriteErrno_{0};
    std::string lastOpenError_;

    mutable std::mutex outputMutex_; // held for a copy or a store, never across I/O
    platform::OutputInfo output_;
    std::uint64_t closedUnderruns_ = 0; // of the drivers closed so far
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<float> softwareGain_{1.0f};
    std::atomic<platform::DsdRate> rate_{platform::DsdRate::kDsd64};
    std::atomic<platform::DsdRateSet> rates_{0};
};
