#include "Zentrafold/ZentrafoldConverter.h"

#include "PairArithmetic.h"
#include "ZentrafoldCoefficients.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace zentrafold {
namespace {

// Both channels travel together as one pair of doubles (left in lane 0), so that every filter tap and
// every modulator step serves the two channels with one vector operation (PairArithmetic.h).

constexpr int kPhase1 = static_cast<int>(coef::kStage1.size()); // taps of the half-band's even phase
constexpr int kPhase2 = static_cast<int>(coef::kStage2.size());
constexpr int kTaps3 = static_cast<int>(coef::kStage3.size());
static_assert(kPhase1 % 2 == 0 && kPhase2 % 2 == 0 && kTaps3 % 2 == 1);

// Input history each stage keeps in front of a unit's new samples.
constexpr int kHistory1 = kPhase1 - 1;
constexpr int kHistory2 = kPhase2 - 1;
constexpr int kHistory3 = (kTaps3 - 1) / 2;
constexpr int kHistory4 = 1;

// Group delay of the chain in DSD64 samples: each linear-phase stage delays by half its length at its own
// output rate, and the linear interpolator by one input sample (8 outputs).
constexpr int kChainDelay = (kPhase1 - 1) * 32 + (kPhase2 - 1) * 16 + (kTaps3 - 1) / 2 * 8 + 8;
// The modulator holds its output back by one look-ahead window (kRedoBytes below) before it is final.
constexpr int kHoldBack = 64;
// PCM frames held back in front of the chain so that the whole latency stays just under one unit: the
// Initial call's output then covers only the silence before the stream and can be dropped.
constexpr int kDelayFrames = kUnitFrames - (kChainDelay + kHoldBack + kOversampling - 1) / kOversampling;
static_assert(kDelayFrames >= 0);

// DSD128 and above: the low-pass at 44.1 kHz in front of the chain (coef::kPreFilter, its first half and the
// centre). Its delay of kPreHalf frames is taken from the frames held back, so the latency is the same.
constexpr int kPreHalf = static_cast<int>(coef::kPreFilter.size()) - 1;
static_assert(kPreHalf <= kDelayFrames);

// Each rate has its own noise-transfer function (coef::kNtf at DSD64, kNtf128, kNtf256, kNtf512), of up to
// kMaxSections second-order sections.
constexpr int kMaxSections = 6;
static_assert(coef::kNtf.size() <= kMaxSections && coef::kNtf128.size() <= kMaxSections &&
              coef::kNtf256.size() <= kMaxSections && coef::kNtf512.size() <= kMaxSections);

// The modulator input is limited to PCM full scale: only inter-sample peaks of the interpolated signal (a
// square wave's ringing, clipped masters) reach beyond it, and those are what drive a one-bit loop of this
// order out of its stable region.
constexpr double kInputLimit = 0.52;

// Look-ahead. The loop runs with the plain sign quantiser while |quantiser input| stays under kRedoLevel,
// which it does nearly always below -3 dBFS. A byte in which a channel passes it is taken back with the
// kRedoBytes before it: from the state at the start of that window, kPaths candidate bit sequences are
// grown one sample at a time (each path's two continuations, the kPaths cheapest kept), the cost being the
// quantisation error energy plus a steep charge for every sample above kRedoLevel, and the cheapest path
// replaces the plain decisions. Choosing bits up to 64 samples before the trouble keeps an aggressive
// noise shaper stable at full scale; output bytes are held back by the window so that a redo can still
// change them.
constexpr double kRedoLevel = 1.8;
constexpr int kRedoBytes = 8; // window of a redo, the current byte included; also the output hold-back
constexpr int kPaths = 4;
constexpr double kOverLevelCost = 1e3;
static_assert(kRedoBytes * 8 == kHoldBack && kHoldBack <= 64, "a path's decisions fit one 64-bit word");

// Should a redo still leave the loop above kLimitLevel (no input tried so far does), the error fed back is
// limited to what a quantiser input of kLimitLevel gives, which keeps every section's state bounded and lets
// the loop settle by itself. Last resort, should limiting ever fail to hold the loop: above
// kOverloadLimit the channel is reset.
constexpr double kLimitLevel = 2.0;
constexpr double kOverloadLimit = 4.0;

// TPDF dither of +/-2^-26 peak (relative to full modulation), held for eight samples, keeps silence free of
// idle tones; its in-band share (about -165 dBFS) stays well under the modulator's own floor.
constexpr double kDitherStep = 1.0 / (1 << 26) / 65536.0;
// The dither is not shaped: held for eight samples, its share of a band shrinks only as the rate grows (about
// -171, -174, -177 and -180 dBFM in band from DSD64 to DSD512), while the higher rates' loops go far deeper
// (about -202 dBFM in band at DSD128, -234 at DSD256, -240 at DSD512). Each of those loops therefore takes a
// step that leaves the dither 10 dB or more under its own noise: 1/128 of it at DSD128 (-216 dBFM), 1/4096 at
// DSD256 (-249) and at DSD512 (-252), still enough to keep silence free of idle tones. Powers of two, so the
// scaling itself is exact.
constexpr double DitherStep(int multiple) noexcept {
    return multiple == 1 ? kDitherStep : multiple == 2 ? kDitherStep / 128.0 : kDitherStep / 4096.0;
}

constexpr double kScale16 = 0.5 / 32768.0; // PCM full scale is 50 % modulation
constexpr double kScale24 = 0.5 / 8388608.0;

// Landing (ConvertFinal). A stream that stops and goes on as the DSD silence pattern 0x69 steps wherever the
// running sum of its bits, its charge, differs from the level the pattern continues: the loop's shaped
// noise leaves a charge of up to a few samples at any instant, which the pattern never corrects, and a
// decoder shows it as a click at the join (about -33 dBFS at DSD64). The last block therefore (1) measures
// the charge's level over its first kLevelPoints points of the x8 chain, (2) moves it to the nearest level
// the pattern can continue (an even number of samples, at most one sample away) with a smooth pulse in the
// modulator's input, far below 20 Hz in effect and about -75 dBFS at its peak, and (3) chooses its last
// kLandBits bits (times the rate) again so that the block followed by 0x69 bytes has the least energy
// under an audio-band weighting (coef::kLandWeight: a low-pass that holds the shaped noise down by 120 dB, so
// that what is left is the error in the audio band), by flipping single bits and pairs of bits up to
// kLandPair apart while that lowers it.
constexpr int kLevelPoints = 512;
constexpr int kPulseEndPoints = 256; // points before the end at which the pulse is over
constexpr int kLandBits = 512;
constexpr int kLandPair = 16;
constexpr int kLandMoves = 64; // bounds the search's time; one move or none is the rule
constexpr int kLandHalf = static_cast<int>(coef::kLandWeight512.size() - 1) / 2; // at the largest rate
constexpr int kMaxMultiple = 8;                                                  // DSD512
constexpr unsigned char kSilenceByte = 0x69;

} // namespace

