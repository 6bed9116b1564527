// Reader of every PCM file the WAV reader does not take (FLAC, AIFF and AIFF-C, CAF, RF64 and W64, WAV of
// 32-bit integer or float samples, mono, any rate from 8 kHz to 384 kHz): decodes it, resamples it to
// 44 100 Hz and serves it as packed 24-bit little-endian stereo, the form the chunk producers take.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

struct sf_private_tag;
struct SF_INFO;
struct soxr;

namespace engine {

// Why the last Open failed.
enum class PcmOpenError {
    None,
    Unreadable,       // no path, or reading the file fails
    NoSuchFile,       // the file does not exist
    IsDirectory,      // the path names a folder
    PermissionDenied, // the file may not be read
    NotRegularFile,   // a FIFO, a device or another file that is not a regular file
    NotRecognised,    // the decoder knows no format in it
    Malformed,        // the decoder recognised the format but the file is damaged
    NotSupported,     // a recognised format with an encoding the decoder cannot decode
    TooManyChannels,  // more than two channels
    RateOutOfRange,   // a sample rate below 8 000 or above 384 000 Hz
    EmptyData,        // no sample frame
    NoAudio,          // frames announced, but not one can be decoded (a header alone, a damaged first frame)
    ResamplerFailed,  // the resampler could not be set up
};

// Short fixed English text, e.g. "more than 2 channels"; never null.
const char* PcmOpenErrorText(PcmOpenError error) noexcept;

// The tags a file carries (empty when absent).
struct PcmTags {
    std::string title;
    std::string artist;
    std::string album;
};

// Reads the title, artist and album of any file the decoder opens (WAV LIST INFO, FLAC and Ogg comments,
// AIFF text chunks). False when the decoder cannot open it. Blocks on file I/O; never throws.
bool ReadPcmFileTags(const char* path, PcmTags* tags);

// Asked by a source that has decoded all of its file: where decoding goes on without a break, through the
// same resampler, so that the audio of two files of one rate runs on as one stream.
class PcmFileFollower {
public:
    virtual ~PcmFileFollower() = default;
    // The next file (UTF-8), or null when the audio ends with this one.
    virtual const char* NextPath() = 0;
    // The source now decodes that file (it has the same rate and channel count).
    virtual void Followed() = 0;
};

// One open file at a time. Not thread-safe: one thread uses it at any moment, as the engine arranges
// (the UI thread opens, tests and seeks it, the reader thread reads it).
class CPcmFileSource {
public:
    static constexpr std::uint32_t kOutputRate = 44100;
    static constexpr std::uint32_t kMinRate = 8000;
    static constexpr std::uint32_t kMaxRate = 384000;
    static constexpr std::uint32_t kBytesPerSample = 3; // packed 24-bit output
    static constexpr std::uint32_t kOutputFrameBytes = 2 * kBytesPerSample;
    static constexpr std::uint32_t kNoEarlyEnd = 0xFFFFFFFFu;
    static constexpr std::uint64_t kUnknownLengthMs = ~std::uint64_t{0};

    CPcmFileSource();
    ~CPcmFileSource();
    CPcmFileSource(const CPcmFileSource&) = delete;
    CPcmFileSource& operator=(const CPcmFileSource&) = delete;

    // Closes any open file, then opens path (UTF-8) and sets up decoding and resampling; every buffer the
    // reads use is sized here. The first piece of audio is decoded: a file with none that can be decoded
    // is refused (NoAudio). Stands at the start of the audio. On failure the file is closed, false
    // returned and LastOpenError() (with LastOpenDetail(), the decoder's own words when it has any) names
    // the reason. Blocks on file I/O; never throws.
    bool Open(const char* path);
    void Close() noexcept;
    bool IsOpen() const noexcept { return file_ != nullptr; }

    // Fills byteCount bytes (whole output frames) of buffer with the next audio: zeros first, then as much
    // as is left. False when closed or when nothing at all was left. A decoding failure or a file that
    // ends before the frames its header announced ends the audio there: the rest reads as silence and
    // EarlyEndMs() tells where it ended. Decodes at most about as much as it delivers; allocates nothing.
    bool Read(void* buffer, std::uint32_t byteCount);
    // As Read, for frames output frames; returns how many frames hold audio (the rest are zero).
    std::size_t ReadFrames(void* buffer, std::size_t frames);

