#include "CPcmFileSource.h"

#include "InputFile.h"
#include "Platform/ByteOrder.h"
#include "Platform/FileIo.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

namespace engine {

namespace {

// Input frames decoded per step: at 384 kHz about 11 ms, far less than the 186 ms a steady chunk lasts,
// so a read never waits on much more decoding than the audio it returns.
constexpr std::size_t kDecodeFrames = 4096;
// Output frames produced per resampler call.
constexpr std::size_t kOutputPieceFrames = 4096;

std::string MajorName(int format) {
    switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
        return "wav";
    case SF_FORMAT_AIFF:
        return "aiff";
    case SF_FORMAT_FLAC:
        return "flac";
    case SF_FORMAT_CAF:
        return "caf";
    case SF_FORMAT_W64:
        return "w64";
    case SF_FORMAT_RF64:
        return "rf64";
    case SF_FORMAT_OGG:
        return "ogg";
    default:
        break;
    }
    SF_FORMAT_INFO info{};
    info.format = format & SF_FORMAT_TYPEMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.extension != nullptr)
        return info.extension;
    return "pcm";
}

std::uint32_t SubtypeBits(int format, bool* isFloat) {
    *isFloat = false;
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return 8;
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_ALAC_16:
        return 16;
    case SF_FORMAT_ALAC_20:
        return 20;
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_ALAC_24:
        return 24;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_ALAC_32:
        return 32;
    case SF_FORMAT_FLOAT:
        *isFloat = true;
        return 32;
    case SF_FORMAT_DOUBLE:
        *isFloat = true;
        return 64;
    default:
        return 0;
    }
}

PcmOpenError FromFileError(InputFileError error) {
    switch (error) {
    case InputFileError::NoSuchFile:
        return PcmOpenError::NoSuchFile;
    case InputFileError::IsDirectory:
        return PcmOpenError::IsDirectory;
    case InputFileError::PermissionDenied:
        return PcmOpenError::PermissionDenied;
    case InputFileError::NotRegularFile:
        return PcmOpenError::NotRegularFile;
    default:
        return PcmOpenError::Unreadable;
    }
}

PcmOpenError FromDecoderError(int error) {
    switch (error) {
    case SF_ERR_UNRECOGNISED_FORMAT:
        return PcmOpenError::NotRecognised;
    case SF_ERR_SYSTEM:
        return PcmOpenError::Unreadable;
    case SF_ERR_UNSUPPORTED_ENCODING:
        return PcmOpenError::NotSupported;
    default:
        return PcmOpenError::Malformed;
    }
}

// Packed 24-bit little-endian, as the pipeline's store: floor(x * 2^23) clamped to the range. Not a number
// (the decoded input is made finite, but the resampler's sums of huge values can still give one) is
// silence: it has no integer value.
void Store24(double x, std::uint8_t* out) noexcept {
    const double scaled = std::isnan(x) ? 0.0 : std::floor(x * 8388608.0);
    const auto v = static_cast<std::int32_t>(std::clamp(scaled, -8388608.0, 8388607.0));
    out[0] = static_cast<std::uint8_t>(v);
    out[1] = static_cast<std::uint8_t>(v >> 8);
    out[2] = static_cast<std::uint8_t>(v >> 16);
}

// A file opened for the decoder: the descriptor it reads through (the decoder does not close it) and its
// handle. fd < 0 when the file cannot be opened (*fileError says why); file null when the decoder knows no
// format in it (sf_error(nullptr) says why).
struct DecoderFile {
    int fd = -1;
    SNDFILE* file = nullptr;
    SF_INFO info{};
    std::uint64_t bytes = 0; // the file's size
};

DecoderFile OpenDecoder(const char* path, InputFileError* fileError) {
    DecoderFile d;
    d.fd = OpenInputFile(path, fileError, &d.bytes);
    if (d.fd >= 0)
        d.file = sf_open_fd(d.fd, SFM_READ, &d.info, SF_FALSE);
    return d;
}

void CloseDecoder(DecoderFile& d) noexcept {
    if (d.file != nullptr)
        sf_close(d.file);
    if (d.fd >= 0)
        platform::CloseFile(d.fd);
    d = DecoderFile{};
}