namespace {

// One channel's loop state, for the look-ahead, which runs on one channel at a time.
struct Lane {
    double s1[kMaxSections];
    double s2[kMaxSections];
};

// A rate's noise-transfer function: its sections.
struct Ntf {
    const coef::Section* sections;
    int count;
};

inline double Feedback(const Ntf& ntf, const Lane& l, double u) noexcept {
    double y = u;
    for (int i = 0; i < ntf.count; ++i)
        y += l.s1[i];
    return y;
}

// The section update of the main loop, for one channel.
inline void Update(const Ntf& ntf, Lane& l, double e) noexcept {
    double prefix = 0.0;
    for (int i = 0; i < ntf.count; ++i) {
        const auto& c = ntf.sections[i];
        const double wIn = e + prefix;
        const double old = l.s1[i];
        prefix += old;
        l.s1[i] = (l.s2[i] - c.a1 * old) + (c.b1 - c.a1) * wIn;
        l.s2[i] = (c.b2 - c.a2) * wIn - c.a2 * old;
    }
}

} // namespace

// What the converter is, whatever arithmetic it computes in: Engine<A> below for one of PairArithmetic.h's.
struct detail::ConverterState {
    virtual ~ConverterState() = default;
    // Clears every filter and modulator state to silence and reseeds the dither.
    virtual void Reset() noexcept = 0;
    // The x8 chain and the modulator over one unit; `land` ends its block as ConvertFinal describes.
    virtual void ConvertUnit(const unsigned char* pcm, PcmFormat format, unsigned char* out,
                             bool land) noexcept = 0;
    virtual const char* ArithmeticName() const noexcept = 0;
    virtual std::uint64_t StateDigest() const noexcept = 0;

    int multiple = 1; // of DSD64
    Converter::OverloadStats overloads;
    std::array<unsigned char, kBlockBytes * kMaxMultiple> scratch; // the Initial call's output at any rate
};

