// The part every ALSA output shares: one PCM device fed encoded blocks by blocking writes, underruns
// recovered and counted, device loss reported, and DSD silence kept flowing while the engine is idle.
#pragma once

#include "BlockEncoder.h"
#include "Mervane/DsdDriver.h"
#include "PcmDevice.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace mervane {

using platform::OutputKind;

// Writes are paced by the device: WriteBlock returns once the device buffer has room for the block. When
// the engine writes nothing for kIdleBefore (paused, stopped, between tracks), a keeper thread writes
// encoded DSD silence instead, about as fast as the device plays it and keeping the buffer half full, so
// the device never runs dry and a DAC never sees the stream stop (a DSD DAC would click or drop to PCM).
// The silence goes through the block encoder, so DoP markers and filter state run on unbroken.
class StreamDriver : public DsdDriver {
public:
    static constexpr unsigned kBufferUs = 500000;
    static constexpr unsigned kMinPeriods = 4;
    static constexpr std::chrono::milliseconds kIdleBefore{40};
    static constexpr std::chrono::milliseconds kKeeperTick{10};
    // Resume attempts after a suspend, kKeeperTick apart, before the device counts as lost.
    static constexpr int kResumeAttempts = 200;

    // rate: the DSD rate the encoder carries; rates: every rate the device takes (found by the opener).
    StreamDriver(std::unique_ptr<PcmDevice> device, std::unique_ptr<BlockEncoder> encoder, OutputKind kind,
                 std::string pcmName, DsdRate rate = DsdRate::kDsd64,
                 DsdRateSet rates = platform::DsdRateBit(DsdRate::kDsd64));
    ~StreamDriver() override;
    StreamDriver(const StreamDriver&) = delete;
    StreamDriver& operator=(const StreamDriver&) = delete;

    // Configures the device for the encoder's format and rate and starts the keeper thread. False (with
    // *error) when the device refuses. Call once, before any WriteBlock.
    bool Start(std::string* error);

    // Output thread. Encodes and writes one block; blocks while the device is full. False once the device
    // is lost (unplugged, suspended for good); every later call fails at once. Does not allocate.
    bool WriteBlock(const std::uint8_t* left, const std::uint8_t* right) noexcept override;
    // Stops the keeper, plays out what is queued and closes the device. False when the device was lost.
    bool Close() noexcept override;

    platform::OutputInfo Describe() const override;
    DsdRate Rate() const noexcept override { return rate_; }
    DsdRateSet Rates() const noexcept override { return rates_; }
    void SetSoftwareGain(float gain) noexcept override { encoder_->SetGain(gain); }
    std::uint64_t Underruns() const noexcept override { return underruns_.load(); }
    std::uint64_t SilentBlocks() const noexcept { return silentBlocks_.load(); }
    bool Lost() const noexcept { return lost_.load(); }
    const BlockEncoder& Encoder() const noexcept { return *encoder_; }
    // The device's buffer and period as configured by Start, in frames (0 before Start or after Close).
    std::size_t BufferFrames() const noexcept { return device_ ? device_->BufferFrames() : 0; }
    std::size_t PeriodFrames() const noexcept { return device_ ? device_->PeriodFrames() : 0; }

private:
    bool WriteFrames(const std::uint8_t* data, std::size_t frames) noexcept;
    bool Lose() noexcept;
    void KeepAlive();

    std::unique_ptr<PcmDevice> device_;
    std::unique_ptr<BlockEncoder> encoder_;
    OutputKind kind_;
    std::string pcmName_;
    DsdRate rate_;
    DsdRateSet rates_;
    std::chrono::nanoseconds blockDuration_; // one block at rate_
    // The device's card and own name, as Start found them (the device is gone after Close).
    int card_ = -1;
    std::string deviceName_;

    std::mutex mutex_; // one writer at a time: the output thread or the keeper
    std::condition_variable wake_;
    bool closing_ = false;
    std::vector<std::uint8_t> frames_;  // one encoded block
    std::vector<std::uint8_t> silence_; // one block of the engine's DSD silence byte, per channel
    std::chrono::steady_clock::time_point lastEngineWrite_{};
    std::atomic<std::uint64_t> underruns_{0};
    std::atomic<std::uint64_t> silentBlocks_{0};
    std::atomic<bool> lost_{false};
    std::thread keeper_;
};

// Starts a stream driver for an opened device; null (with *error) when the device cannot be started.
std::unique_ptr<StreamDriver> StartStreamDriver(std::unique_ptr<PcmDevice> device,
                                                std::unique_ptr<BlockEncoder> encoder, OutputKind kind,
                                                std::string pcmName, std::string* error,
                                                DsdRate rate = DsdRate::kDsd64,
                                                DsdRateSet rates = platform::DsdRateBit(DsdRate::kDsd64));

// Opens the ALSA PCM named after "<prefix>:" and hands it to start at rate; an empty name is explained
// with an example. Null (with *error) on failure.
using StartDriverFunction = std::unique_ptr<StreamDriver> (*)(std::unique_ptr<PcmDevice>, std::string,
                                                              std::string*, DsdRate);
std::unique_ptr<DsdDriver> OpenNamedPcmDriver(std::string_view prefix, std::string_view example,
                                              std::string_view pcmName, StartDriverFunction start,
                                              std::string* error, DsdRate rate);

// The error text for a device that does not take rate: names the rates it takes.
std::string RateRefusedText(const std::string& pcmName, DsdRate rate, DsdRateSet taken);

// How one kind of stream driver carries DSD in a device's frames (native DSD, DoP): the formats it tries,
// in order, and the frame rate at which a format carries a DSD rate.
struct DsdCarrier {
    std::span<const PcmFormat> formats;
    unsigned (*frameRate)(PcmFormat format, DsdRate rate);
};

// The first of the carrier's formats the device takes in two channels at its frame rate for rate; none
// when it takes none of them there.
std::optional<PcmFormat> ChooseCarrierFormat(PcmDevice& device, const DsdCarrier& carrier, DsdRate rate);
// The DSD rates at which the device takes one of the carrier's formats.
DsdRateSet CarrierRates(PcmDevice& device, const DsdCarrier& carrier);

// What a driver of the carrier starts with at rate: the format, and every rate the device takes. None
// (with *error) when the device takes no rate at all (noFormatText) or not this one (RateRefusedText, then
// refusedSuffix).
struct CarrierChoice {
    PcmFormat format;
    DsdRateSet rates;
};
std::optional<CarrierChoice> ChooseCarrier(PcmDevice& device, const DsdCarrier& carrier, DsdRate rate,
                                           const std::string& pcmName, std::string_view noFormatText,
                                           std::string_view refusedSuffix, std::string* error);

} // namespace mervane