// Whether a FLAC can hold the total its header announces: every frame takes at least the smallest frame
// size its STREAMINFO states (and never less than 10 bytes) and holds at most its largest block, so a file
// of so many bytes holds at most so many samples. A total beyond that is a lie of the header.
bool FlacTotalHolds(int fd, std::uint64_t frames, std::uint64_t fileBytes) {
    std::uint64_t smallestFrame = 10; // a frame header and a constant subframe per channel take more
    std::uint64_t largestBlock = 65535;
    std::uint8_t head[8 + 34]; // "fLaC", the first block's header and STREAMINFO
    if (platform::ReadFullyAt(fd, head, sizeof head, 0) == static_cast<std::int64_t>(sizeof head) &&
        std::memcmp(head, "fLaC", 4) == 0 && (head[4] & 0x7F) == 0) {
        const std::uint8_t* info = head + 8;
        const std::uint64_t block = platform::ReadBe16(info + 2);
        const std::uint64_t frame = std::uint64_t{info[4]} << 16 | std::uint64_t{info[5]} << 8 | info[6];
        if (block >= 16) // the smallest block size a stream may use; below it the field is not filled in
            largestBlock = block;
        smallestFrame = std::max(smallestFrame, frame);
    }
    return frames <= (fileBytes / smallestFrame + 1) * largestBlock;
}

std::string Text(SNDFILE* file, int type) {
    const char* s = sf_get_string(file, type);
    return s ? std::string(s) : std::string();
}

} // namespace

const char* PcmOpenErrorText(PcmOpenError error) noexcept {
    switch (error) {
    case PcmOpenError::None:
        return "ok";
    case PcmOpenError::Unreadable:
        return "unreadable";
    case PcmOpenError::NoSuchFile:
        return InputFileErrorText(InputFileError::NoSuchFile);
    case PcmOpenError::IsDirectory:
        return InputFileErrorText(InputFileError::IsDirectory);
    case PcmOpenError::PermissionDenied:
        return InputFileErrorText(InputFileError::PermissionDenied);
    case PcmOpenError::NotRegularFile:
        return InputFileErrorText(InputFileError::NotRegularFile);
    case PcmOpenError::NotRecognised:
        return "not a known audio format";
    case PcmOpenError::Malformed:
        return "damaged file";
    case PcmOpenError::NotSupported:
        return "unsupported encoding";
    case PcmOpenError::TooManyChannels:
        return "more than 2 channels";
    case PcmOpenError::RateOutOfRange:
        return "rate outside 8 000 to 384 000 Hz";
    case PcmOpenError::EmptyData:
        return "no audio data";
    case PcmOpenError::NoAudio:
        return "no audio could be decoded";
    case PcmOpenError::ResamplerFailed:
        return "the resampler cannot be set up";
    }
    return "unknown";
}

bool ReadPcmFileTags(const char* path, PcmTags* tags) {
    if (path == nullptr || tags == nullptr)
        return false;
    InputFileError error = InputFileError::None;
    DecoderFile d = OpenDecoder(path, &error);
    const bool opened = d.file != nullptr;
    if (opened) {
        tags->title = Text(d.file, SF_STR_TITLE);
        tags->artist = Text(d.file, SF_STR_ARTIST);
        tags->album = Text(d.file, SF_STR_ALBUM);
    }
    CloseDecoder(d);
    return opened;
}

CPcmFileSource::CPcmFileSource() = default;

CPcmFileSource::~CPcmFileSource() {
    Close();
}

void CPcmFileSource::Close() noexcept {
    if (resampler_ != nullptr) {
        soxr_delete(resampler_);
        resampler_ = nullptr;
    }
    if (file_ != nullptr) {
        sf_close(file_);
        file_ = nullptr;
    }
    if (fd_ >= 0) {
        platform::CloseFile(fd_);
        fd_ = -1;
    }
}

std::uint64_t CPcmFileSource::LengthMs() const noexcept {
    if (rate_ == 0)
        return 0;
    if (!lengthKnown_)
        return kUnknownLengthMs;
    // In two steps: frames_ * 1000 could pass 2^64.
    return frames_ / rate_ * 1000 + frames_ % rate_ * 1000 / rate_;
}

bool CPcmFileSource::Open(const char* path) {
    Close();
    lastDetail_.clear();
    if (path == nullptr) {
        lastError_ = PcmOpenError::Unreadable;
        return false;
    }
    InputFileError fileError = InputFileError::None;
    DecoderFile d = OpenDecoder(path, &fileError);
    if (d.fd < 0) {
        lastError_ = FromFileError(fileError);
        return false;
    }
    fd_ = d.fd;
    file_ = d.file;
    if (file_ == nullptr) {
        lastError_ = FromDecoderError(sf_error(nullptr));
        lastDetail_ = sf_strerror(nullptr);
    } else {
        lastError_ = Setup(d.info, d.bytes);
    }
    if (lastError_ != PcmOpenError::None) {
        Close();
        return false;
    }
    return true;
}