namespace {

template <class A> struct Engine final : detail::ConverterState {
    using P = typename A::Pair;
    using OverloadStats = Converter::OverloadStats;

    explicit Engine(DsdRate rate) noexcept;
    void Reset() noexcept override;
    void ConvertUnit(const unsigned char* pcm, PcmFormat format, unsigned char* out,
                     bool land) noexcept override;
    const char* ArithmeticName() const noexcept override { return A::kName; }
    std::uint64_t StateDigest() const noexcept override;

    static P Splat(double v) noexcept { return A::Make(v, v); }

    alignas(64) std::array<P, kDelayFrames + kUnitFrames> delay;
    alignas(64) std::array<P, 2 * kPreHalf + kUnitFrames> pre; // the low-pass's history and a unit
    alignas(64) std::array<P, kHistory1 + kUnitFrames> in1;
    alignas(64) std::array<P, kHistory2 + 2 * kUnitFrames> in2;
    alignas(64) std::array<P, kHistory3 + 4 * kUnitFrames> in3;
    alignas(64) std::array<P, kHistory4 + 8 * kUnitFrames> in4;
    P s1[kMaxSections];
    P s2[kMaxSections];
    // The last kRedoBytes bytes, indexed by byte number modulo kRedoBytes: the loop state at the start of
    // each, its input (the interpolator's two points and the dither) and the bytes not yet given out.
    struct Past {
        P s1[kMaxSections];
        P s2[kMaxSections];
        P prev, step, dither;
        int offset; // of the byte's first sample from prev, in steps
    };
    Past past[kRedoBytes];
    unsigned char pending[2][kRedoBytes];
    std::uint64_t bytes; // bytes per channel decided since the stream started
    std::uint64_t rng;
    std::uint64_t samples; // samples per channel produced since the stream started
    std::uint64_t burstStart;
    std::uint64_t lastOverload;

    // Decides the current byte and the kRedoBytes - 1 before it again for one channel (see kRedoLevel),
    // rewrites their pending bytes and states, and leaves the state after the current byte in `now`.
    void Redo(int lane, Lane& now) noexcept;

    // The modulator over points [first, last) of one unit of the x8 chain's output (in4), kMultiple bytes
    // per point and channel. With kPulse, the byte's input is raised by pulse(byte) (see kLevelPoints).
    struct Pulse {
        P charge;            // samples of charge the pulse adds, per channel
        std::uint64_t first; // first byte of the pulse
        std::uint64_t count; // its length in bytes
        double scale;        // 1 / the sum of the shape over the bytes, times 1/8 for a byte's samples
    };
    template <int kMultiple, std::size_t kSections, bool kPulse = false>
    void Modulate(const std::array<coef::Section, kSections>& sections, unsigned char* out, int first,
                  int last, const Pulse& pulse) noexcept;
    template <int kMultiple, std::size_t kSections>
    void ModulateLanding(const std::array<coef::Section, kSections>& sections, unsigned char* out) noexcept;
    // Step (3) of the landing on one channel's block of `channelBytes` bytes.
    void LandBits(unsigned char* channel, std::size_t channelBytes) noexcept;

    // The landing's work space, for the largest rate.
    static constexpr int kMaxLandBits = kLandBits * kMaxMultiple;
    static constexpr int kMaxLandHalf = kLandHalf;
    std::int64_t weight[2 * kMaxLandHalf + 1];                  // the audio-band weighting h
    std::int64_t weightAuto[4 * kMaxLandHalf + 1];              // its autocorrelation
    std::int64_t landBits[kMaxLandBits + 4 * kMaxLandHalf + 1]; // +/-1 over the free bits and around them
    std::int64_t landError[kMaxLandBits + 2 * kMaxLandHalf + 1];
    std::int64_t landGradient[kMaxLandBits];
    int landHalf = 0;

    Ntf ntf{coef::kNtf.data(), static_cast<int>(coef::kNtf.size())};
};

template <class A> void Decode(const unsigned char* pcm, PcmFormat format, typename A::Pair* out) noexcept {
    if (format == PcmFormat::kInt16) {
        for (int i = 0; i < kUnitFrames; ++i, pcm += 4) {
            const auto l = static_cast<std::int16_t>(pcm[0] | (pcm[1] << 8));
            const auto r = static_cast<std::int16_t>(pcm[2] | (pcm[3] << 8));
            out[i] = A::Make(l * kScale16, r * kScale16);
        }
    } else {
        for (int i = 0; i < kUnitFrames; ++i, pcm += 6) {
            // Shift the 24 bits to the top of an int32 and back to sign-extend them.
            const auto l = static_cast<std::int32_t>(
                               static_cast<std::uint32_t>(pcm[0] << 8 | pcm[1] << 16 | pcm[2] << 24)) >>
                           8;
            const auto r = static_cast<std::int32_t>(
                               static_cast<std::uint32_t>(pcm[3] << 8 | pcm[4] << 16 | pcm[5] << 24)) >>
                           8;
            out[i] = A::Make(l * kScale24, r * kScale24);
        }
    }
}

// x2 half-band: `in` points at the first new sample with the phase's length - 1 samples of history before
// it. The odd output phase of a half-band is a plain delay of the input.
template <class P, std::size_t N>
void HalfBand(const std::array<double, N>& phase, const P* in, int count, P* out) noexcept {
    constexpr int kHalf = static_cast<int>(N) / 2;
    for (int j = 0; j < count; ++j) {
        const P* x = in + j;
        P acc{0.0, 0.0};
        for (int m = 0; m < kHalf; ++m)
            acc += phase[m] * (x[-m] + x[m - static_cast<int>(N) + 1]);
        out[2 * j] = acc;
        out[2 * j + 1] = x[1 - kHalf];
    }
}

// x2 general odd-length symmetric FIR split into its two phases (both symmetric themselves).
template <class P> void Stage3(const P* in, int count, P* out) noexcept {
    const auto& h = coef::kStage3;
    constexpr int kEven = (kTaps3 + 1) / 2; // taps h[0], h[2], ...
    constexpr int kOdd = kTaps3 / 2;        // taps h[1], h[3], ...
    for (int j = 0; j < count; ++j) {
        const P* x = in + j;
        P even{0.0, 0.0};
        for (int m = 0; m < kEven / 2; ++m)
            even += h[2 * m] * (x[-m] + x[m - kEven + 1]);
        if (kEven % 2 == 1)
            even += h[kEven - 1] * x[-(kEven / 2)];
        P odd{0.0, 0.0};
        for (int m = 0; m < kOdd / 2; ++m)
            odd += h[2 * m + 1] * (x[-m] + x[m - kOdd + 1]);
        if (kOdd % 2 == 1)
            odd += h[kOdd] * x[-(kOdd / 2)];
        out[2 * j] = even;
        out[2 * j + 1] = odd;
    }
}

// The high rates' low-pass over one unit: `in` points at the unit's first frame with 2 x kPreHalf frames of
// history before it; output j is centred kPreHalf frames before input j.
template <class P> void PreFilter(const P* in, P* out) noexcept {
    const auto& h = coef::kPreFilter;
    for (int j = 0; j < kUnitFrames; ++j) {
        const P* x = in + j - kPreHalf; // the centre
        P acc = h[kPreHalf] * x[0];
        for (int m = 1; m <= kPreHalf; ++m)
            acc += h[kPreHalf - m] * (x[-m] + x[m]);
        out[j] = acc;
    }
}

template <class P, std::size_t N> void KeepHistory(std::array<P, N>& buffer, int history) noexcept {
    std::memmove(buffer.data(), buffer.data() + N - history, sizeof(P) * history);
}

inline std::uint64_t NextRandom(std::uint64_t& s) noexcept {
    // xorshift64*: cheap, full period, and seeded identically at every stream start.
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return s * 0x2545F4914F6CDD1DULL;
}

} // namespace

