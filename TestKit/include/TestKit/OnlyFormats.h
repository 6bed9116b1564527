// A device that claims to take only some formats, around a real one: ALSA's null slave takes every
// format, so this is how a capture stands in for a DAC that takes, say, only DSD_U8.
#pragma once

#include "PcmDevice.h"

#include <memory>
#include <set>
#include <string>
#include <utility>

namespace testkit {

class OnlyFormats final : public mervane::PcmDevice {
public:
    OnlyFormats(std::unique_ptr<mervane::PcmDevice> inner, std::set<mervane::PcmFormat> formats)
        : inner_(std::move(inner)), formats_(std::move(formats)) {}
    bool Accepts(mervane::PcmFormat f, unsigned rate) override {
        return formats_.count(f) != 0 && inner_->Accepts(f, rate);
    }
    bool Configure(mervane::PcmFormat f, unsigned rate, unsigned us, unsigned periods,
                   std::string* e) override {
        return inner_->Configure(f, rate, us, periods, e);
    }
    long Write(const void* d, std::size_t n) noexcept override { return inner_->Write(d, n); }
    int Prepare() noexcept override { return inner_->Prepare(); }
    int Resume() noexcept override { return inner_->Resume(); }
    std::size_t QueuedFrames() noexcept override { return inner_->QueuedFrames(); }
    std::size_t BufferFrames() const noexcept override { return inner_->BufferFrames(); }
    std::size_t PeriodFrames() const noexcept override { return inner_->PeriodFrames(); }
    void Drain() noexcept override { inner_->Drain(); }
    int Card() const noexcept override { return inner_->Card(); }
    std::string DeviceName() const override { return inner_->DeviceName(); }

private:
    std::unique_ptr<mervane::PcmDevice> inner_;
    std::set<mervane::PcmFormat> formats_;
};

} // namespace testkit