PcmOpenError CPcmFileSource::Setup(const SF_INFO& info, std::uint64_t fileBytes) {
    if (info.channels < 1 || info.channels > 2)
        return PcmOpenError::TooManyChannels;
    if (info.samplerate < static_cast<int>(kMinRate) || info.samplerate > static_cast<int>(kMaxRate))
        return PcmOpenError::RateOutOfRange;
    if (info.frames <= 0)
        return PcmOpenError::EmptyData;
    channels_ = static_cast<std::uint32_t>(info.channels);
    rate_ = static_cast<std::uint32_t>(info.samplerate);
    TakeFormat(info);
    if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC && lengthKnown_ &&
        !FlacTotalHolds(fd_, frames_, fileBytes))
        lengthKnown_ = false;

    try {
        in_.assign(kDecodeFrames * channels_, 0.0);
        out_.assign(kOutputPieceFrames * channels_, 0.0);
    } catch (const std::bad_alloc&) {
        return PcmOpenError::Unreadable;
    }
    if (rate_ != kOutputRate) {
        soxr_error_t error = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        resampler_ = soxr_create(rate_, kOutputRate, channels_, &error, &io, &quality, &runtime);
        if (resampler_ == nullptr || error != nullptr) {
            if (error != nullptr)
                lastDetail_ = error;
            return PcmOpenError::ResamplerFailed;
        }
    }
    inFrames_ = inUsed_ = 0;
    inputPosition_ = outputFrames_ = 0;
    inputDone_ = flushed_ = false;
    earlyEndMs_ = kNoEarlyEnd;
    discardFrames_ = 0;
    // A header alone, or audio damaged from its first frame on, would play as silence for the length the
    // header declares: such a file is refused here, as it cannot be played. The piece decoded is the
    // first one the reads deliver.
    if (!Decode())
        return PcmOpenError::NoAudio;
    return PcmOpenError::None;
}

void CPcmFileSource::TakeFormat(const SF_INFO& info) {
    frames_ = static_cast<std::uint64_t>(info.frames);
    // A stream whose header leaves the total out: the decoder says the largest count there is.
    totalAnnounced_ = info.frames != SF_COUNT_MAX;
    lengthKnown_ = totalAnnounced_;
    bool isFloat = false;
    bits_ = SubtypeBits(info.format, &isFloat);
    formatName_ = MajorName(info.format) + (isFloat ? "-float" : "");
    tags_.title = Text(file_, SF_STR_TITLE);
    tags_.artist = Text(file_, SF_STR_ARTIST);
    tags_.album = Text(file_, SF_STR_ALBUM);
}

bool CPcmFileSource::SeekMs(std::uint32_t ms) {
    if (file_ == nullptr)
        return false;
    const std::uint64_t frame = std::uint64_t{ms} * rate_ / 1000;
    inFrames_ = inUsed_ = 0;
    outputFrames_ = std::uint64_t{ms} * kOutputRate / 1000;
    flushed_ = false;
    earlyEndMs_ = kNoEarlyEnd;
    // A resampler cleared at the new place would start its filter on silence, and its first output would
    // ring with that edge. It is given the audio before the place as history instead, a whole number of
    // input periods whose output frames are then dropped, so the first frame kept falls where the seek
    // asked, as from the track's start. At least 4 096 input frames: far longer than the filter.
    std::uint64_t history = 0;
    discardFrames_ = 0;
    if (resampler_ != nullptr) {
        soxr_clear(resampler_);
        const std::uint64_t common = std::gcd<std::uint64_t>(rate_, kOutputRate);
        const std::uint64_t inPeriod = rate_ / common;
        const std::uint64_t periods = std::min((4096 + inPeriod - 1) / inPeriod, frame / inPeriod);
        history = periods * inPeriod;
        discardFrames_ = static_cast<std::size_t>(periods * (kOutputRate / common));
    }
    if (frame >= frames_ || sf_seek(file_, static_cast<sf_count_t>(frame - history), SEEK_SET) < 0) {
        inputPosition_ = frames_;
        inputDone_ = true;
        flushed_ = true;
        discardFrames_ = 0;
        return false;
    }
    inputPosition_ = frame - history;
    inputDone_ = false;
    return true;
}

void CPcmFileSource::EndEarly() noexcept {
    const std::uint64_t ms = inputPosition_ * 1000 / rate_;
    earlyEndMs_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, kNoEarlyEnd - 1));
}

