#include "SamplePipeline.h"

#include "Zentrafold/Zentrafold.h"
#include "Zentrafold/ZentrafoldConverter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace engine {

namespace {

constexpr double kSampleRate = 44100.0;
// Gains this small are flushed to zero so that a fade-out ends in exact digital silence and the float
// arithmetic never runs into denormals.
constexpr double kGainFloor = 2e-13;

bool KnownFormat(int formatCode) noexcept {
    return formatCode == kSampleFormat16 || formatCode == kSampleFormat24;
}

std::uint32_t UnitBytes(std::uint32_t bytesPerSample) noexcept {
    return kUnitFrames * 2 * bytesPerSample;
}

int FormatCode(std::uint32_t bytesPerSample) noexcept {
    return bytesPerSample == 2 ? kSampleFormat16 : kSampleFormat24;
}

// Converts units of PCM at DSD64 with the process-wide converter, whose C functions exist once per sample
// size. final: the stream's last units, landed on the silence pattern.
DsdChunk DirectConvert(const std::uint8_t* pcm, std::uint32_t units, std::uint32_t bytesPerSample,
                       bool final) noexcept {
    using Call = int (*)(const void*, int, unsigned char**, unsigned int*);
    const bool is16 = bytesPerSample == 2;
    const Call call = final ? (is16 ? ZtfDirectConvertFinalBuffer16 : ZtfDirectConvertFinalBuffer24)
                            : (is16 ? ZtfDirectConvertBuffer16 : ZtfDirectConvertBuffer24);
    unsigned char* out = nullptr;
    unsigned int outSize = 0;
    call(pcm, static_cast<int>(units), &out, &outSize);
    return {out, out ? outSize : 0};
}

} // namespace

FloatBuffer::FloatBuffer(std::uint32_t channels, std::uint32_t capacityFrames)
    : samples_(channels, std::vector<float>(capacityFrames, 0.0f)), capacity_(capacityFrames) {}

HRESULT FloatBuffer::Load(const void* interleaved, std::uint32_t frames, int formatCode) {
    if (frames > capacity_ || !KnownFormat(formatCode) || interleaved == nullptr)
        return E_INVALIDARG;
    const auto* in = static_cast<const std::uint8_t*>(interleaved);
    const std::uint32_t channels = ChannelCount();
    for (std::uint32_t f = 0; f < frames; ++f) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            float value;
            if (formatCode == kSampleFormat16) {
                const auto v = static_cast<std::int16_t>(in[0] | in[1] << 8);
                value = static_cast<float>(v * (1.0 / 32768.0));
                in += 2;
            } else {
                std::int32_t v = in[0] | in[1] << 8 | in[2] << 16;
                if (in[2] >= 128)
                    v -= 1 << 24;
                value = static_cast<float>(v * (1.0 / 8388608.0));
                in += 3;
            }
            samples_[c][f] = value;
        }
    }
    valid_ = std::max(valid_, frames);
    return S_OK;
}

HRESULT FloatBuffer::Store(void* interleaved, std::uint32_t frames, int formatCode) const {
    if (frames > valid_ || !KnownFormat(formatCode) || interleaved == nullptr)
        return E_INVALIDARG;
    auto* out = static_cast<std::uint8_t*>(interleaved);
    const std::uint32_t channels = ChannelCount();
    const double scale = formatCode == kSampleFormat16 ? 32768.0 : 8388608.0;
    for (std::uint32_t f = 0; f < frames; ++f) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            const double scaled = std::floor(static_cast<double>(samples_[c][f]) * scale);
            const auto v = static_cast<std::int32_t>(std::clamp(scaled, -scale, scale - 1.0));
            *out++ = static_cast<std::uint8_t>(v);
            *out++ = static_cast<std::uint8_t>(v >> 8);
            if (formatCode == kSampleFormat24)
                *out++ = static_cast<std::uint8_t>(v >> 16);
        }
    }
    return S_OK;
}

Envelope::Envelope() noexcept : coefficient(std::exp(-1.0 / (kSampleRate * 0.1))) {}

void Envelope::Init(double startGain, double seconds, double targetGain, double rate) noexcept {
    gain = startGain;
    timeConstant = seconds;
    target = targetGain;
    sampleRate = rate == 0.0 ? kSampleRate : rate;
    coefficient = std::exp(-1.0 / (sampleRate * timeConstant));
}

double Envelope::Step() noexcept {
    gain = coefficient * gain + (1.0 - coefficient) * target;
    if (gain < kGainFloor)
        gain = 0.0;
    return gain;
}

void Envelope::Apply(float* samples, std::uint32_t frames) noexcept {
    for (std::uint32_t f = 0; f < frames; ++f)
        samples[f] = static_cast<float>(samples[f] * Step());
}

