// The PCM side of the pipeline: the float workspace used for fades, the fade envelope, the two integer
// sample formats, and the chunk producers that turn PCM into runs of DSD blocks for the rings.
#pragma once

#include "CDsdFileSource.h"

#include "Platform/DsdRate.h"
#include "Platform/Types.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace zentrafold {
class Converter;
}

namespace engine {

using platform::DsdRate;

// Sizes every part of the pipeline agrees on. A block keeps its 4096 bytes per channel at every rate, so a
// unit of PCM becomes one block at DSD64, two at DSD128, four at DSD256 and eight at DSD512.
inline constexpr std::uint32_t kUnitFrames = 512;       // one conversion unit -> one DSD64 block
inline constexpr std::uint32_t kDsdBlockBytes = 8192;   // left 4096 bytes, then right 4096 bytes
inline constexpr std::uint32_t kDsdChannelBytes = 4096; // one channel of a block
inline constexpr std::uint8_t kDsdSilenceByte = 0x69;   // DSD idle pattern, density one half
inline constexpr std::uint32_t kSteadyChunkUnits = 16;  // NextChunk
inline constexpr std::uint32_t kEdgeChunkUnits = 10;    // units read by FirstChunk and FinalChunk
inline constexpr std::uint32_t kFinalChunkUnits = 11;   // FinalChunk's output: faded units + a silent one
inline constexpr double kFadeSeconds = 0.003;
inline constexpr std::uint32_t kDsdEdgeChunkBlocks = 10; // DSD files: first and final chunk, at DSD64
// The most blocks a chunk holds: a steady chunk of DSD512.
inline constexpr std::uint32_t kMaxChunkBlocks = kSteadyChunkUnits * 8;

// Sample format codes of the float buffer's conversions.
inline constexpr int kSampleFormat16 = 16; // 16-bit little-endian
inline constexpr int kSampleFormat24 = 17; // packed 24-bit little-endian

// Non-interleaved float samples, full scale at +-1.0.
class FloatBuffer {
public:
    FloatBuffer(std::uint32_t channels, std::uint32_t capacityFrames);

    // Converts frames interleaved frames of the given format code into channels 0..n-1, starting at frame
    // 0, and extends the valid frames to frames. E_INVALIDARG (nothing converted) when frames exceeds the
    // capacity or the code is unknown; S_OK otherwise.
    HRESULT Load(const void* interleaved, std::uint32_t frames, int formatCode);
    // Writes the first frames frames back as interleaved integers: floor(x * 2^(bits-1)) clamped to the
    // format's range. E_INVALIDARG (nothing written) when frames exceeds the valid frames or the code is
    // unknown.
    HRESULT Store(void* interleaved, std::uint32_t frames, int formatCode) const;

    float* Channel(std::uint32_t channel) noexcept { return samples_[channel].data(); }
    const float* Channel(std::uint32_t channel) const noexcept { return samples_[channel].data(); }
    std::uint32_t ChannelCount() const noexcept { return static_cast<std::uint32_t>(samples_.size()); }
    std::uint32_t CapacityFrames() const noexcept { return capacity_; }
    std::uint32_t ValidFrames() const noexcept { return valid_; }

private:
    std::vector<std::vector<float>> samples_;
    std::uint32_t capacity_;
    std::uint32_t valid_ = 0;
};

// A first-order gain glide towards a target, one step per frame.
struct Envelope {
    double gain = 0.0;
    double timeConstant = 0.1;
    double target = 1.0;
    double sampleRate = 44100.0;
    double coefficient;

    Envelope() noexcept;
    // Stores the values (rate 0 means 44 100) and derives coefficient = exp(-1 / (rate x time constant)).
    void Init(double startGain, double seconds, double targetGain, double rate) noexcept;
    // One frame: gain = coefficient x gain + (1 - coefficient) x target, flushed to 0 below 2e-13. Returns
    // the new gain.
    double Step() noexcept;
    // Multiplies frames samples by the gain, stepping once per sample.
    void Apply(float* samples, std::uint32_t frames) noexcept;
};

// Where PCM comes from: a WAV file or the disc (the engine's readers over its sources). Reads fill the buffer
// completely, zero-filling what they cannot read; a failed read therefore gives silence, as tracks end by
// elapsed time.
class PcmReader {
public:
    virtual ~PcmReader() = default;
    virtual void ReadPcm(void* buffer, std::uint32_t byteCount) = 0;
};

// A run of DSD blocks, size a multiple of kDsdBlockBytes (0: nothing). The bytes stay valid until the
// next chunk is produced.
struct DsdChunk {
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
};

// Produces the PCM chunks for the engine's reader thread and feeds the up-converter. DSD64 goes through
// the process-wide, stateful up-converter, so one producer at a time, on one thread; DSD128, DSD256 and
// DSD512 go through converters of the producer's own. Buffers and converters are allocated once, at
// construction. A track keeps one rate from its FirstChunk to its FinalChunk.
class ChunkProducer {
public:
    ChunkProducer();
    ~ChunkProducer();
    ChunkProducer(const ChunkProducer&) = delete;
    ChunkProducer& operator=(const ChunkProducer&) = delete;

    // Start of a track or of a resumed play: 10 units read, faded in over 3 ms, the first unit primes the
    // converter, the other nine become nine blocks (at DSD64; two, four or eight per unit above it).
    DsdChunk FirstChunk(PcmReader& reader, std::uint32_t bytesPerSample, DsdRate rate = DsdRate::kDsd64);
    // Steady play: 16 units straight to the converter, 16 blocks at DSD64.
    DsdChunk NextChunk(PcmReader& reader, std::uint32_t bytesPerSample, DsdRate rate = DsdRate::kDsd64);
    // After a stop request: 10 units faded out over 3 ms, then one unit of digital silence: 11 blocks at
    // DSD64.
    DsdChunk FinalChunk(PcmReader& reader, std::uint32_t bytesPerSample, DsdRate rate = DsdRate::kDsd64);

