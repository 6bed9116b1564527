// Reader of stereo DSD64, DSD128, DSD256 and DSD512 files in the DSF and DSDIFF formats: checks the header
// once, then delivers each channel as 32-bit elements (four DSD bytes, earliest sample in bit 0 of the first
// byte, the layout of a device block) through one ring per channel.
#pragma once

#include "CChunkStream.h"
#include "CSampleRing.h"

#include "Platform/DsdRate.h"

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

namespace engine {

// Why the last Open failed, so a caller (the command-line tool) can name the reason; the engine only looks
// at Open's result.
enum class DsdOpenError {
    None,
    Unreadable,       // no path, the file cannot be opened or read, or the reader failed unexpectedly
    NoSuchFile,       // the file does not exist
    IsDirectory,      // the path names a folder
    PermissionDenied, // the file may not be read
    NotRegularFile,   // a FIFO, a device or another file that is not a regular file
    NoAudioData,      // the header is complete but the file holds no sample byte
    NotDsd,           // the first four bytes are neither "DSD " nor "FRM8"
    TruncatedHeader,  // the file ends inside the header
    BadSizeFactors,   // size factors outside 1..CDsdFileSource::kMaxSizeFactor
    OutOfMemory,      // the rings or the file buffer could not be allocated
    // DSF
    NoFormatChunk,   // "fmt " does not follow the 28-byte "DSD " chunk
    BadFormatSize,   // the format chunk is not 52 bytes
    NotRawDsd,       // format identifier other than 0 (raw DSD)
    NotStereo,       // channel count other than 2 (DSF or the DSDIFF CHNL chunk)
    UnsupportedRate, // sampling frequency other than 2 822 400, 5 644 800 or 11 289 600 Hz (DSF or DSDIFF FS)
    NotOneBit,       // bits per sample other than 1
    BadBlockSize,    // block size per channel other than 4096
    NoDataChunk,     // "data" does not follow the format chunk
    BadDataSize,     // the data chunk is smaller than its own 12-byte header
    // DSDIFF
    NotDsdForm,       // the FRM8 form type is not "DSD "
    NoVersionChunk,   // no FVER chunk
    NoPropertyChunk,  // no PROP chunk
    NotSoundProperty, // the PROP chunk is not of type "SND "
    NoRateChunk,      // no FS chunk in the properties
    NoChannelChunk,   // no CHNL chunk in the properties
    NotLeftRight,     // the CHNL chunk does not name the channels SLFT and SRGT
    Compressed,       // the CMPR chunk names a compression type other than "DSD " or "DST "
    DstCompressed,    // the CMPR chunk says "DST ": DST-compressed sound, which is not decoded
    NoSoundData,      // no "DSD " sound data chunk after the properties
};

// Short fixed English text for an error, e.g. "not stereo"; never null.
const char* DsdOpenErrorText(DsdOpenError error) noexcept;

// Track length in milliseconds of totalSampleBytes bytes of two-channel DSD at rate (DSD64:
// ((bytes / 8) / 2) * 1000 / 44 100; the higher rates divide by their multiple too) in 64-bit integers,
// computed so that no size can overflow.
std::uint64_t DsdLengthMs(std::uint64_t totalSampleBytes,
                          platform::DsdRate rate = platform::DsdRate::kDsd64) noexcept;

// The DSF format chunk after its identifier, little-endian in memory. A DSDIFF file fills the same record
// from its own chunks (block size 1: its bytes are interleaved per channel).
struct DsdFormat {
    std::uint64_t chunkSize = 0;
    std::uint32_t formatVersion = 0;
    std::uint32_t formatId = 0;
    std::uint32_t channelType = 0;
    std::uint32_t channelCount = 0;
    std::uint32_t samplingFrequency = 0;
    std::uint32_t bitsPerSample = 0;
    std::uint64_t sampleCount = 0;
    std::uint32_t blockSizePerChannel = 0;
    std::uint32_t reserved = 0;
};

// One open DSD file at a time. Open, Seek and Close run on one thread while no Get runs (the engine calls
// them on its UI thread, or on its output thread while the reader is idle); Get runs on the engine's
// reader thread. The source lock guards the ring transfers inside Get and the reads from the file.
class CDsdFileSource {
public:
    static constexpr int kRingCount = 8;
    static constexpr std::int32_t kMaxSizeFactor = 1024;
    static constexpr std::uint64_t kDsfDataOffset = 92; // the DSF sample data follows three fixed chunks
    static constexpr std::uint32_t kDsfBlockBytes = 4096;
    static constexpr std::uint32_t kDsd64Rate = 2822400;

    CDsdFileSource();
    ~CDsdFileSource();
    CDsdFileSource(const CDsdFileSource&) = delete;
    CDsdFileSource& operator=(const CDsdFileSource&) = delete;

