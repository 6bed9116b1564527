#include "CWaveSource.h"

#include "InputFile.h"
#include "Platform/ByteOrder.h"
#include "Platform/FileIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace engine {

namespace {

constexpr std::uint32_t kMaxFormatSize = 256;
constexpr std::uint32_t kBasicFormatSize = 16;      // tag, channels, rate, byte rate, align, bits
constexpr std::uint32_t kExtensibleFormatSize = 40; // ... plus size, valid bits, mask and sub-format
constexpr std::uint32_t kSubFormatOffset = 24;
constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
constexpr unsigned char kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                             0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::uint16_t Le16(const unsigned char* p) noexcept {
    return static_cast<std::uint16_t>(platform::ReadLe16(p));
}
using platform::ReadLe32;

// Chunk identifiers are four printable ASCII characters. Used to tell whether a writer left out the pad
// byte after an odd-sized chunk.
bool PlausibleChunkId(const unsigned char* id) noexcept {
    for (int i = 0; i < 4; ++i)
        if (id[i] < 0x20 || id[i] > 0x7E)
            return false;
    return true;
}

// Identifiers of the chunks WAV writers put before and around the audio.
bool KnownChunkId(const unsigned char* id) noexcept {
    static constexpr const char* kKnown[] = {"data", "fmt ", "LIST", "JUNK", "junk", "fact", "bext", "id3 ",
                                             "ID3 ", "cue ", "PAD ", "smpl", "inst", "iXML", "acid", "cart",
                                             "PEAK", "DISP", "labl", "plst", "umid", "axml", "ds64", "FLLR"};
    for (const char* known : kKnown)
        if (std::memcmp(id, known, 4) == 0)
            return true;
    return false;
}

// ReadFully's result as a count, with -1 kept for a failed first read.
long ReadFully(int fd, void* buffer, std::size_t count) {
    const std::int64_t got = platform::ReadFully(fd, buffer, count);
    return got < 0 ? -1 : static_cast<long>(got);
}

} // namespace

const char* WaveOpenErrorText(WaveOpenError error) noexcept {
    switch (error) {
    case WaveOpenError::None:
        return "ok";
    case WaveOpenError::Unreadable:
        return "unreadable";
    case WaveOpenError::NoSuchFile:
        return InputFileErrorText(InputFileError::NoSuchFile);
    case WaveOpenError::IsDirectory:
        return InputFileErrorText(InputFileError::IsDirectory);
    case WaveOpenError::PermissionDenied:
        return InputFileErrorText(InputFileError::PermissionDenied);
    case WaveOpenError::NotRegularFile:
        return InputFileErrorText(InputFileError::NotRegularFile);
    case WaveOpenError::TruncatedHeader:
        return "truncated header";
    case WaveOpenError::NotRiff:
        return "not RIFF";
    case WaveOpenError::NotWave:
        return "not WAVE";
    case WaveOpenError::NoFormatChunk:
        return "no format chunk before the data";
    case WaveOpenError::FormatTooLarge:
        return "too large format chunk";
    case WaveOpenError::FormatTooSmall:
        return "too small format chunk";
    case WaveOpenError::NotPcm:
        return "not PCM";
    case WaveOpenError::NotStereo:
        return "not stereo";
    case WaveOpenError::Not44100:
        return "not 44 100 Hz";
    case WaveOpenError::NotSupportedBits:
        return "not 16/24-bit";
    case WaveOpenError::BadBlockAlign:
        return "bad block align";
    case WaveOpenError::NoDataChunk:
        return "no data chunk";
    case WaveOpenError::EmptyData:
        return "no audio data";
    case WaveOpenError::DataOffsetTooLarge:
        return "data offset beyond 4 GiB";
    }
    return "unknown";
}

std::uint64_t WaveLengthMs(std::uint64_t dataSize, std::uint32_t bytesPerSample) noexcept {
    if (bytesPerSample == 0)
        return 0;
    // dataSize < 2^64 / 1000 for every size a header can declare, so the product cannot wrap.
    return ((dataSize / bytesPerSample) / 2) * 1000 / 44100;
}

std::uint64_t WaveDataOffsetForMs(std::uint32_t ms, std::uint32_t bytesPerSample) noexcept {
    return (static_cast<std::uint64_t>(ms) * 44100 / 1000) * bytesPerSample * 2;
}

CWaveSource::~CWaveSource() {
    Close();
}