template <class A> Engine<A>::Engine(DsdRate rate) noexcept {
    multiple = RateMultiple(rate);
    if (rate == DsdRate::kDsd128)
        ntf = Ntf{coef::kNtf128.data(), static_cast<int>(coef::kNtf128.size())};
    else if (rate == DsdRate::kDsd256)
        ntf = Ntf{coef::kNtf256.data(), static_cast<int>(coef::kNtf256.size())};
    else if (rate == DsdRate::kDsd512)
        ntf = Ntf{coef::kNtf512.data(), static_cast<int>(coef::kNtf512.size())};
    // The landing's weighting and its autocorrelation.
    const int* w = rate == DsdRate::kDsd128   ? coef::kLandWeight128.data()
                   : rate == DsdRate::kDsd256 ? coef::kLandWeight256.data()
                   : rate == DsdRate::kDsd512 ? coef::kLandWeight512.data()
                                              : coef::kLandWeight.data();
    const int taps = rate == DsdRate::kDsd128   ? static_cast<int>(coef::kLandWeight128.size())
                     : rate == DsdRate::kDsd256 ? static_cast<int>(coef::kLandWeight256.size())
                     : rate == DsdRate::kDsd512 ? static_cast<int>(coef::kLandWeight512.size())
                                                : static_cast<int>(coef::kLandWeight.size());
    landHalf = (taps - 1) / 2;
    for (int i = 0; i < taps; ++i)
        weight[i] = w[i];
    for (int d = -(taps - 1); d <= taps - 1; ++d) {
        std::int64_t sum = 0;
        for (int i = 0; i < taps; ++i)
            if (i + d >= 0 && i + d < taps)
                sum += weight[i] * weight[i + d];
        weightAuto[d + 2 * landHalf] = sum;
    }
    Reset();
}

template <class A> void Engine<A>::Reset() noexcept {
    delay.fill(Splat(0.0));
    pre.fill(Splat(0.0));
    in1.fill(Splat(0.0));
    in2.fill(Splat(0.0));
    in3.fill(Splat(0.0));
    in4.fill(Splat(0.0));
    for (int i = 0; i < kMaxSections; ++i) {
        s1[i] = Splat(0.0);
        s2[i] = Splat(0.0);
    }
    for (auto& p : past)
        p = Past{};
    std::memset(pending, 0x69, sizeof pending); // DSD silence
    bytes = 0;
    rng = 0x9E3779B97F4A7C15ULL;
    samples = 0;
    burstStart = 0;
    lastOverload = 0;
    overloads = OverloadStats{};
}

// FNV-1a over the bits of every number the stream has left in the filters and the modulator, in one order
// for every arithmetic (each pair is two doubles, left first).
template <class A> std::uint64_t Engine<A>::StateDigest() const noexcept {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    auto word = [&h](std::uint64_t w) {
        for (int i = 0; i < 8; ++i, w >>= 8)
            h = (h ^ (w & 0xFF)) * 0x100000001b3ULL;
    };
    auto pair = [&word](const P& p) {
        for (int lane = 0; lane < 2; ++lane) {
            std::uint64_t bits;
            const double value = p[lane];
            std::memcpy(&bits, &value, sizeof bits);
            word(bits);
        }
    };
    for (const P& p : delay)
        pair(p);
    for (const P& p : pre)
        pair(p);
    for (const P& p : in1)
        pair(p);
    for (const P& p : in2)
        pair(p);
    for (const P& p : in3)
        pair(p);
    for (const P& p : in4)
        pair(p);
    for (int i = 0; i < kMaxSections; ++i) {
        pair(s1[i]);
        pair(s2[i]);
    }
    for (const Past& p : past) {
        for (int i = 0; i < kMaxSections; ++i) {
            pair(p.s1[i]);
            pair(p.s2[i]);
        }
        pair(p.prev);
        pair(p.step);
        pair(p.dither);
        word(static_cast<std::uint64_t>(p.offset));
    }
    for (const auto& lane : pending)
        for (unsigned char b : lane)
            word(b);
    word(bytes);
    word(rng);
    return h;
}

Converter::Converter(DsdRate rate, Arithmetic arithmetic) {
    if (arithmetic == Arithmetic::kPortable)
        state_ = std::make_unique<Engine<arithmetic::Portable>>(rate);
    else
        state_ = std::make_unique<Engine<arithmetic::Vector>>(rate);
}

Converter::~Converter() = default;

void Converter::Reset() noexcept {
    state_->Reset();
}

const char* Converter::ArithmeticName() const noexcept {
    return state_->ArithmeticName();
}