    // Closes any open file, opens path (UTF-8) read-only and checks that it is a stereo DSD64, DSD128, DSD256
    // or DSD512 DSF or uncompressed DSDIFF file. The sample bytes are the smaller of what the header declares
    // and what the file holds; a DSDIFF file's channels are put left and right by their CHNL identifiers. On
    // success sizes the file buffer for sizeFactorA blocks per channel per read and the eight rings for
    // max(A, B) blocks (A = B = 1: 2048 elements each); the file then stands at its first sample byte, and
    // Get may run without a Seek. On failure the file is closed, false is returned and LastOpenError() names
    // the reason. Blocks on file I/O; never throws.
    bool Open(const char* path, std::int32_t sizeFactorA, std::int32_t sizeFactorB);

    // Closes the file and frees the file buffer. False when nothing was open.
    bool Close();

    // Positions the next Get at element `position` of every channel (an element is 4 bytes of one
    // channel, 32 samples). Repeating the position of the last Seek with no Get between does nothing and
    // succeeds. Otherwise empties the rings, reads the block that holds the position and drops the
    // elements before it, so the next Get starts exactly there. False when closed, when the position is at
    // or past the end of the samples or when the read fails (the rings are then empty). Blocks on I/O.
    bool Seek(std::uint64_t position);

    // Delivers count elements of each channel into destinations[0..channels-1] (each with room for count
    // elements), reading the file as needed. At the end of the data delivers what is left. Returns the
    // number of elements delivered to the last channel (every channel gets the same number); 0 when
    // closed. Reader thread; blocks on file I/O.
    int Get(int count, std::uint32_t* const* destinations);

    bool IsOpen() const noexcept { return open_; }
    bool IsDsdiff() const noexcept { return isDsdiff_; }
    // Valid after a successful Open.
    const DsdFormat& Format() const noexcept { return format_; }
    std::uint64_t TotalSampleBytes() const noexcept { return totalSampleBytes_; }
    std::uint64_t DataBytes() const noexcept { return dataBytes_; }
    std::uint64_t LengthMs() const noexcept { return DsdLengthMs(totalSampleBytes_, Rate()); }
    // The file's rate (DSD64 when nothing is open).
    platform::DsdRate Rate() const noexcept {
        return platform::DsdRateFromSampleRate(format_.samplingFrequency).value_or(platform::DsdRate::kDsd64);
    }
    // Elements per channel: positions Seek accepts are below this.
    std::uint64_t ElementsPerChannel() const noexcept;
    // Sample bytes of each channel that the next Gets will still deliver (after Open, the whole channel;
    // after a Seek, from its position on). The last element of a channel whose bytes end inside it is
    // completed with silence by Get: only the first bytes of it that this count still holds are samples.
    std::uint64_t BytesLeftPerChannel() const noexcept;
    DsdOpenError LastOpenError() const noexcept { return lastError_; }

private:
    DsdOpenError Detect();
    DsdOpenError ParseDsf();
    DsdOpenError ParseDsdiff();
    DsdOpenError ParseChannels();
    // Limits the sample bytes to what the file holds; NoAudioData when nothing is left.
    DsdOpenError ClampToFile();
    void ResetRings();
    // One read from the file into the rings. False at the end of the data or on a failed read.
    bool Fill();
    bool FillDsf();
    bool FillDsdiff();
    // Elements one Fill can add to a channel's ring at most.
    std::int32_t ElementsPerFill() const noexcept {
        return sizeFactorA_ * static_cast<std::int32_t>(kDsfBlockBytes / 4);
    }

    CChunkStream stream_;
    bool open_ = false;
    DsdFormat format_;
    std::uint64_t totalSampleBytes_ = 0;          // sample bytes of all channels
    std::uint64_t dataBytes_ = 0;                 // DSF only: the data chunk's payload size
    std::unique_ptr<std::uint32_t[]> fileBuffer_; // elements, so blocks can go to the rings unaligned-free
    std::size_t fileBufferBytes_ = 0;
    std::int32_t sizeFactorA_ = 512;
    std::int32_t sizeFactorB_ = 32;
    bool positioned_ = false;
    std::uint64_t lastSeekPosition_ = 0;
    std::uint64_t nextElement_ = 0; // element of each channel the next Get starts at
    std::array<CSampleRing, kRingCount> rings_;
    std::unique_ptr<std::mutex> sourceLock_;
    bool isDsdiff_ = false;
    std::array<std::uint8_t, 2> dsdiffRing_{0,
                                            1}; // DSDIFF: the ring (0 left, 1 right) of each stored channel
    DsdOpenError lastError_ = DsdOpenError::None;
};

} // namespace engine