void CWaveSource::Close() noexcept {
    if (fileHandle_ >= 0) {
        platform::CloseFile(fileHandle_);
        fileHandle_ = -1;
    }
}

bool CWaveSource::Open(const char* path) {
    Close();
    if (path == nullptr) {
        lastError_ = WaveOpenError::Unreadable;
        return false;
    }
    InputFileError fileError = InputFileError::None;
    std::uint64_t fileSize = 0;
    fileHandle_ = OpenInputFile(path, &fileError, &fileSize);
    if (fileHandle_ < 0) {
        switch (fileError) {
        case InputFileError::NoSuchFile:
            lastError_ = WaveOpenError::NoSuchFile;
            break;
        case InputFileError::IsDirectory:
            lastError_ = WaveOpenError::IsDirectory;
            break;
        case InputFileError::PermissionDenied:
            lastError_ = WaveOpenError::PermissionDenied;
            break;
        case InputFileError::NotRegularFile:
            lastError_ = WaveOpenError::NotRegularFile;
            break;
        default:
            lastError_ = WaveOpenError::Unreadable;
            break;
        }
        return false;
    }
    lastError_ = ParseHeader(fileSize);
    if (lastError_ != WaveOpenError::None) {
        Close();
        return false;
    }
    return true;
}

std::uint64_t CWaveSource::NextChunkOffset(std::uint64_t end, std::uint32_t size,
                                           std::uint64_t fileSize) const {
    if (size % 2 == 0)
        return end;
    // An odd-sized chunk is followed by a pad byte. Some writers leave it out. Printable bytes alone do
    // not tell the two apart (after an unpadded chunk, the padded position reads the next identifier's
    // last three letters and its size's low byte), so the position that holds a chunk header is chosen:
    // an identifier this reader knows first, else a printable one whose chunk fits in the file.
    enum class Header { None, Plausible, Known };
    const auto headerAt = [&](std::uint64_t at) {
        unsigned char header[8];
        if (at + 8 > fileSize || platform::ReadFullyAt(fileHandle_, header, 8, at) != 8 ||
            !PlausibleChunkId(header))
            return Header::None;
        if (KnownChunkId(header))
            return Header::Known;
        return at + 8 + ReadLe32(header + 4) <= fileSize ? Header::Plausible : Header::None;
    };
    const Header padded = headerAt(end + 1), unpadded = headerAt(end);
    if (padded == Header::Known)
        return end + 1;
    if (unpadded == Header::Known)
        return end;
    if (padded == Header::None && unpadded == Header::Plausible)
        return end;
    return end + 1;
}

WaveOpenError CWaveSource::ParseHeader(std::uint64_t fileSize) {
    unsigned char riff[12];
    const long got = ReadFully(fileHandle_, riff, sizeof riff);
    if (got < 0)
        return WaveOpenError::Unreadable;
    // Name the first thing that is wrong even in a short file, so a text file reads as "not RIFF" rather
    // than as a truncated WAV.
    const auto has = [&](std::size_t offset, const char* tag) {
        return static_cast<std::size_t>(got) >= offset + 4 && std::memcmp(riff + offset, tag, 4) == 0;
    };
    if (got >= 4 && !has(0, "RIFF"))
        return WaveOpenError::NotRiff;
    if (got >= 12 && !has(8, "WAVE"))
        return WaveOpenError::NotWave;
    if (got < static_cast<long>(sizeof riff))
        return WaveOpenError::TruncatedHeader;

    // Walk the chunks until the format and then the data are found. Every step moves at least one header
    // forward, and the walk ends with the file, so no chunk count needs to bound it.
    std::uint64_t position = sizeof riff;
    std::uint32_t bits = 0;
    for (;;) {
        if (position >= fileSize)
            return bits == 0 ? WaveOpenError::NoFormatChunk : WaveOpenError::NoDataChunk;
        unsigned char header[8];
        const std::int64_t headerGot = platform::ReadFullyAt(fileHandle_, header, sizeof header, position);
        if (headerGot < 0)
            return WaveOpenError::Unreadable;
        if (headerGot != static_cast<std::int64_t>(sizeof header))
            return WaveOpenError::TruncatedHeader;
        const std::uint32_t size = ReadLe32(header + 4);
        const std::uint64_t body = position + sizeof header;

        if (std::memcmp(header, "data", 4) == 0) {
            if (bits == 0)
                return WaveOpenError::NoFormatChunk;
            // A header may promise more than the file holds (a stream written to a pipe says 0xFFFFFFFF, a
            // download may be cut short): only what is there is audio, in whole frames.
            const std::uint32_t frameBytes = bits / 8u * 2;
            const std::uint64_t present = std::min<std::uint64_t>(size, fileSize - body);
            const std::uint64_t usable = present - present % frameBytes;
            if (usable == 0)
                return WaveOpenError::EmptyData;
            if (body > std::numeric_limits<std::uint32_t>::max())
                return WaveOpenError::DataOffsetTooLarge;
            if (platform::SeekFile(fileHandle_, static_cast<std::int64_t>(body),
                                   platform::SeekOrigin::Begin) < 0)
                return WaveOpenError::Unreadable;
            dataSize_ = usable;
            dataOffset_ = static_cast<std::uint32_t>(body);
            bytesPerSample_ = bits / 8u;
            return WaveOpenError::None;
        }
        if (std::memcmp(header, "fmt ", 4) == 0 && bits == 0) {
            const WaveOpenError formatError = ParseFormat(body, size, fileSize, &bits);
            if (formatError != WaveOpenError::None)
                return formatError;
        }
        position = NextChunkOffset(body + size, size, fileSize);
    }
}

