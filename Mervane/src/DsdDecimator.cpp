#include "DsdDecimator.h"

#include "DecimatorCoefficients.h"

#include <algorithm>

namespace mervane {

namespace {
// 50 % modulation is the full-scale PCM level, so a DSD value of +/-0.5 must come out at +/-1.0.
constexpr double kGain = 2.0;
} // namespace

const std::array<std::array<double, 256>, 8>& DecimatorStage1Tables() noexcept {
    static const auto tables = [] {
        std::array<std::array<double, 256>, 8> t{};
        // y = sum over m of h[m] * x[newest - m]. In the byte k bytes back, the sample at bit j (bit 0 is
        // the earliest) lies m = 8k + (7 - j) samples before the newest one.
        for (std::size_t k = 0; k < 8; ++k)
            for (unsigned b = 0; b < 256; ++b) {
                double sum = 0;
                for (unsigned j = 0; j < 8; ++j)
                    sum += decimator::kStage1[8 * k + 7 - j] * (((b >> j) & 1u) ? 1.0 : -1.0);
                t[k][b] = sum;
            }
        return t;
    }();
    return tables;
}

DsdDecimator::DsdDecimator(unsigned rate) : rate_(rate == 44100 ? 44100 : 88200) {
    stage2_.taps = decimator::kStage2;
    stage2_.count = std::size(decimator::kStage2);
    stage3_.taps = decimator::kStage3;
    stage3_.count = std::size(decimator::kStage3);
    stage4_.taps = decimator::kStage4;
    stage4_.count = std::size(decimator::kStage4);
    for (HalfStage* s : {&stage2_, &stage3_, &stage4_})
        s->history.assign(2 * s->count, 0.0);
    DecimatorStage1Tables();
    Reset();
}

void DsdDecimator::Reset() noexcept {
    // The byte history starts as the engine's silence pattern, which decodes to 0, so a stream starts
    // from rest.
    bytes_.fill(0x69);
    bytePos_ = 0;
    for (HalfStage* s : {&stage2_, &stage3_, &stage4_}) {
        std::fill(s->history.begin(), s->history.end(), 0.0);
        s->pos = 0;
        s->odd = false;
    }
}

bool DsdDecimator::HalfStage::Push(double x, double* out) noexcept {
    // Newest sample at pos and pos + count; the window [pos, pos + count) then runs newest to oldest.
    pos = pos == 0 ? count - 1 : pos - 1;
    history[pos] = x;
    history[pos + count] = x;
    odd = !odd;
    if (odd)
        return false;
    const double* h = history.data() + pos;
    double sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum += taps[i] * h[i];
    *out = sum;
    return true;
}

void DsdDecimator::Process(const std::uint8_t* dsd, std::size_t count, float* out) noexcept {
    const auto& tables = DecimatorStage1Tables();
    const bool to44 = rate_ == 44100;
    for (std::size_t i = 0; i < count; ++i) {
        bytes_[bytePos_] = dsd[i];
        double y1 = 0;
        for (std::size_t k = 0; k < 8; ++k)
            y1 += tables[k][bytes_[(bytePos_ + 8 - k) & 7]];
        bytePos_ = (bytePos_ + 1) & 7;
        double y2 = 0, y3 = 0, y4 = 0;
        if (!stage2_.Push(y1, &y2) || !stage3_.Push(y2, &y3))
            continue;
        if (to44 && !stage4_.Push(y3, &y4))
            continue;
        const double y = std::clamp((to44 ? y4 : y3) * kGain, -1.0, 1.0);
        *out++ = static_cast<float>(y);
    }
}

} // namespace mervane
