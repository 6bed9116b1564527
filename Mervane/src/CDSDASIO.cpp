#include "Mervane/CDSDASIO.h"

#include "Platform/Text.h"

CDSDASIO::~CDSDASIO() {
    CloseDriver();
}

bool CDSDASIO::WriteBlock(std::int64_t /*position*/, std::uint8_t* const* channels,
                          std::uint8_t* const* /*work*/) {
    if (!driver_ || channels == nullptr || faulted_)
        return false;
    started.store(true, std::memory_order_relaxed);
    if (!driver_->WriteBlock(channels[0], channels[1])) {
        faulted_ = true;
        resetRequest.store(true);
        return false;
    }
    return true;
}

bool CDSDASIO::OpenDriver(const char16_t* name) {
    CloseDriver();
    const std::string utf8 = name ? platform::Utf16ToUtf8(name) : std::string();
    lastOpenError_.clear();
    driver_ = mervane::OpenDsdDriver(utf8, &lastOpenError_);
    faulted_ = false;
    open.store(driver_ != nullptr);
    return driver_ != nullptr;
}

void CDSDASIO::AcknowledgeReset() {
    // A failed file cannot be resumed without a hole, so a faulted driver keeps refusing writes; the fault
    // is cleared only by opening the driver again.
}

bool CDSDASIO::CloseDriver() {
    bool ok = true;
    if (driver_) {
        ok = driver_->Close();
        driver_.reset();
    }
    open.store(false);
    return ok;
}