WaveOpenError CWaveSource::ParseFormat(std::uint64_t at, std::uint32_t formatSize, std::uint64_t fileSize,
                                       std::uint32_t* bitsOut) const {
    if (formatSize > kMaxFormatSize)
        return WaveOpenError::FormatTooLarge;
    unsigned char format[kMaxFormatSize] = {};
    const std::int64_t formatGot = platform::ReadFullyAt(fileHandle_, format, formatSize, at);
    if (formatGot < 0)
        return WaveOpenError::Unreadable;
    if (static_cast<std::uint32_t>(formatGot) != formatSize || at + formatSize > fileSize)
        return WaveOpenError::TruncatedHeader;
    // The fields checked below lie at fixed offsets; a shorter block would leave them undefined.
    if (formatSize < kBasicFormatSize)
        return WaveOpenError::FormatTooSmall;
    const std::uint16_t tag = Le16(format);
    if (tag == kFormatExtensible) {
        if (formatSize < kExtensibleFormatSize)
            return WaveOpenError::FormatTooSmall;
        if (std::memcmp(format + kSubFormatOffset, kPcmSubFormat, sizeof kPcmSubFormat) != 0)
            return WaveOpenError::NotPcm;
    } else if (tag != kFormatPcm) {
        return WaveOpenError::NotPcm;
    }
    if (Le16(format + 2) != 2)
        return WaveOpenError::NotStereo;
    if (ReadLe32(format + 4) != 44100)
        return WaveOpenError::Not44100;
    const std::uint16_t bits = Le16(format + 14);
    if (bits != 16 && bits != 24)
        return WaveOpenError::NotSupportedBits;
    if (static_cast<std::uint32_t>(Le16(format + 12)) * 8 != static_cast<std::uint32_t>(bits) * 2)
        return WaveOpenError::BadBlockAlign;
    *bitsOut = bits;
    return WaveOpenError::None;
}

bool CWaveSource::Read(void* buffer, std::uint32_t byteCount) {
    if (fileHandle_ < 0)
        return false;
    std::memset(buffer, 0, byteCount);
    const std::uint64_t left = readPosition_ < dataSize_ ? dataSize_ - readPosition_ : 0;
    const std::uint32_t count = static_cast<std::uint32_t>(std::min<std::uint64_t>(byteCount, left));
    if (count == 0)
        return false;
    const long got = ReadFully(fileHandle_, buffer, count);
    if (got != static_cast<long>(count))
        return false;
    readPosition_ += count;
    return true;
}

bool CWaveSource::Seek(std::uint64_t byteOffset) {
    if (fileHandle_ < 0)
        return false;
    constexpr auto kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (byteOffset > kMaxOffset - dataOffset_)
        return false;
    const std::int64_t moved = platform::SeekFile(
        fileHandle_, static_cast<std::int64_t>(dataOffset_ + byteOffset), platform::SeekOrigin::Begin);
    if (moved < 0)
        return false;
    readPosition_ = static_cast<std::uint64_t>(moved) - dataOffset_;
    return true;
}

} // namespace engine
