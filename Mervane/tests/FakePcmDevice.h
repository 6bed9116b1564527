// A PcmDevice that takes only the formats a test allows and keeps what is written, with scripted errors.
#pragma once

#include "PcmDevice.h"

#include <cerrno>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace mervanetest {

using mervane::PcmFormat;

class FakePcmDevice final : public mervane::PcmDevice {
public:
    struct State {
        std::mutex mutex;
        std::set<PcmFormat> accepted;
        std::vector<std::pair<PcmFormat, unsigned>> asked; // every Accepts call
        PcmFormat configuredFormat{};
        unsigned configuredRate = 0;
        std::size_t frameBytes = 0;
        std::vector<std::uint8_t> written;
        std::deque<long> writeErrors; // returned by the next Write calls, before any frames are taken
        std::deque<int> resumeResults;
        int prepareResult = 0;
        int prepares = 0;
        int resumes = 0;
        int card = -1;
        std::set<unsigned> pcmRates{176400}; // rates the PCM formats are taken at
        std::set<unsigned> dsdMultiples{1};  // the native formats are taken at these times their DSD64 rate
    };

    explicit FakePcmDevice(State* state) : s_(state) {}

    bool Accepts(PcmFormat format, unsigned rate) override {
        std::lock_guard lock(s_->mutex);
        s_->asked.emplace_back(format, rate);
        return Takes(format, rate);
    }
    bool Configure(PcmFormat format, unsigned rate, unsigned, unsigned, std::string* error) override {
        std::lock_guard lock(s_->mutex);
        if (!Takes(format, rate)) {
            *error = "refused";
            return false;
        }
        s_->configuredFormat = format;
        s_->configuredRate = rate;
        s_->frameBytes = 2 * mervane::PcmFormatBytes(format);
        return true;
    }
    long Write(const void* data, std::size_t frames) noexcept override {
        std::lock_guard lock(s_->mutex);
        if (!s_->writeErrors.empty()) {
            const long e = s_->writeErrors.front();
            s_->writeErrors.pop_front();
            return e;
        }
        const auto* p = static_cast<const std::uint8_t*>(data);
        s_->written.insert(s_->written.end(), p, p + frames * s_->frameBytes);
        return static_cast<long>(frames);
    }
    int Prepare() noexcept override {
        std::lock_guard lock(s_->mutex);
        ++s_->prepares;
        return s_->prepareResult;
    }
    int Resume() noexcept override {
        std::lock_guard lock(s_->mutex);
        ++s_->resumes;
        if (s_->resumeResults.empty())
            return 0;
        const int r = s_->resumeResults.front();
        s_->resumeResults.pop_front();
        return r;
    }
    // Reports a full buffer, so the keeper never adds silence: the bytes are exactly what was written.
    std::size_t QueuedFrames() noexcept override { return 1u << 20; }
    std::size_t BufferFrames() const noexcept override { return 1u << 16; }
    std::size_t PeriodFrames() const noexcept override { return 1u << 14; }
    void Drain() noexcept override {}
    int Card() const noexcept override { return s_->card; }
    std::string DeviceName() const override { return "Fake DAC"; }

private:
    bool Takes(PcmFormat format, unsigned rate) const {
        const unsigned native = mervane::DsdFrameRate(format);
        const bool rateOk = native != 0 ? rate % native == 0 && s_->dsdMultiples.count(rate / native) != 0
                                        : s_->pcmRates.count(rate) != 0;
        return s_->accepted.count(format) != 0 && rateOk;
    }
    State* s_;
};

} // namespace mervanetest