std::uint64_t Converter::StateDigest() const noexcept {
    return state_->StateDigest();
}

Converter::OverloadStats Converter::Overloads() const noexcept {
    return state_->overloads;
}

namespace {

constexpr std::uint64_t kBurstGap = 2822; // 1 ms of DSD64, times the rate's multiple

void NoteOverload(Converter::OverloadStats& stats, std::uint64_t& burstStart, std::uint64_t& lastOverload,
                  std::uint64_t gap, std::uint64_t at, int limitedChannels, int resetChannels) noexcept {
    // A look-ahead window can note a sample before one noted already; it belongs to the same burst.
    if (stats.limited == 0 || at > lastOverload + gap) {
        ++stats.bursts;
        burstStart = at;
    }
    lastOverload = std::max(lastOverload, at);
    burstStart = std::min(burstStart, at);
    stats.limited += static_cast<std::uint64_t>(limitedChannels);
    stats.resets += static_cast<std::uint64_t>(resetChannels);
    stats.longestBurstSamples = std::max(stats.longestBurstSamples, at - burstStart);
}

} // namespace

int Converter::LatencySamples(DsdRate rate) noexcept {
    // Every stage's delay scales with the rate except the hold-back, which is a number of output samples.
    return (kDelayFrames * kOversampling + kChainDelay) * RateMultiple(rate) + kHoldBack;
}

DsdRate Converter::Rate() const noexcept {
    return static_cast<DsdRate>(state_->multiple);
}

template <class A> void Engine<A>::Redo(int lane, Lane& now) noexcept {
    ++overloads.redone;
    const std::uint64_t first = bytes >= kRedoBytes - 1 ? bytes - (kRedoBytes - 1) : 0;
    const int length = static_cast<int>(bytes - first + 1) * 8;
    auto input = [&](int t) {
        const Past& p = past[(first + static_cast<unsigned>(t) / 8) % kRedoBytes];
        const double x = p.prev[lane] + p.step[lane] * static_cast<double>(p.offset + t % 8);
        return std::min(std::max(x, -kInputLimit), kInputLimit) + p.dither[lane];
    };
    Lane start;
    {
        const Past& p = past[first % kRedoBytes];
        for (int i = 0; i < ntf.count; ++i) {
            start.s1[i] = p.s1[i][lane];
            start.s2[i] = p.s2[i][lane];
        }
    }

    struct Path {
        Lane state;
        double cost;
        std::uint64_t bits; // bit t: sample t of the window is +1
    };
    Path paths[kPaths];
    Path next[kPaths];
    paths[0] = Path{start, 0.0, 0};
    int live = 1;
    for (int t = 0; t < length; ++t) {
        const double u = input(t);
        double y[kPaths];
        double cost[2 * kPaths]; // candidate 2p continues path p with +1, 2p + 1 with -1
        for (int p = 0; p < live; ++p) {
            y[p] = Feedback(ntf, paths[p].state, u);
            const double over = std::abs(y[p]) - kRedoLevel;
            const double charge = over > 0.0 ? kOverLevelCost * over * over : 0.0;
            cost[2 * p] = paths[p].cost + (1.0 - y[p]) * (1.0 - y[p]) + charge;
            cost[2 * p + 1] = paths[p].cost + (-1.0 - y[p]) * (-1.0 - y[p]) + charge;
        }
        // The cheapest candidates in order (the earlier one on a tie), so next[0] is the best path.
        const int keep = std::min(2 * live, kPaths);
        bool taken[2 * kPaths] = {};
        for (int j = 0; j < keep; ++j) {
            int best = -1;
            for (int c = 0; c < 2 * live; ++c)
                if (!taken[c] && (best < 0 || cost[c] < cost[best]))
                    best = c;
            taken[best] = true;
            const int p = best / 2;
            const double v = best % 2 == 0 ? 1.0 : -1.0;
            next[j] = paths[p];
            Update(ntf, next[j].state, v - y[p]);
            next[j].cost = cost[best];
            if (v > 0.0)
                next[j].bits |= std::uint64_t{1} << t;
        }
        for (int j = 0; j < keep; ++j)
            paths[j] = next[j];
        live = keep;
    }

    // Replays the cheapest path as the main loop would have run it, with the limiter as the last guard.
    const std::uint64_t bits = paths[0].bits;
    Lane state = start;
    for (int t = 0; t < length; ++t) {
        const std::uint64_t byte = first + static_cast<unsigned>(t) / 8;
        if (t % 8 == 0 && t > 0) {
            Past& p = past[byte % kRedoBytes];
            for (int i = 0; i < ntf.count; ++i) {
                p.s1[i][lane] = state.s1[i];
                p.s2[i][lane] = state.s2[i];
            }
        }
        const double y = Feedback(ntf, state, input(t));
        const bool positive = (bits >> t) & 1;
        const double v = positive ? 1.0 : -1.0;
        unsigned char& out = pending[lane][byte % kRedoBytes];
        const auto mask = static_cast<unsigned char>(1u << (t % 8));
        out = static_cast<unsigned char>(positive ? (out | mask) : (out & ~mask));
        double e = v - y;
        const bool limited = std::abs(y) > kLimitLevel;
        const bool runaway = std::abs(y) > kOverloadLimit;
        if (limited) {
            e = v - std::min(std::max(y, -kLimitLevel), kLimitLevel);
            NoteOverload(overloads, burstStart, lastOverload, kBurstGap * static_cast<unsigned>(multiple),
                         byte * 8 + static_cast<unsigned>(t % 8), 1, runaway ? 1 : 0);
        }
        Update(ntf, state, e);
        if (runaway)
            state = Lane{};
    }
    now = state;
}