// The engine's rate and the up-converter's are the same multiples of DSD64.
static_assert(static_cast<int>(zentrafold::DsdRate::kDsd128) == platform::DsdRateMultiple(DsdRate::kDsd128));
static_assert(static_cast<int>(zentrafold::DsdRate::kDsd256) == platform::DsdRateMultiple(DsdRate::kDsd256));
static_assert(static_cast<int>(zentrafold::DsdRate::kDsd512) == platform::DsdRateMultiple(DsdRate::kDsd512));

ChunkProducer::ChunkProducer()
    : pcm_(static_cast<std::size_t>(UnitBytes(3)) * std::max(kSteadyChunkUnits, kFinalChunkUnits), 0),
      initial_(UnitBytes(3), 0), floats_(2, kEdgeChunkUnits * kUnitFrames),
      converters_{std::make_unique<zentrafold::Converter>(zentrafold::DsdRate::kDsd128),
                  std::make_unique<zentrafold::Converter>(zentrafold::DsdRate::kDsd256),
                  std::make_unique<zentrafold::Converter>(zentrafold::DsdRate::kDsd512)},
      converted_(std::size_t{kDsdBlockBytes} * kMaxChunkBlocks), blocks_(converted_.size()) {}

ChunkProducer::~ChunkProducer() = default;

zentrafold::Converter& ChunkProducer::ConverterFor(DsdRate rate) noexcept {
    return *converters_[rate == DsdRate::kDsd128 ? 0 : rate == DsdRate::kDsd256 ? 1 : 2];
}

DsdChunk ChunkProducer::Convert(DsdRate rate, const std::uint8_t* pcm, std::uint32_t units,
                                std::uint32_t bytesPerSample, bool final) {
    if (rate == DsdRate::kDsd64)
        return DirectConvert(pcm, units, bytesPerSample, final);
    const auto format = bytesPerSample == 2 ? zentrafold::PcmFormat::kInt16 : zentrafold::PcmFormat::kInt24;
    const auto multiple = static_cast<std::size_t>(platform::DsdRateMultiple(rate));
    if (final)
        ConverterFor(rate).ConvertFinal(pcm, static_cast<int>(units), format, converted_.data());
    else
        ConverterFor(rate).Convert(pcm, static_cast<int>(units), format, converted_.data());
    // A converted unit holds multiple x 4096 bytes of the left channel, then as many of the right: its
    // k-th device block takes the k-th 4096 bytes of each.
    const std::size_t channelBytes = kDsdChannelBytes * multiple;
    std::uint8_t* out = blocks_.data();
    for (std::uint32_t u = 0; u < units; ++u) {
        const std::uint8_t* left = converted_.data() + std::size_t{u} * 2 * channelBytes;
        const std::uint8_t* right = left + channelBytes;
        for (std::size_t k = 0; k < multiple; ++k) {
            std::memcpy(out, left + k * kDsdChannelBytes, kDsdChannelBytes);
            std::memcpy(out + kDsdChannelBytes, right + k * kDsdChannelBytes, kDsdChannelBytes);
            out += kDsdBlockBytes;
        }
    }
    return {blocks_.data(), static_cast<std::uint32_t>(out - blocks_.data())};
}

void ChunkProducer::FadeIn(PcmReader& reader, std::uint32_t bytesPerSample) {
    const int code = FormatCode(bytesPerSample);
    const std::uint32_t frames = kEdgeChunkUnits * kUnitFrames;
    std::fill(pcm_.begin(), pcm_.end(), 0);
    reader.ReadPcm(pcm_.data(), kEdgeChunkUnits * UnitBytes(bytesPerSample));

    floats_.Load(pcm_.data(), frames, code);
    for (std::uint32_t c = 0; c < floats_.ChannelCount(); ++c) {
        Envelope fadeIn; // gain 0 towards 1
        fadeIn.timeConstant = kFadeSeconds;
        fadeIn.coefficient = std::exp(-1.0 / (kSampleRate * kFadeSeconds));
        float* samples = floats_.Channel(c);
        fadeIn.Apply(samples, frames);
        for (std::uint32_t f = 0; f < frames; ++f)
            samples[f] = std::clamp(samples[f], -1.0f, 1.0f);
    }
    floats_.Store(pcm_.data(), frames, code);
}

