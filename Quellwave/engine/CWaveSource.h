// Reader of stereo 44 100 Hz 16/24-bit PCM WAV files: checks the header once, then serves raw sample bytes
// from the data chunk to the chunk producers.
#pragma once

#include <cstdint>

namespace engine {

// Why the last Open failed. Kept beside the source so a caller (the command-line tool, a dialog) can name
// the reason; the engine itself only looks at Open's result.
enum class WaveOpenError {
    None,
    Unreadable,         // no path, or reading the file fails
    NoSuchFile,         // the file does not exist
    IsDirectory,        // the path names a folder
    PermissionDenied,   // the file may not be read
    NotRegularFile,     // a FIFO, a device or another file that is not a regular file
    TruncatedHeader,    // the file ends inside the RIFF header, the format block or a chunk header
    NotRiff,            // the first four bytes are not "RIFF"
    NotWave,            // RIFF, but not of form "WAVE"
    NoFormatChunk,      // no "fmt " chunk before the "data" chunk
    FormatTooLarge,     // the format chunk is larger than 256 bytes
    FormatTooSmall,     // the format chunk is too short to hold the fields that are checked
    NotPcm,             // neither PCM nor extensible with the PCM sub-format
    NotStereo,          // channel count other than 2
    Not44100,           // sample rate other than 44 100 Hz
    NotSupportedBits,   // bits per sample other than 16 or 24
    BadBlockAlign,      // block align does not match two channels of the sample size
    NoDataChunk,        // the file ends without a "data" chunk
    EmptyData,          // the data chunk holds no sample frame (a header without audio)
    DataOffsetTooLarge, // the samples start beyond the 4 GiB a 32-bit offset can address
};

// Short fixed English text for an error, e.g. "not stereo"; never null.
const char* WaveOpenErrorText(WaveOpenError error) noexcept;

// Track length in milliseconds of a data chunk of the given size: ((size / bytes per sample) / 2) * 1000 /
// 44 100, computed in 64 bits. Any size a 32-bit chunk field can hold gives a value that fits 32 bits.
// Returns 0 when bytesPerSample is 0.
std::uint64_t WaveLengthMs(std::uint64_t dataSize, std::uint32_t bytesPerSample) noexcept;

// Byte offset in the data for a position of ms milliseconds: (ms * 44 100 / 1000) * bytes per sample * 2,
// computed in 64 bits; the value to pass to CWaveSource::Seek.
std::uint64_t WaveDataOffsetForMs(std::uint32_t ms, std::uint32_t bytesPerSample) noexcept;

// One open WAV file at a time. Not thread-safe: one thread (the engine's UI thread to open and test, the
// reader thread to read) uses it at any moment, as the engine arranges.
class CWaveSource {
public:
    CWaveSource() noexcept = default;
    ~CWaveSource();
    CWaveSource(const CWaveSource&) = delete;
    CWaveSource& operator=(const CWaveSource&) = delete;

    // Closes any open file, then opens path (UTF-8) read-only and checks its header: the chunks are walked
    // from the start (each odd-sized one followed by its pad byte, unless the writer left the pad out)
    // until "fmt " and then "data" are found. The data size is the smaller of what the data chunk declares
    // and what the file holds, in whole sample frames. Returns true with the file pointer at the first
    // sample byte; on failure the file is closed, false is returned and
    // LastOpenError() names the reason. A null path fails. Does not reset the read position: call Seek
    // before reading. Blocks on file I/O; never throws.
    bool Open(const char* path);

    // Closes the file if open.
    void Close() noexcept;

    // Zero-fills byteCount bytes of buffer, then reads up to byteCount bytes of sample data, stopping at
    // the end of the data chunk. Returns false when closed, when nothing is left, on a failed read or on a
    // short read (whatever was read stays in the buffer); otherwise advances the read position and returns
    // true. Blocks on file I/O.
    bool Read(void* buffer, std::uint32_t byteCount);

    // Moves to byteOffset bytes into the sample data. False when closed or when the position cannot be
    // reached. Positions past the end are allowed; reads there return false.
    bool Seek(std::uint64_t byteOffset);

    bool IsOpen() const noexcept { return fileHandle_ >= 0; }
    // Valid after a successful Open.
    std::uint64_t DataSize() const noexcept { return dataSize_; }
    std::uint32_t DataOffset() const noexcept { return dataOffset_; }
    std::uint32_t BytesPerSample() const noexcept { return bytesPerSample_; }
    std::uint64_t ReadPosition() const noexcept { return readPosition_; }
    std::uint64_t LengthMs() const noexcept { return WaveLengthMs(dataSize_, bytesPerSample_); }
    WaveOpenError LastOpenError() const noexcept { return lastError_; }

private:
    WaveOpenError ParseHeader(std::uint64_t fileSize);
    // Checks the format block of formatSize bytes at file offset at; stores its bits per sample.
    WaveOpenError ParseFormat(std::uint64_t at, std::uint32_t formatSize, std::uint64_t fileSize,
                              std::uint32_t* bits) const;
    // Offset of the chunk header after a chunk whose data ends at `end`.
    std::uint64_t NextChunkOffset(std::uint64_t end, std::uint32_t size, std::uint64_t fileSize) const;

    int fileHandle_ = -1; // POSIX descriptor; -1 when closed
    std::uint64_t dataSize_ = 0;
    std::uint32_t dataOffset_ = 0;
    std::uint32_t bytesPerSample_ = 0;
    std::uint64_t readPosition_ = 0;
    WaveOpenError lastError_ = WaveOpenError::None;
};

} // namespace engine