template <class A>
template <int kMultiple, std::size_t kSections, bool kPulse>
void Engine<A>::Modulate(const std::array<coef::Section, kSections>& sections, unsigned char* out, int first,
                         int last, [[maybe_unused]] const Pulse& pulse) noexcept {
    constexpr int kCount = static_cast<int>(kSections);
    // Error-feedback loop: y = u + (NTF - 1) e with e = v - y, so v = u + NTF e. With monic sections in
    // transposed direct form, (NTF - 1) e at time n is the sum of the first states, known before e(n).
    P x1[kCount]; // the states s1 and s2, in registers
    P x2[kCount];
    for (int i = 0; i < kCount; ++i) {
        x1[i] = s1[i];
        x2[i] = s2[i];
    }
    std::uint64_t seed = rng;
    const P upper = Splat(kInputLimit);
    const P lower = Splat(-kInputLimit);
    unsigned char* left = out;
    unsigned char* right = out + kChannelBytes * kMultiple;
    for (int n = first; n < last; ++n) {
        const P prev = in4[n];
        // The linear stage: kMultiple bytes of eight samples between two points of the x8 chain.
        const P step = (in4[n + 1] - prev) * (0.125 / kMultiple);
        for (int j = 0; j < kMultiple; ++j) {
            // One dither value per eight samples: its job is to break up idle patterns, which a value held
            // for 2.8 us does as well as a fresh one per sample, at an eighth of the cost.
            const std::uint64_t r = NextRandom(seed);
            P dither = A::Make(static_cast<double>(static_cast<std::int64_t>(r & 0xFFFF) -
                                                   static_cast<std::int64_t>((r >> 16) & 0xFFFF)),
                               static_cast<double>(static_cast<std::int64_t>((r >> 32) & 0xFFFF) -
                                                   static_cast<std::int64_t>(r >> 48))) *
                       DitherStep(kMultiple);
            if constexpr (kPulse) {
                // Held for the byte like the dither, so that a redo sees it too.
                const std::uint64_t b = bytes - pulse.first;
                if (bytes >= pulse.first && b < pulse.count) {
                    const double t = (static_cast<double>(b) + 0.5) / static_cast<double>(pulse.count);
                    dither += pulse.charge * (t * t * (1.0 - t) * (1.0 - t) * pulse.scale);
                }
            }
            const int slot = static_cast<int>(bytes % kRedoBytes);
            Past& entry = past[slot];
            for (int i = 0; i < kCount; ++i) {
                entry.s1[i] = x1[i];
                entry.s2[i] = x2[i];
            }
            entry.prev = prev;
            entry.step = step;
            entry.offset = 8 * j;
            entry.dither = dither;
            unsigned leftByte = 0;
            unsigned rightByte = 0;
            P peak = Splat(0.0);
            for (int k = 0; k < 8; ++k) {
                const P u =
                    A::Min(A::Max(prev + step * static_cast<double>(8 * j + k), lower), upper) + dither;
                // Running sums of the first states (each section's input is e plus the sum of the first
                // states before it) and the feedback sum y, sharing their partial sums. The tree is the
                // shortest path from the states to the next decision; the input joins it as one more leaf.
                static_assert(kSections >= 4 && kSections <= 6, "the feedback trees are for 4-6 sections");
                P prefix[kCount];
                prefix[0] = Splat(0.0);
                prefix[1] = x1[0];
                prefix[2] = x1[0] + x1[1];
                prefix[3] = prefix[2] + x1[2];
                P y;
                if constexpr (kSections == 6) {
                    prefix[4] = prefix[2] + (x1[2] + x1[3]);
                    prefix[5] = prefix[4] + x1[4];
                    y = prefix[4] + ((x1[4] + x1[5]) + u);
                } else if constexpr (kSections == 5) {
                    prefix[4] = prefix[2] + (x1[2] + x1[3]);
                    y = prefix[4] + (x1[4] + u);
                } else {
                    y = prefix[2] + ((x1[2] + x1[3]) + u);
                }
                const P v = A::Sign(y);
                const unsigned positive = A::NonNegative(y);
                leftByte |= (positive & 1u) << k;
                rightByte |= (positive >> 1) << k;
                const P e = v - y;
                // Off the critical path: how far the loop went, for the decision to redo this byte.
                peak = A::Max(peak, A::Abs(y));
                // Section i sees wIn = e + prefix[i] and gives wOut = wIn + s1[i]; written in wIn and the old
                // s1 alone, its update has the part known before e computed in parallel, leaving an add, a
                // multiply and an add between this decision and the states of the next.
                for (std::size_t i = 0; i < kSections; ++i) {
                    const auto& c = sections[i];
                    const P wIn = e + prefix[i];
                    const P old = x1[i];
                    x1[i] = (x2[i] - c.a1 * old) + (c.b1 - c.a1) * wIn;
                    x2[i] = (c.b2 - c.a2) * wIn - c.a2 * old;
                }
            }
            // The byte leaving the window is final.
            left[n * kMultiple + j] = pending[0][slot];
            right[n * kMultiple + j] = pending[1][slot];
            pending[0][slot] = static_cast<unsigned char>(leftByte);
            pending[1][slot] = static_cast<unsigned char>(rightByte);
            const unsigned redo = A::Above(peak, kRedoLevel);
            if (redo != 0) [[unlikely]] {
                for (int lane = 0; lane < 2; ++lane) {
                    if ((redo >> lane & 1u) == 0)
                        continue;
                    Lane state;
                    for (int i = 0; i < kCount; ++i) {
                        state.s1[i] = x1[i][lane];
                        state.s2[i] = x2[i][lane];
                    }
                    Redo(lane, state);
                    for (int i = 0; i < kCount; ++i) {
                        x1[i][lane] = state.s1[i];
                        x2[i][lane] = state.s2[i];
                    }
                }
            }
            ++bytes;
        }
    }
    for (int i = 0; i < kCount; ++i) {
        s1[i] = x1[i];
        s2[i] = x2[i];
    }
    rng = seed;
}