void ChunkProducer::FadeOut(PcmReader& reader, std::uint32_t bytesPerSample) {
    const int code = FormatCode(bytesPerSample);
    const std::uint32_t frames = kEdgeChunkUnits * kUnitFrames;
    const std::size_t finalBytes = std::size_t{UnitBytes(3)} * kFinalChunkUnits; // 33 792
    std::fill(pcm_.begin(), pcm_.begin() + static_cast<long>(finalBytes), 0);
    reader.ReadPcm(pcm_.data(), kEdgeChunkUnits * UnitBytes(bytesPerSample));

    floats_.Load(pcm_.data(), frames, code);
    for (std::uint32_t c = 0; c < floats_.ChannelCount(); ++c) {
        Envelope fadeOut;
        fadeOut.Init(1.0, kFadeSeconds, 0.0, kSampleRate);
        fadeOut.Apply(floats_.Channel(c), frames);
    }
    // The eleventh unit stays zero: digital silence after the fade, which also pushes the faded tail
    // out of the converter's filters.
    std::fill(pcm_.begin(), pcm_.begin() + static_cast<long>(finalBytes), 0);
    floats_.Store(pcm_.data(), frames, code);
}

DsdChunk ChunkProducer::FirstChunk(PcmReader& reader, std::uint32_t bytesPerSample, DsdRate rate) {
    openBytesPerSample_ = 0;
    FadeIn(reader, bytesPerSample);
    const std::uint32_t unitBytes = UnitBytes(bytesPerSample);
    std::fill(initial_.begin(), initial_.end(), 0);
    std::memcpy(initial_.data(), pcm_.data(), unitBytes);
    if (rate != DsdRate::kDsd64)
        ConverterFor(rate).Initial(initial_.data(), bytesPerSample == 2 ? zentrafold::PcmFormat::kInt16
                                                                        : zentrafold::PcmFormat::kInt24);
    else if (bytesPerSample == 2)
        ZtfDirectConvertInitialBuffer16(initial_.data());
    else
        ZtfDirectConvertInitialBuffer24(initial_.data());
    return Convert(rate, pcm_.data() + unitBytes, kEdgeChunkUnits - 1, bytesPerSample);
}

std::uint32_t ChunkProducer::ResumeLeadBlocks(std::uint32_t bytesPerSample, DsdRate rate) const noexcept {
    const bool open = openBytesPerSample_ != 0 && openBytesPerSample_ == bytesPerSample && openRate_ == rate;
    return open ? static_cast<std::uint32_t>(platform::DsdRateMultiple(rate)) : 0;
}

DsdChunk ChunkProducer::ResumeChunk(PcmReader& reader, std::uint32_t bytesPerSample, DsdRate rate) {
    if (ResumeLeadBlocks(bytesPerSample, rate) == 0)
        return FirstChunk(reader, bytesPerSample, rate);
    openBytesPerSample_ = 0;
    FadeIn(reader, bytesPerSample);
    return Convert(rate, pcm_.data(), kEdgeChunkUnits, bytesPerSample);
}

DsdChunk ChunkProducer::NextChunk(PcmReader& reader, std::uint32_t bytesPerSample, DsdRate rate) {
    // Straight from the source to the converter: steady play never touches the samples.
    reader.ReadPcm(pcm_.data(), kSteadyChunkUnits * UnitBytes(bytesPerSample));
    return Convert(rate, pcm_.data(), kSteadyChunkUnits, bytesPerSample);
}

DsdChunk ChunkProducer::FinalChunk(PcmReader& reader, std::uint32_t bytesPerSample, DsdRate rate) {
    openBytesPerSample_ = 0;
    FadeOut(reader, bytesPerSample);
    // The stream ends here and the device goes on with the silence byte: the final call lands the
    // modulator on that pattern, so the join carries no click.
    return Convert(rate, pcm_.data(), kFinalChunkUnits, bytesPerSample, true);
}

DsdChunk ChunkProducer::SeekOutChunk(PcmReader& reader, std::uint32_t bytesPerSample, DsdRate rate) {
    FadeOut(reader, bytesPerSample);
    // The fade reaches exact silence within its eighth unit, so the tenth, held back by the converter's
    // one-unit latency, is silent: ResumeChunk's first blocks.
    const DsdChunk chunk = Convert(rate, pcm_.data(), kEdgeChunkUnits, bytesPerSample);
    openBytesPerSample_ = bytesPerSample;
    openRate_ = rate;
    return chunk;
}

DsdChunkProducer::DsdChunkProducer()
    : buffer_(kMaxChunkBlocks * kDsdBlockBytes / 4), scratch_(kDsdBlockBytes / 4) {}