bool CPcmFileSource::FollowOn() {
    // Only a file decoded to its announced end: a damaged one ends the audio where it broke.
    if (follower_ == nullptr || !lengthKnown_ || inputPosition_ < frames_ || earlyEndMs_ != kNoEarlyEnd)
        return false;
    const char* path = follower_->NextPath();
    if (path == nullptr)
        return false;
    InputFileError fileError = InputFileError::None;
    DecoderFile next = OpenDecoder(path, &fileError);
    const SF_INFO& info = next.info;
    if (next.file == nullptr || info.channels != static_cast<int>(channels_) ||
        info.samplerate != static_cast<int>(rate_) || info.frames <= 0) {
        CloseDecoder(next);
        return false;
    }
    // Its first piece decides, as at Open: a file with no audio that can be decoded is not followed.
    const std::size_t want = PieceFrames(static_cast<std::uint64_t>(info.frames), 0);
    const std::size_t got = DecodePiece(next.file, want);
    if (got == 0) {
        CloseDecoder(next);
        return false;
    }
    sf_close(file_);
    platform::CloseFile(fd_);
    file_ = next.file;
    fd_ = next.fd;
    TakeFormat(info);
    inputPosition_ = outputFrames_ = 0;
    inputDone_ = false;
    TakePiece(got, want);
    follower_->Followed();
    return true;
}

std::size_t CPcmFileSource::PieceFrames(std::uint64_t frames, std::uint64_t position) noexcept {
    // Never ask for more than the header announced: a read past it would fail and count as an early end.
    return static_cast<std::size_t>(
        std::min<std::uint64_t>(kDecodeFrames, frames > position ? frames - position : 0));
}

std::size_t CPcmFileSource::DecodePiece(SNDFILE* file, std::size_t want) {
    const sf_count_t got = want == 0 ? 0 : sf_readf_double(file, in_.data(), static_cast<sf_count_t>(want));
    if (got <= 0)
        return 0;
    // A sample that is not a number or infinite plays as silence; in the resampler it would spread to
    // everything after it, and as an integer it has no value.
    const auto count = static_cast<std::size_t>(got);
    for (std::size_t i = 0; i < count * channels_; ++i)
        if (!std::isfinite(in_[i]))
            in_[i] = 0.0;
    return count;
}

void CPcmFileSource::TakePiece(std::size_t got, std::size_t want) noexcept {
    inFrames_ = got;
    inUsed_ = 0;
    inputPosition_ += got;
    if (got < want) {
        // A damaged or cut file: what was decoded plays, and the audio ends after it.
        inputDone_ = true;
        EndEarly();
    } else if (inputPosition_ >= frames_) {
        inputDone_ = true;
    }
}

bool CPcmFileSource::Decode() {
    if (inputDone_)
        return FollowOn();
    const std::size_t want = PieceFrames(frames_, inputPosition_);
    const std::size_t got = DecodePiece(file_, want);
    if (got == 0) {
        inputDone_ = true;
        if (inputPosition_ < frames_)
            EndEarly();
        return false;
    }
    TakePiece(got, want);
    return true;
}

bool CPcmFileSource::Read(void* buffer, std::uint32_t byteCount) {
    if (file_ == nullptr)
        return false;
    std::memset(buffer, 0, byteCount);
    return ReadFrames(buffer, byteCount / kOutputFrameBytes) > 0;
}

std::size_t CPcmFileSource::ReadFrames(void* buffer, std::size_t frames) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::memset(bytes, 0, frames * kOutputFrameBytes);
    if (file_ == nullptr)
        return 0;
    std::size_t done = 0;
    while (done < frames) {
        const std::size_t want = std::min(frames - done, kOutputPieceFrames);
        const double* samples = nullptr;
        std::size_t got = 0;
        if (resampler_ == nullptr) {
            if (inUsed_ == inFrames_ && !Decode())
                break;
            got = std::min(want, inFrames_ - inUsed_);
            samples = in_.data() + inUsed_ * channels_;
            inUsed_ += got;
        } else {
            while (got == 0 && !flushed_) {
                if (inUsed_ == inFrames_)
                    Decode();
                std::size_t used = 0;
                if (inUsed_ < inFrames_) {
                    soxr_process(resampler_, in_.data() + inUsed_ * channels_, inFrames_ - inUsed_, &used,
                                 out_.data(), want, &got);
                    inUsed_ += used;
                } else {
                    // The input is over: a null input lets the resampler give out what its filter holds.
                    soxr_process(resampler_, nullptr, 0, nullptr, out_.data(), want, &got);
                    if (got == 0)
                        flushed_ = true;
                }
                // The history read before a seek's place only primes the filter.
                const std::size_t drop = std::min(got, discardFrames_);
                discardFrames_ -= drop;
                got -= drop;
                samples = out_.data() + drop * channels_;
            }
            if (got == 0)
                break;
        }
        std::uint8_t* at = bytes + done * kOutputFrameBytes;
        for (std::size_t f = 0; f < got; ++f) {
            const double left = samples[f * channels_];
            const double right = channels_ == 2 ? samples[f * channels_ + 1] : left;
            Store24(left, at);
            Store24(right, at + 3);
            at += kOutputFrameBytes;
        }
        done += got;
    }
    outputFrames_ += done;
    return done;
}

} // namespace engine
