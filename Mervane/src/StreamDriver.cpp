#include "StreamDriver.h"

#include <cerrno>

namespace mervane {

namespace {
// The byte the engine writes for silence: a zero-mean DSD pattern.
constexpr std::uint8_t kDsdSilenceByte = 0x69;
std::chrono::nanoseconds BlockDuration(DsdRate rate) noexcept {
    return std::chrono::nanoseconds{std::int64_t{DsdDriver::kChannelBlockBytes} * 8 * 1'000'000'000 /
                                    std::int64_t{platform::DsdSampleRate(rate)}};
}
} // namespace

StreamDriver::StreamDriver(std::unique_ptr<PcmDevice> device, std::unique_ptr<BlockEncoder> encoder,
                           OutputKind kind, std::string pcmName, DsdRate rate, DsdRateSet rates)
    : device_(std::move(device)), encoder_(std::move(encoder)), kind_(kind), pcmName_(std::move(pcmName)),
      rate_(rate), rates_(rates), blockDuration_(BlockDuration(rate)) {}

StreamDriver::~StreamDriver() {
    Close();
}

bool StreamDriver::Start(std::string* error) {
    if (!device_->Configure(encoder_->Format(), encoder_->Rate(), kBufferUs, kMinPeriods, error))
        return false;
    frames_.assign(encoder_->BlockBytes(), 0);
    silence_.assign(kChannelBlockBytes, kDsdSilenceByte);
    lastEngineWrite_ = std::chrono::steady_clock::now();
    card_ = device_->Card();
    deviceName_ = device_->DeviceName();
    keeper_ = std::thread([this] { KeepAlive(); });
    return true;
}

platform::OutputInfo StreamDriver::Describe() const {
    platform::OutputInfo info;
    info.kind = kind_;
    info.pcmName = pcmName_;
    info.card = card_;
    info.deviceName = deviceName_;
    return info;
}

bool StreamDriver::Lose() noexcept {
    lost_.store(true);
    return false;
}

bool StreamDriver::WriteFrames(const std::uint8_t* data, std::size_t frames) noexcept {
    const std::size_t frameBytes = encoder_->FrameBytes();
    while (frames > 0) {
        const long n = device_->Write(data, frames);
        if (n > 0) {
            data += static_cast<std::size_t>(n) * frameBytes;
            frames -= static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0 || n == -EINTR || n == -EAGAIN) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        if (n == -EPIPE) {
            // The device ran dry: a gap the listener heard. Restart it and carry on with this block.
            underruns_.fetch_add(1);
            if (device_->Prepare() < 0)
                return Lose();
            continue;
        }
        if (n == -ESTRPIPE) {
            // Suspended (the machine slept): resume when the device allows it, else start it afresh. A
            // device that can do neither is gone for good.
            int r = device_->Resume();
            for (int attempt = 0; r == -EAGAIN && attempt < kResumeAttempts; ++attempt) {
                std::this_thread::sleep_for(kKeeperTick);
                r = device_->Resume();
            }
            if (r < 0 && device_->Prepare() < 0)
                return Lose();
            underruns_.fetch_add(1);
            continue;
        }
        // -ENODEV (unplugged), -EBADFD, -EIO, ...: nothing more can be written.
        return Lose();
    }
    return true;
}

bool StreamDriver::WriteBlock(const std::uint8_t* left, const std::uint8_t* right) noexcept {
    std::lock_guard lock(mutex_);
    if (lost_.load() || closing_ || frames_.empty())
        return false;
    encoder_->Encode(left, right, frames_.data());
    const bool ok = WriteFrames(frames_.data(), encoder_->FramesPerBlock());
    lastEngineWrite_ = std::chrono::steady_clock::now();
    return ok;
}

void StreamDriver::KeepAlive() {
    std::unique_lock lock(mutex_);
    auto lastTick = std::chrono::steady_clock::now();
    while (!closing_) {
        wake_.wait_for(lock, kKeeperTick);
        if (closing_ || lost_.load())
            continue;
        const auto now = std::chrono::steady_clock::now();
        const auto elapsed = now - lastTick;
        lastTick = now;
        if (now - lastEngineWrite_ < kIdleBefore)
            continue;
        // At most the blocks the device played since the last look, plus one: a device that reports no
        // queue (a plugin without a clock) then gets silence at about the real rate, not as fast as it
        // takes it; a real device is topped up to half its buffer and never blocks the keeper.
        auto budget = elapsed / blockDuration_ + 1;
        while (budget-- > 0 && !lost_.load() && device_->QueuedFrames() < device_->BufferFrames() / 2) {
            encoder_->Encode(silence_.data(), silence_.data(), frames_.data());
            if (!WriteFrames(frames_.data(), encoder_->FramesPerBlock()))
                break;
            silentBlocks_.fetch_add(1);
        }
    }
}

bool StreamDriver::Close() noexcept {
    {
        std::lock_guard lock(mutex_);
        if (closing_)
            return !lost_.load();
        closing_ = true;
    }
    wake_.notify_all();
    if (keeper_.joinable())
        keeper_.join();
    if (!lost_.load() && !frames_.empty())
        device_->Drain();
    device_.reset();
    return !lost_.load();
}

std::unique_ptr<StreamDriver> StartStreamDriver(std::unique_ptr<PcmDevice> device,
                                                std::unique_ptr<BlockEncoder> encoder, OutputKind kind,
                                                std::string pcmName, std::string* error, DsdRate rate,
                                                DsdRateSet rates) {
    auto driver = std::make_unique<StreamDriver>(std::move(device), std::move(encoder), kind,
                                                 std::move(pcmName), rate, rates);
    if (!driver->Start(error))
        return nullptr;
    return driver;
}

std::unique_ptr<DsdDriver> OpenNamedPcmDriver(std::string_view prefix, std::string_view example,
                                              std::string_view pcmName, StartDriverFunction start,
                                              std::string* error, DsdRate rate) {
    if (pcmName.empty()) {
        if (error)
            *error = "\"" + std::string(prefix) + ":\" needs an ALSA device name after the colon, e.g. " +
                     std::string(prefix) + ":" + std::string(example);
        return nullptr;
    }
    auto device = OpenAlsaPcm(pcmName, error);
    if (!device)
        return nullptr;
    return start(std::move(device), std::string(pcmName), error, rate);
}

std::string RateRefusedText(const std::string& pcmName, DsdRate rate, DsdRateSet taken) {
    return "\"" + pcmName + "\" does not take " + platform::DsdRateName(rate) + "; it takes " +
           platform::DsdRateSetText(taken);
}

std::optional<PcmFormat> ChooseCarrierFormat(PcmDevice& device, const DsdCarrier& carrier, DsdRate rate) {
    for (PcmFormat format : carrier.formats) {
        if (device.Accepts(format, carrier.frameRate(format, rate)))
            return format;
    }
    return std::nullopt;
}

DsdRateSet CarrierRates(PcmDevice& device, const DsdCarrier& carrier) {
    DsdRateSet rates = 0;
    for (DsdRate rate : platform::kDsdRates)
        if (ChooseCarrierFormat(device, carrier, rate))
            rates |= platform::DsdRateBit(rate);
    return rates;
}

std::optional<CarrierChoice> ChooseCarrier(PcmDevice& device, const DsdCarrier& carrier, DsdRate rate,
                                           const std::string& pcmName, std::string_view noFormatText,
                                           std::string_view refusedSuffix, std::string* error) {
    const DsdRateSet rates = CarrierRates(device, carrier);
    if (rates == 0) {
        if (error)
            *error = noFormatText;
        return std::nullopt;
    }
    const auto format = ChooseCarrierFormat(device, carrier, rate);
    if (!format) {
        if (error)
            *error = RateRefusedText(pcmName, rate, rates) + std::string(refusedSuffix);
        return std::nullopt;
    }
    return CarrierChoice{*format, rates};
}

} // namespace mervane