void Converter::Initial(const void* pcm, PcmFormat format) noexcept {
    Reset();
    Convert(pcm, 1, format, state_->scratch.data());
}

template <class A>
void Engine<A>::ConvertUnit(const unsigned char* pcm, PcmFormat format, unsigned char* out,
                            bool land) noexcept {
    // The unit enters behind the frames still held back; the oldest unit's worth goes on. At the high rates
    // the low-pass delays by kPreHalf of those frames.
    const int held = multiple == 1 ? kDelayFrames : kDelayFrames - kPreHalf;
    Decode<A>(pcm, format, delay.data() + held);
    if (multiple == 1) {
        std::memcpy(in1.data() + kHistory1, delay.data(), sizeof(P) * kUnitFrames);
    } else {
        std::memcpy(pre.data() + 2 * kPreHalf, delay.data(), sizeof(P) * kUnitFrames);
        PreFilter(pre.data() + 2 * kPreHalf, in1.data() + kHistory1);
        KeepHistory(pre, 2 * kPreHalf);
    }
    std::memmove(delay.data(), delay.data() + kUnitFrames, sizeof(P) * held);

    HalfBand(coef::kStage1, in1.data() + kHistory1, kUnitFrames, in2.data() + kHistory2);
    HalfBand(coef::kStage2, in2.data() + kHistory2, 2 * kUnitFrames, in3.data() + kHistory3);
    Stage3(in3.data() + kHistory3, 4 * kUnitFrames, in4.data() + kHistory4);
    KeepHistory(in1, kHistory1);
    KeepHistory(in2, kHistory2);
    KeepHistory(in3, kHistory3);

    constexpr int kPoints = 8 * kUnitFrames;
    const Pulse none{};
    switch (multiple) {
    case 1:
        land ? ModulateLanding<1>(coef::kNtf, out) : Modulate<1>(coef::kNtf, out, 0, kPoints, none);
        break;
    case 2:
        land ? ModulateLanding<2>(coef::kNtf128, out) : Modulate<2>(coef::kNtf128, out, 0, kPoints, none);
        break;
    case 4:
        land ? ModulateLanding<4>(coef::kNtf256, out) : Modulate<4>(coef::kNtf256, out, 0, kPoints, none);
        break;
    default:
        land ? ModulateLanding<8>(coef::kNtf512, out) : Modulate<8>(coef::kNtf512, out, 0, kPoints, none);
        break;
    }
    samples += static_cast<std::uint64_t>(kOversampling * kUnitFrames * multiple); // per channel
    KeepHistory(in4, kHistory4);
}

namespace {

// Where the running sum of a channel's bits (+1 or -1) before each sample stands on average, from the
// block's start: its mean under a smooth window (t^2 (1 - t)^2), which averages the shaped noise's swings
// away far better than a plain mean, whose abrupt ends let them through.
double ChargeLevel(const unsigned char* channel, std::size_t bytes) noexcept {
    std::int64_t charge = 0;
    double sum = 0.0;
    double weights = 0.0;
    const double count = static_cast<double>(bytes * 8);
    for (std::size_t i = 0; i < bytes; ++i)
        for (int k = 0; k < 8; ++k) {
            const double t = (static_cast<double>(i * 8) + k + 0.5) / count;
            const double w = t * t * (1.0 - t) * (1.0 - t);
            sum += w * static_cast<double>(charge);
            weights += w;
            charge += (channel[i] >> k) & 1 ? 1 : -1;
        }
    return sum / weights;
}

} // namespace

