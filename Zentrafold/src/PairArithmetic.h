// The arithmetic the converter is written in: the two channels of a stream as one pair of doubles (left
// first), with the few operations its filters and its modulator need. The converter's loops are templates
// over one of the structs below, so every processor runs the same loops in the same order:
//   Sse2      SSE2 on x86-64 (every x86-64 processor has it),
//   Neon      NEON (Advanced SIMD) on arm64 (every arm64 processor has it),
//   Portable  plain C++, one double at a time, for any processor.
// All three give the same bits. Each operation is one IEEE-754 double operation per channel, rounded as
// written (the library is built with no contraction of a multiply and an add into one, and no
// reassociation), and the operations with a choice to make (minimum, maximum, the quantiser's sign) make
// the same choice on ties, signed zeros and NaNs as SSE2's instructions do.
#pragma once

#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__aarch64__) && defined(__ARM_NEON)
#include <arm_neon.h>
#endif

namespace zentrafold::arithmetic {

struct Portable {
    static constexpr const char* kName = "portable";

    struct Pair {
        double lane[2];

        double operator[](int i) const noexcept { return lane[i]; }
        double& operator[](int i) noexcept { return lane[i]; }
        Pair& operator+=(const Pair& b) noexcept {
            lane[0] += b.lane[0];
            lane[1] += b.lane[1];
            return *this;
        }
        friend Pair operator+(const Pair& a, const Pair& b) noexcept {
            return {{a.lane[0] + b.lane[0], a.lane[1] + b.lane[1]}};
        }
        friend Pair operator-(const Pair& a, const Pair& b) noexcept {
            return {{a.lane[0] - b.lane[0], a.lane[1] - b.lane[1]}};
        }
        friend Pair operator*(const Pair& a, const Pair& b) noexcept {
            return {{a.lane[0] * b.lane[0], a.lane[1] * b.lane[1]}};
        }
        friend Pair operator*(const Pair& a, double b) noexcept { return {{a.lane[0] * b, a.lane[1] * b}}; }
        friend Pair operator*(double a, const Pair& b) noexcept { return {{a * b.lane[0], a * b.lane[1]}}; }
    };

    static Pair Make(double left, double right) noexcept { return {{left, right}}; }
    // a < b ? a : b in each lane: b when they are equal or either is a NaN (SSE2's minpd).
    static Pair Min(const Pair& a, const Pair& b) noexcept {
        return {{a[0] < b[0] ? a[0] : b[0], a[1] < b[1] ? a[1] : b[1]}};
    }
    // a > b ? a : b in each lane (SSE2's maxpd).
    static Pair Max(const Pair& a, const Pair& b) noexcept {
        return {{a[0] > b[0] ? a[0] : b[0], a[1] > b[1] ? a[1] : b[1]}};
    }
    // The one-bit quantiser: +1 where y's sign bit is clear, -1 where it is set (-0 gives -1).
    static Pair Sign(const Pair& y) noexcept {
        return {{std::copysign(1.0, y[0]), std::copysign(1.0, y[1])}};
    }
    // Bit 0 set where the left lane's sign bit is clear (the quantiser gave +1), bit 1 for the right lane.
    static unsigned NonNegative(const Pair& y) noexcept {
        return (std::signbit(y[0]) ? 0u : 1u) | (std::signbit(y[1]) ? 0u : 2u);
    }
    // |y|: the sign bit cleared.
    static Pair Abs(const Pair& y) noexcept { return {{std::fabs(y[0]), std::fabs(y[1])}}; }
    // Bit 0 set where the left lane is above `level`, bit 1 for the right lane.
    static unsigned Above(const Pair& a, double level) noexcept {
        return (a[0] > level ? 1u : 0u) | (a[1] > level ? 2u : 0u);
    }
};

// GCC's and Clang's vector extension: the pair in one 128-bit register, its +, - and * one instruction
// each. What the two instruction sets share is written once here.
struct VectorPair {
    using Pair = double __attribute__((vector_size(16)));
    using Mask = std::int64_t __attribute__((vector_size(16)));

    static Pair Make(double left, double right) noexcept { return Pair{left, right}; }
    static Pair Sign(Pair y) noexcept {
        return (Pair)(((Mask)y & Mask{INT64_MIN, INT64_MIN}) | (Mask)Pair{1.0, 1.0});
    }
    static Pair Abs(Pair y) noexcept { return (Pair)((Mask)y & ~Mask{INT64_MIN, INT64_MIN}); }
    static unsigned Above(Pair a, double level) noexcept {
        const Mask above = a > level;
        return static_cast<unsigned>(above[0] & 1) | static_cast<unsigned>(above[1] & 2);
    }
};

#if defined(__SSE2__)
struct Sse2 : VectorPair {
    static constexpr const char* kName = "sse2";

    static Pair Min(Pair a, Pair b) noexcept { return (Pair)_mm_min_pd((__m128d)a, (__m128d)b); }
    static Pair Max(Pair a, Pair b) noexcept { return (Pair)_mm_max_pd((__m128d)a, (__m128d)b); }
    // The two sign bits in one instruction.
    static unsigned NonNegative(Pair y) noexcept {
        return static_cast<unsigned>(_mm_movemask_pd((__m128d)y)) ^ 3u;
    }
};
#endif

#if defined(__aarch64__) && defined(__ARM_NEON)
struct Neon : VectorPair {
    static constexpr const char* kName = "neon";

    // NEON's own fmin and fmax differ from SSE2's on signed zeros and NaNs; a compare and a bit select
    // choose as SSE2 does at the cost of one more instruction.
    static Pair Min(Pair a, Pair b) noexcept {
        const float64x2_t x = (float64x2_t)a;
        const float64x2_t y = (float64x2_t)b;
        return (Pair)vbslq_f64(vcltq_f64(x, y), x, y);
    }
    static Pair Max(Pair a, Pair b) noexcept {
        const float64x2_t x = (float64x2_t)a;
        const float64x2_t y = (float64x2_t)b;
        return (Pair)vbslq_f64(vcgtq_f64(x, y), x, y);
    }
    static unsigned NonNegative(Pair y) noexcept {
        const Mask nonNegative = (Mask)y >= 0;
        return static_cast<unsigned>(nonNegative[0] & 1) | static_cast<unsigned>(nonNegative[1] & 2);
    }
};
#endif

// What Arithmetic::kVector means on the processor the library is built for.
#if defined(__SSE2__)
using Vector = Sse2;
#elif defined(__aarch64__) && defined(__ARM_NEON)
using Vector = Neon;
#else
using Vector = Portable;
#endif

} // namespace zentrafold::arithmetic