    // A seek within a run is one stream through the converter: SeekOutChunk fades out as FinalChunk does but
    // leaves the modulator running (10 blocks at DSD64, the tenth unit, silent, still held in the
    // converter), and ResumeChunk fades in at the new place as the stream's next 10 units. Landing the
    // modulator on the silence pattern and restarting it would leave a step of its own at the join.
    DsdChunk SeekOutChunk(PcmReader& reader, std::uint32_t bytesPerSample, DsdRate rate = DsdRate::kDsd64);
    // The first chunk after SeekOutChunk: its first unit's blocks (one at DSD64, the rate's multiple above)
    // carry the silent unit the converter held back, the new place begins after them. Without an open
    // stream of the same sample size and rate (nothing to go on from) it is FirstChunk.
    DsdChunk ResumeChunk(PcmReader& reader, std::uint32_t bytesPerSample, DsdRate rate = DsdRate::kDsd64);
    // The blocks of held-back silence ResumeChunk would start with: 0 when it would be a FirstChunk.
    std::uint32_t ResumeLeadBlocks(std::uint32_t bytesPerSample, DsdRate rate) const noexcept;

private:
    // The first 10 units read into pcm_ and faded in (FadeIn) or out (FadeOut, the eleventh unit zeroed).
    void FadeIn(PcmReader& reader, std::uint32_t bytesPerSample);
    void FadeOut(PcmReader& reader, std::uint32_t bytesPerSample);

    // Converts units of PCM at rate: DSD64 with the process-wide converter, DSD128 to DSD512 with the
    // rate's own converter, whose result is laid out as device blocks (4096 bytes of the left channel,
    // then 4096 of the right). final: the stream's last units, landed on the silence pattern.
    DsdChunk Convert(DsdRate rate, const std::uint8_t* pcm, std::uint32_t units, std::uint32_t bytesPerSample,
                     bool final = false);
    zentrafold::Converter& ConverterFor(DsdRate rate) noexcept;

    std::vector<std::uint8_t> pcm_;     // sized for the largest read: 11 units of 24-bit PCM
    std::vector<std::uint8_t> initial_; // the first unit, handed to the Initial call
    FloatBuffer floats_;
    std::array<std::unique_ptr<zentrafold::Converter>, 3> converters_; // DSD128, DSD256, DSD512
    std::vector<std::uint8_t> converted_; // a converter's output: a unit's left channel, then its right
    std::vector<std::uint8_t> blocks_;    // the chunk, as device blocks
    // A stream left running by SeekOutChunk: its sample size and rate (0 bytes: none is open).
    std::uint32_t openBytesPerSample_ = 0;
    DsdRate openRate_ = DsdRate::kDsd64;
};

// Where a run of DSD files goes on when one ends without a break: the engine opens the next file of the list
// in the same source.
class DsdContinuation {
public:
    virtual ~DsdContinuation() = default;
    // The source has delivered its last sample byte (or cannot read on). True when it now holds the next
    // file, at its first sample byte; false when the run has no more files to join.
    virtual bool Continue() = 0;
};

// Produces the chunks of a DSD file for the engine's reader thread: the file's own blocks, unconverted and
// unfaded. Each chunk is pre-filled with the DSD silence byte, so whatever the file cannot deliver (its end,
// a failed read) reaches the device as silence. The buffer is allocated once, at construction, and used by
// the reader thread alone.
class DsdChunkProducer {
public:
    DsdChunkProducer();

    // Start of a track or of a resumed play: 10 blocks from the source (at DSD64; the chunks of a
    // DSD128, DSD256 or DSD512 file hold two, four or eight times the blocks, so they last as long).
    DsdChunk FirstChunk(CDsdFileSource& source, DsdRate rate = DsdRate::kDsd64);
    // Steady play: 16 blocks from the source at DSD64.
    DsdChunk NextChunk(CDsdFileSource& source, DsdRate rate = DsdRate::kDsd64);
    // After a stop request: 10 silent blocks at DSD64; the file is not read (DSD has no fade to play out).
    DsdChunk FinalChunk(DsdRate rate = DsdRate::kDsd64);

    // The same chunks for files that follow one another without a break: the bytes of each channel run on
    // from one file into the next inside a block, at whatever byte the first one ends (the silence that
    // completes a file's last element is left out), and after the last file the blocks are silent. A
    // FirstChunk starts the stream anew.
    DsdChunk FirstChunk(CDsdFileSource& source, DsdContinuation& next, DsdRate rate = DsdRate::kDsd64);
    DsdChunk NextChunk(CDsdFileSource& source, DsdContinuation& next, DsdRate rate = DsdRate::kDsd64);

private:
    // Fills the first `blocks` blocks of the buffer from the source, after setting them to silence.
    DsdChunk Produce(CDsdFileSource& source, std::uint32_t blocks);
    DsdChunk ProduceJoined(CDsdFileSource& source, std::uint32_t blocks, DsdContinuation& next);

    std::vector<std::uint32_t> buffer_; // kMaxChunkBlocks blocks; elements keep the halves aligned
    // Joined runs: one block of each channel as the source delivers it, and the bytes of a delivery that
    // did not fit the block they were read for (at most 3 per channel), which start the next block.
    std::vector<std::uint32_t> scratch_;
    std::array<std::array<std::uint8_t, 4>, 2> carry_{};
    std::uint32_t carryBytes_ = 0;
};

} // namespace engine
