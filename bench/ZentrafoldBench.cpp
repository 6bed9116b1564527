// Speed of the conversion alone (interpolator + modulator, both channels, one thread), as the engine calls
// it: 16 units per call. The "x_realtime" counter is seconds of audio converted per second.
#include "Zentrafold/ZentrafoldConverter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

std::vector<unsigned char> MusicLikePcm(int units, zentrafold::PcmFormat format) {
    const bool is16 = format == zentrafold::PcmFormat::kInt16;
    const double scale = is16 ? 32767.0 : 8388607.0;
    std::vector<unsigned char> pcm(static_cast<std::size_t>(units) * zentrafold::UnitBytes(format));
    unsigned char* p = pcm.data();
    for (int i = 0; i < units * zentrafold::kUnitFrames; ++i) {
        const double t = i / 44100.0;
        const double l = 0.3 * std::sin(2 * M_PI * 220 * t) + 0.2 * std::sin(2 * M_PI * 3150 * t) +
                         0.1 * std::sin(2 * M_PI * 12500 * t);
        const double r = 0.4 * std::sin(2 * M_PI * 330 * t) + 0.2 * std::sin(2 * M_PI * 7100 * t);
        for (double v : {l, r}) {
            const auto bits = static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(v * scale)));
            *p++ = static_cast<unsigned char>(bits);
            *p++ = static_cast<unsigned char>(bits >> 8);
            if (!is16)
                *p++ = static_cast<unsigned char>(bits >> 16);
        }
    }
    return pcm;
}

// state.range(0): the rate's multiple of DSD64 (1, 2, 4 or 8).
void ConvertStereo(benchmark::State& state, zentrafold::PcmFormat format) {
    constexpr int kUnits = 16;
    const auto rate = static_cast<zentrafold::DsdRate>(state.range(0));
    const auto pcm = MusicLikePcm(kUnits + 1, format);
    std::vector<unsigned char> out(kUnits * zentrafold::BlockBytes(rate));
    zentrafold::Converter converter(rate);
    converter.Initial(pcm.data(), format);
    for (auto _ : state) {
        converter.Convert(pcm.data() + zentrafold::UnitBytes(format), kUnits, format, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    const double audioSeconds = kUnits * zentrafold::kUnitFrames / 44100.0;
    state.counters["x_realtime"] =
        benchmark::Counter(audioSeconds, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Convert16(benchmark::State& state) {
    ConvertStereo(state, zentrafold::PcmFormat::kInt16);
}
void BM_Convert24(benchmark::State& state) {
    ConvertStereo(state, zentrafold::PcmFormat::kInt24);
}

// The end of a stream as the engine ends it: ten units of music and a silent one through ConvertFinal, whose
// last block lands on the silence pattern. Against BM_Convert24 with the same count, what the landing costs.
void BM_ConvertFinal(benchmark::State& state) {
    constexpr int kUnits = 11;
    const auto rate = static_cast<zentrafold::DsdRate>(state.range(0));
    auto pcm = MusicLikePcm(kUnits + 1, zentrafold::PcmFormat::kInt24);
    std::fill(pcm.end() - static_cast<long>(zentrafold::UnitBytes(zentrafold::PcmFormat::kInt24)), pcm.end(),
              0);
    std::vector<unsigned char> out(kUnits * zentrafold::BlockBytes(rate));
    zentrafold::Converter converter(rate);
    for (auto _ : state) {
        converter.Initial(pcm.data(), zentrafold::PcmFormat::kInt24);
        converter.ConvertFinal(pcm.data() + zentrafold::UnitBytes(zentrafold::PcmFormat::kInt24), kUnits,
                               zentrafold::PcmFormat::kInt24, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_Convert16)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Convert24)->ArgName("dsd64x")->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertFinal)->ArgName("dsd64x")->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);

} // namespace