    // While a follower is set (it must outlive the source or be unset), a file that has been decoded to its
    // announced end is followed by the one the follower names, when that opens with this file's rate and
    // channel count: its frames follow in the same read, and the position starts again at its start. The
    // source then stands for that file (its format, length and tags). Otherwise the audio ends as without
    // one. The follower is called on the thread that reads.
    void SetFollower(PcmFileFollower* follower) noexcept { follower_ = follower; }

    // Moves to ms milliseconds into the audio and clears the resampler. False when closed or when the
    // decoder cannot seek there (reads then give silence).
    bool SeekMs(std::uint32_t ms);

    // Valid after a successful Open.
    const std::string& FormatName() const noexcept { return formatName_; } // e.g. "flac", "wav-float"
    std::uint32_t SampleRate() const noexcept { return rate_; }
    std::uint32_t Bits() const noexcept { return bits_; } // 0 when the encoding has no fixed size
    std::uint32_t Channels() const noexcept { return channels_; }
    // The frames the header announces: the decoder's largest count when the header does not say.
    std::uint64_t Frames() const noexcept { return frames_; }
    // Whether the header announces a total at all (a FLAC written as a stream may leave it out).
    bool TotalAnnounced() const noexcept { return totalAnnounced_; }
    // Whether the total is announced and believable (a FLAC's total that its bytes cannot hold is not).
    // Without one the audio ends where the stream does, and EarlyEndMs says where that was.
    bool LengthKnown() const noexcept { return lengthKnown_; }
    // The announced length; kUnknownLengthMs when it is not known.
    std::uint64_t LengthMs() const noexcept;
    const PcmTags& Tags() const noexcept { return tags_; }

    PcmOpenError LastOpenError() const noexcept { return lastError_; }
    const std::string& LastOpenDetail() const noexcept { return lastDetail_; }

    // Where the next Read starts, in output frames from the start of the audio.
    std::uint64_t DeliveredFrames() const noexcept { return outputFrames_; }

    // Where the audio ended early, in ms from the start of the track; kNoEarlyEnd while it has not. Any
    // thread may read it.
    std::uint32_t EarlyEndMs() const noexcept { return earlyEndMs_.load(); }

private:
    PcmOpenError Setup(const SF_INFO& info, std::uint64_t fileBytes);
    // The frame count, format names and tags of the file file_ now decodes.
    void TakeFormat(const SF_INFO& info);
    // Decodes the next piece of input into in_ (going on in the follower's file at the end of this one);
    // false at the end of the input (or a decoding failure).
    bool Decode();
    // How many frames the next piece asks for, at position of a file of frames.
    static std::size_t PieceFrames(std::uint64_t frames, std::uint64_t position) noexcept;
    // Decodes up to want frames of file into in_, non-finite samples made silent; the frames decoded.
    std::size_t DecodePiece(sf_private_tag* file, std::size_t want);
    // Takes a decoded piece of got frames (of want asked) as the input to use next.
    void TakePiece(std::size_t got, std::size_t want) noexcept;
    // At the end of a file's input: opens the follower's next file in its place. False when there is none
    // or it does not match.
    bool FollowOn();
    void EndEarly() noexcept;

    sf_private_tag* file_ = nullptr;
    soxr* resampler_ = nullptr; // null when the file is at 44 100 Hz
    int fd_ = -1;
    std::string formatName_;
    std::uint32_t rate_ = 0;
    std::uint32_t bits_ = 0;
    std::uint32_t channels_ = 0;
    std::uint64_t frames_ = 0;
    bool totalAnnounced_ = false;
    bool lengthKnown_ = false;
    PcmTags tags_;
    PcmOpenError lastError_ = PcmOpenError::None;
    std::string lastDetail_;

    std::vector<double> in_;  // decoded input, interleaved in the file's channel count
    std::vector<double> out_; // resampled output, same channel count
    std::size_t inFrames_ = 0;
    std::size_t inUsed_ = 0;
    std::uint64_t inputPosition_ = 0; // input frames decoded since the start of the file
    std::uint64_t outputFrames_ = 0;  // output frames delivered since the start of the track
    bool inputDone_ = false;          // the decoder has nothing more
    bool flushed_ = false;            // the resampler has given out its tail
    std::size_t discardFrames_ = 0;   // resampled frames of the history read before a seek's place
    std::atomic<std::uint32_t> earlyEndMs_{kNoEarlyEnd};
    PcmFileFollower* follower_ = nullptr;
};

} // namespace engine