template <class A>
template <int kMultiple, std::size_t kSections>
void Engine<A>::ModulateLanding(const std::array<coef::Section, kSections>& sections,
                                unsigned char* out) noexcept {
    constexpr int kPoints = 8 * kUnitFrames;
    const std::size_t channelBytes = ChannelBytes(static_cast<DsdRate>(kMultiple));
    Modulate<kMultiple>(sections, out, 0, kLevelPoints, Pulse{});
    // The pattern continues a level whose running sum before each of its bits averages to 0 from the
    // byte's start; the block's own sum is even at its end (an even number of +/-1 bits). So the level to
    // reach is the even number nearest to where the charge stands now, measured from the block's start.
    Pulse pulse{};
    for (int lane = 0; lane < 2; ++lane) {
        const double level = ChargeLevel(out + static_cast<std::size_t>(lane) * channelBytes,
                                         static_cast<std::size_t>(kLevelPoints * kMultiple));
        pulse.charge[lane] = 2.0 * std::nearbyint(level / 2.0) - level;
    }
    pulse.first = bytes;
    pulse.count = static_cast<std::uint64_t>((kPoints - kPulseEndPoints - kLevelPoints) * kMultiple);
    double shape = 0.0;
    for (std::uint64_t b = 0; b < pulse.count; ++b) {
        const double t = (static_cast<double>(b) + 0.5) / static_cast<double>(pulse.count);
        shape += t * t * (1.0 - t) * (1.0 - t);
    }
    pulse.scale = 1.0 / (8.0 * shape);
    Modulate<kMultiple, kSections, true>(sections, out, kLevelPoints, kPoints, pulse);
    LandBits(out, channelBytes);
    LandBits(out + channelBytes, channelBytes);
}

template <class A> void Engine<A>::LandBits(unsigned char* channel, std::size_t channelBytes) noexcept {
    // Free bits F = [end - free, end); the weighted signal E(n) = sum_i h(i) v(n - i) depends on them for n
    // within `half` of F, and those E need v within 2 x half of F, the pattern's bits after the end included.
    const int half = landHalf;
    const int free = kLandBits * multiple;
    const long end = static_cast<long>(channelBytes) * 8;
    const long from = end - free - 2 * half; // v index 0
    const int span = free + 4 * half + 1;
    for (int i = 0; i < span; ++i) {
        const long n = from + i;
        const unsigned byte = n < end ? channel[n / 8] : kSilenceByte;
        landBits[i] = (byte >> (n % 8)) & 1 ? 1 : -1;
    }
    // E over n = from + half .. end + half, stored from index 0.
    const int errors = free + 2 * half + 1;
    for (int j = 0; j < errors; ++j) {
        std::int64_t e = 0;
        for (int i = -half; i <= half; ++i)
            e += weight[i + half] * landBits[j + half - i];
        landError[j] = e;
    }
    // g_k = sum_n h(n - k) E(n) for the free bits k; flipping bit k by d = -2 v(k) changes the energy by
    // 2 d g_k + d^2 r(0), and two bits k, l by the two terms plus 2 d_k d_l r(k - l).
    const int firstFree = 2 * half; // index of F's first bit in landBits
    for (int k = 0; k < free; ++k) {
        std::int64_t g = 0;
        for (int i = -half; i <= half; ++i)
            g += weight[i + half] * landError[k + half + i];
        landGradient[k] = g;
    }
    const std::int64_t* r = weightAuto + 2 * half; // r[d] for |d| <= 2 half
    auto flip = [&](int k) {
        const std::int64_t d = -2 * landBits[firstFree + k];
        landBits[firstFree + k] = -landBits[firstFree + k];
        const int lo = std::max(0, k - 2 * half);
        const int hi = std::min(free - 1, k + 2 * half);
        for (int l = lo; l <= hi; ++l)
            landGradient[l] += d * r[l - k];
    };
    for (int move = 0; move < kLandMoves; ++move) {
        std::int64_t best = 0;
        int bestK = -1;
        int bestL = -1;
        for (int k = 0; k < free; ++k) {
            const std::int64_t vk = landBits[firstFree + k];
            const std::int64_t single = -4 * vk * landGradient[k] + 4 * r[0];
            if (single < best) {
                best = single;
                bestK = k;
                bestL = -1;
            }
            for (int l = k + 1; l < std::min(free, k + 1 + kLandPair); ++l) {
                const std::int64_t vl = landBits[firstFree + l];
                const std::int64_t pair =
                    -4 * (vk * landGradient[k] + vl * landGradient[l]) + 8 * r[0] + 8 * vk * vl * r[l - k];
                if (pair < best) {
                    best = pair;
                    bestK = k;
                    bestL = l;
                }
            }
        }
        if (bestK < 0)
            break;
        flip(bestK);
        if (bestL >= 0)
            flip(bestL);
    }
    for (int k = 0; k < free; ++k) {
        const long n = end - free + k;
        auto& byte = channel[n / 8];
        const auto mask = static_cast<unsigned char>(1u << (n % 8));
        byte = static_cast<unsigned char>(landBits[firstFree + k] > 0 ? (byte | mask) : (byte & ~mask));
    }
}

void Converter::Convert(const void* pcm, int unitCount, PcmFormat format, unsigned char* out) noexcept {
    const auto* bytes = static_cast<const unsigned char*>(pcm);
    const std::size_t blockBytes = BlockBytes(Rate());
    for (int unit = 0; unit < unitCount; ++unit, bytes += UnitBytes(format), out += blockBytes)
        state_->ConvertUnit(bytes, format, out, false);
}

void Converter::ConvertFinal(const void* pcm, int unitCount, PcmFormat format, unsigned char* out) noexcept {
    if (unitCount < 1)
        return;
    Convert(pcm, unitCount - 1, format, out);
    const auto* last =
        static_cast<const unsigned char*>(pcm) + UnitBytes(format) * static_cast<std::size_t>(unitCount - 1);
    state_->ConvertUnit(last, format, out + BlockBytes(Rate()) * static_cast<std::size_t>(unitCount - 1),
                        true);
}

} // namespace zentrafold
