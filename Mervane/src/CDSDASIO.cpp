#include "Mervane/CDSDASIO.h"

#include "Platform/Text.h"

CDSDASIO::~CDSDASIO() {
    CloseDriver();
}

bool CDSDASIO::WriteBlock(std::int64_t /*position*/, std::uint8_t* const* channels,
                          std::uint8_t* const* /*work*/) {
    if (faulted_) {
        // Still failed (closed for reopening, or a recording that cannot go on): say so again, so a
        // playback started since is stopped rather than run on into nothing.
        resetRequest.store(true);
        return false;
    }
    if (!driver_ || channels == nullptr)
        return false;
    started.store(true, std::memory_order_relaxed);
    if (!driver_->WriteBlock(channels[0], channels[1])) {
        faulted_ = true;
        lastWriteErrno_.store(driver_->FailureErrno());
        resetRequest.store(true);
        return false;
    }
    return true;
}

bool CDSDASIO::OpenDriver(const char16_t* name) {
    return OpenDriver(name, platform::DsdRate::kDsd64);
}

bool CDSDASIO::OpenDriver(const char16_t* name, platform::DsdRate rate) {
    CloseDriver();
    const std::string utf8 = name ? platform::Utf16ToUtf8(name) : std::string();
    lastOpenError_.clear();
    auto driver = mervane::OpenDsdDriver(utf8, &lastOpenError_, rate);
    name_ = utf8;
    if (driver) {
        std::lock_guard lock(outputMutex_);
        driver_ = std::move(driver);
        driver_->SetSoftwareGain(softwareGain_.load());
        output_ = driver_->Describe();
        output_.generation = generation_.fetch_add(1) + 1;
        rate_.store(driver_->Rate());
        rates_.store(driver_->Rates());
    }
    faulted_ = false;
    lastWriteErrno_.store(0);
    resetRequest.store(false);
    open.store(driver_ != nullptr);
    return driver_ != nullptr;
}

bool CDSDASIO::ChangeRate(platform::DsdRate rate) {
    if (!driver_) {
        lastOpenError_ = "no output is open";
        return false;
    }
    if (faulted_)
        return false;
    if (driver_->Rate() == rate)
        return true;
    if (driver_->ChangeRate(rate)) {
        rate_.store(rate);
        return true;
    }
    if (!driver_->Reopenable()) {
        // A recording that could not go on in a new file: opening it anew would start it afresh.
        faulted_ = true;
        lastWriteErrno_.store(driver_->FailureErrno());
        lastOpenError_ = "the recording cannot go on at " + std::string(platform::DsdRateName(rate));
        resetRequest.store(true);
        return false;
    }
    const std::u16string name = platform::Utf8ToUtf16(name_);
    if (OpenDriver(name.c_str(), rate))
        return true;
    resetRequest.store(true);
    return false;
}

platform::DsdRate CDSDASIO::Rate() const noexcept {
    return rate_.load();
}

platform::DsdRateSet CDSDASIO::Rates() const noexcept {
    return rates_.load();
}

void CDSDASIO::AcknowledgeReset() {
    // A failed device counts as closed, so the next Play opens it again. A failed recording stays open:
    // reopening it would start the file afresh and lose what it holds.
    if (faulted_ && driver_ && driver_->Reopenable())
        CloseDriver();
}

bool CDSDASIO::CloseDriver() {
    bool ok = true;
    if (driver_) {
        ok = driver_->Close();
        std::unique_ptr<mervane::DsdDriver> closed;
        {
            std::lock_guard lock(outputMutex_);
            closedUnderruns_ += driver_->Underruns();
            closed = std::move(driver_);
            output_ = platform::OutputInfo{};
            output_.generation = generation_.fetch_add(1) + 1;
        }
    }
    rate_.store(platform::DsdRate::kDsd64);
    rates_.store(0);
    open.store(false);
    return ok;
}

platform::OutputInfo CDSDASIO::CurrentOutput() const {
    std::lock_guard lock(outputMutex_);
    return output_;
}

void CDSDASIO::SetSoftwareGain(float gain) noexcept {
    softwareGain_.store(gain);
    std::lock_guard lock(outputMutex_);
    if (driver_)
        driver_->SetSoftwareGain(gain);
}

std::uint64_t CDSDASIO::Underruns() const noexcept {
    std::lock_guard lock(outputMutex_);
    return closedUnderruns_ + (driver_ ? driver_->Underruns() : 0);
}
