// The converter's two arithmetics, the processor's vector unit and plain C++, give the same bytes: the
// vector one is what runs, the plain one is what every other processor runs. Compared on the inputs that
// drive the modulator hardest (its look-ahead and its landing on the silence pattern included), at every
// rate, whole streams byte for byte.
#include "TestKit/DsdAnalysis.h"
#include "Zentrafold/ZentrafoldConverter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace zentrafold::test {

using namespace testkit;
namespace {

// White noise of twice full scale clipped at full scale, most of its samples at the rails: an
// over-compressed master at its worst. Made from integers alone, so that the input is the same numbers on
// every processor.
Signal ClippedNoise(std::uint64_t seed) {
    return [seed](long n) {
        std::uint64_t x = (static_cast<std::uint64_t>(n) + 1) * 0x9E3779B97F4A7C15ULL ^ seed;
        x ^= x >> 31;
        x *= 0xBF58476D1CE4E5B9ULL;
        x ^= x >> 29;
        const double uniform = static_cast<double>(x >> 11) / 9007199254740992.0; // [0, 1)
        return std::clamp(4.0 * uniform - 2.0, -1.0, 1.0);
    };
}

struct HardInput {
    const char* name;
    Signal left, right;
    PcmFormat format;
};

const std::vector<HardInput>& HardInputs() {
    static const std::vector<HardInput> inputs = {
        {"full-scale 20 Hz sines", Sine(20, 1.0), Sine(20, -1.0), PcmFormat::kInt24},
        {"full-scale 19 kHz sines", Sine(19000, 1.0), Sine(19000, -1.0), PcmFormat::kInt24},
        {"full-scale squares", Square(50, 1.0), Square(1000, -1.0), PcmFormat::kInt16},
        {"clipped noise", ClippedNoise(1), ClippedNoise(2), PcmFormat::kInt16},
        {"silence", Silence(), Silence(), PcmFormat::kInt24},
    };
    return inputs;
}

constexpr int kUnits = 6;

// A whole stream as the engine converts one: Initial with the first unit, Convert calls of three units and
// one, then ConvertFinal on the input's next unit followed by a silent one. `digest` is the converter's
// state before ConvertFinal.
std::vector<unsigned char> Stream(Converter& converter, const HardInput& in, std::uint64_t& digest) {
    const std::size_t block = BlockBytes(converter.Rate());
    const auto first = MakePcm(in.left, in.right, 0, 1, in.format);
    converter.Initial(first.data(), in.format);
    std::vector<unsigned char> out((kUnits + 2) * block);
    for (int unit = 0; unit < kUnits;) {
        const int count = std::min(unit % 2 == 0 ? 3 : 1, kUnits - unit);
        const auto pcm =
            MakePcm(in.left, in.right, static_cast<long>(unit + 1) * kUnitFrames, count, in.format);
        converter.Convert(pcm.data(), count, in.format, out.data() + static_cast<std::size_t>(unit) * block);
        unit += count;
    }
    auto last = MakePcm(in.left, in.right, static_cast<long>(kUnits + 1) * kUnitFrames, 1, in.format);
    const auto silent = MakePcm(Silence(), Silence(), 0, 1, in.format);
    last.insert(last.end(), silent.begin(), silent.end());
    digest = converter.StateDigest();
    converter.ConvertFinal(last.data(), 2, in.format, out.data() + kUnits * block);
    return out;
}

class ConverterArithmetic : public ::testing::TestWithParam<DsdRate> {};

TEST_P(ConverterArithmetic, VectorAndPortableGiveTheSameBytes) {
    std::uint64_t redone = 0;
    for (const HardInput& in : HardInputs()) {
        Converter vector(GetParam(), Arithmetic::kVector);
        Converter portable(GetParam(), Arithmetic::kPortable);
        std::uint64_t digestA = 0;
        std::uint64_t digestB = 0;
        const auto a = Stream(vector, in, digestA);
        const auto b = Stream(portable, in, digestB);
        // Every number computed alike: a one-bit loop hides most small differences in its output for a
        // long time, the state shows them at once.
        EXPECT_EQ(digestA, digestB) << in.name;
        EXPECT_EQ(vector.StateDigest(), portable.StateDigest()) << in.name << " (after the landing)";
        ASSERT_EQ(a.size(), b.size());
        const auto [at, unused] = std::mismatch(a.begin(), a.end(), b.begin());
        EXPECT_TRUE(at == a.end()) << in.name << ": " << vector.ArithmeticName()
                                   << " and portable differ from byte " << (at - a.begin()) << " of "
                                   << a.size();
        // The same decisions along the way: the look-ahead redid the same bytes.
        EXPECT_EQ(vector.Overloads().redone, portable.Overloads().redone) << in.name;
        redone += vector.Overloads().redone;
    }
    // The full-scale inputs ran the look-ahead, so its arithmetic was compared too.
    EXPECT_GT(redone, 0u);
}

INSTANTIATE_TEST_SUITE_P(AllRates, ConverterArithmetic,
                         ::testing::Values(DsdRate::kDsd64, DsdRate::kDsd128, DsdRate::kDsd256,
                                           DsdRate::kDsd512),
                         [](const ::testing::TestParamInfo<DsdRate>& p) {
                             return "DSD" + std::to_string(64 * RateMultiple(p.param));
                         });

TEST(ConverterArithmeticChoice, VectorIsTheProcessorsOwnUnit) {
#if defined(__x86_64__)
    const char* expected = "sse2";
#elif defined(__aarch64__)
    const char* expected = "neon";
#else
    const char* expected = "portable";
#endif
    EXPECT_STREQ(Converter().ArithmeticName(), expected);
    EXPECT_STREQ(Converter(DsdRate::kDsd256, Arithmetic::kVector).ArithmeticName(), expected);
    EXPECT_STREQ(Converter(DsdRate::kDsd128, Arithmetic::kPortable).ArithmeticName(), "portable");
}

} // namespace
} // namespace zentrafold::test