DsdChunk DsdChunkProducer::Produce(CDsdFileSource& source, std::uint32_t blocks) {
    auto* bytes = reinterpret_cast<std::uint8_t*>(buffer_.data());
    std::memset(bytes, kDsdSilenceByte, std::size_t{blocks} * kDsdBlockBytes);
    constexpr std::uint32_t kHalfElements = kDsdChannelBytes / 4;
    for (std::uint32_t b = 0; b < blocks; ++b) {
        std::uint32_t* left = buffer_.data() + std::size_t{b} * 2 * kHalfElements;
        std::uint32_t* const channels[2] = {left, left + kHalfElements};
        // A short delivery (the end of the data) leaves the rest of the block silent.
        source.Get(static_cast<int>(kHalfElements), channels);
    }
    return {bytes, blocks * kDsdBlockBytes};
}

namespace {
std::uint32_t Blocks(std::uint32_t dsd64Blocks, DsdRate rate) noexcept {
    return dsd64Blocks * static_cast<std::uint32_t>(platform::DsdRateMultiple(rate));
}
} // namespace

DsdChunk DsdChunkProducer::FirstChunk(CDsdFileSource& source, DsdRate rate) {
    return Produce(source, Blocks(kDsdEdgeChunkBlocks, rate));
}

DsdChunk DsdChunkProducer::NextChunk(CDsdFileSource& source, DsdRate rate) {
    return Produce(source, Blocks(kSteadyChunkUnits, rate));
}

DsdChunk DsdChunkProducer::FinalChunk(DsdRate rate) {
    const std::uint32_t blocks = Blocks(kDsdEdgeChunkBlocks, rate);
    auto* bytes = reinterpret_cast<std::uint8_t*>(buffer_.data());
    std::memset(bytes, kDsdSilenceByte, std::size_t{blocks} * kDsdBlockBytes);
    return {bytes, blocks * kDsdBlockBytes};
}

DsdChunk DsdChunkProducer::ProduceJoined(CDsdFileSource& source, std::uint32_t blocks,
                                         DsdContinuation& next) {
    auto* bytes = reinterpret_cast<std::uint8_t*>(buffer_.data());
    std::memset(bytes, kDsdSilenceByte, std::size_t{blocks} * kDsdBlockBytes);
    constexpr std::uint32_t kHalfElements = kDsdChannelBytes / 4;
    const auto* scratch = reinterpret_cast<const std::uint8_t*>(scratch_.data());
    std::uint32_t* const destinations[2] = {scratch_.data(), scratch_.data() + kHalfElements};
    bool ended = false; // no file follows: the rest of the chunk stays silent
    for (std::uint32_t b = 0; b < blocks && !ended; ++b) {
        std::uint8_t* const halves[2] = {bytes + std::size_t{b} * kDsdBlockBytes,
                                         bytes + std::size_t{b} * kDsdBlockBytes + kDsdChannelBytes};
        std::uint32_t filled = carryBytes_;
        for (int c = 0; c < 2; ++c)
            std::memcpy(halves[c], carry_[static_cast<std::size_t>(c)].data(), carryBytes_);
        carryBytes_ = 0;
        while (filled < kDsdChannelBytes) {
            const std::uint64_t left = source.BytesLeftPerChannel();
            if (left == 0) {
                if (!next.Continue()) {
                    ended = true;
                    break;
                }
                continue;
            }
            // Whole elements, never past the file's last one nor more than one past the block's end.
            const std::uint32_t room = kDsdChannelBytes - filled;
            const auto want = static_cast<int>(std::min<std::uint64_t>((room + 3) / 4, (left + 3) / 4));
            const int got = source.Get(want, destinations);
            if (got <= 0) {
                // The file cannot be read on: what it still held is lost, the next file follows.
                if (!next.Continue()) {
                    ended = true;
                    break;
                }
                continue;
            }
            const auto valid =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t(got) * 4, left));
            const std::uint32_t here = std::min(valid, room);
            for (int c = 0; c < 2; ++c)
                std::memcpy(halves[c] + filled, scratch + std::size_t(c) * kDsdChannelBytes, here);
            filled += here;
            carryBytes_ = valid - here;
            for (int c = 0; c < 2; ++c)
                std::memcpy(carry_[static_cast<std::size_t>(c)].data(),
                            scratch + std::size_t(c) * kDsdChannelBytes + here, carryBytes_);
        }
    }
    return {bytes, blocks * kDsdBlockBytes};
}

DsdChunk DsdChunkProducer::FirstChunk(CDsdFileSource& source, DsdContinuation& next, DsdRate rate) {
    carryBytes_ = 0;
    return ProduceJoined(source, Blocks(kDsdEdgeChunkBlocks, rate), next);
}

DsdChunk DsdChunkProducer::NextChunk(CDsdFileSource& source, DsdContinuation& next, DsdRate rate) {
    return ProduceJoined(source, Blocks(kSteadyChunkUnits, rate), next);
}

} // namespace engine
