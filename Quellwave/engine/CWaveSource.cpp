#include "CWaveSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t kMaxFormatSize = 256;
constexpr std::uint32_t kBasicFormatSize = 16;      // tag, channels, rate, byte rate, align, bits
constexpr std::uint32_t kExtensibleFormatSize = 40; // ... plus size, valid bits, mask and sub-format
constexpr std::uint32_t kSubFormatOffset = 24;
constexpr int kMaxChunksBeforeData = 5;
constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
constexpr unsigned char kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                             0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::uint16_t Le16(const unsigned char* p) noexcept {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Le32(const unsigned char* p) noexcept {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Reads until count bytes arrived, the file ends or an error occurs. Returns the bytes read, or -1 when
// the very first read fails.
long ReadFully(int fd, void* buffer, std::size_t count) {
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(fd, out + done, count - done);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return done == 0 ? -1 : static_cast<long>(done);
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<long>(done);
}

} // namespace

const char* WaveOpenErrorText(WaveOpenError error) noexcept {
    switch (error) {
    case WaveOpenError::None:
        return "ok";
    case WaveOpenError::Unreadable:
        return "unreadable";
    case WaveOpenError::TruncatedHeader:
        return "truncated header";
    case WaveOpenError::NotRiff:
        return "not RIFF";
    case WaveOpenError::NotWave:
        return "not WAVE";
    case WaveOpenError::FormatNotFirst:
        return "format chunk not first";
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
        return "no data chunk within five chunks";
    case WaveOpenError::EmptyData:
        return "empty data";
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
        ::close(fileHandle_);
        fileHandle_ = -1;
    }
}

bool CWaveSource::Open(const char* path) {
    Close();
    if (path == nullptr) {
        lastError_ = WaveOpenError::Unreadable;
        return false;
    }
    fileHandle_ = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fileHandle_ < 0) {
        lastError_ = WaveOpenError::Unreadable;
        return false;
    }
    lastError_ = ParseHeader();
    if (lastError_ != WaveOpenError::None) {
        Close();
        return false;
    }
    return true;
}

WaveOpenError CWaveSource::ParseHeader() {
    unsigned char riff[20];
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
    if (got >= 16 && !has(12, "fmt "))
        return WaveOpenError::FormatNotFirst;
    if (got < static_cast<long>(sizeof riff))
        return WaveOpenError::TruncatedHeader;
    const std::uint32_t formatSize = Le32(riff + 16);
    if (formatSize > kMaxFormatSize)
        return WaveOpenError::FormatTooLarge;

    unsigned char format[kMaxFormatSize] = {};
    const long formatGot = ReadFully(fileHandle_, format, formatSize);
    if (formatGot < 0)
        return WaveOpenError::Unreadable;
    if (static_cast<std::uint32_t>(formatGot) != formatSize)
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
    if (Le32(format + 4) != 44100)
        return WaveOpenError::Not44100;
    const std::uint16_t bits = Le16(format + 14);
    if (bits != 16 && bits != 24)
        return WaveOpenError::NotSupportedBits;
    if (static_cast<std::uint32_t>(Le16(format + 12)) * 8 != static_cast<std::uint32_t>(bits) * 2)
        return WaveOpenError::BadBlockAlign;

    // A chunk that claims to reach past the end of the file cannot be followed by the data chunk; without
    // this check the skip would "succeed" and the next header read would merely come up empty.
    struct stat info {};
    const bool knownSize = ::fstat(fileHandle_, &info) == 0 && S_ISREG(info.st_mode);
    const std::uint64_t fileSize = knownSize ? static_cast<std::uint64_t>(info.st_size) : 0;

    std::uint64_t consumed = sizeof riff + formatSize;
    for (int chunk = 0; chunk < kMaxChunksBeforeData; ++chunk) {
        unsigned char header[8];
        const long headerGot = ReadFully(fileHandle_, header, sizeof header);
        if (headerGot < 0)
            return WaveOpenError::Unreadable;
        if (headerGot == 0)
            return WaveOpenError::NoDataChunk;
        if (headerGot != static_cast<long>(sizeof header))
            return WaveOpenError::TruncatedHeader;
        consumed += sizeof header;
        const std::uint32_t size = Le32(header + 4);
        if (std::memcmp(header, "data", 4) == 0) {
            if (size == 0)
                return WaveOpenError::EmptyData;
            if (consumed > std::numeric_limits<std::uint32_t>::max())
                return WaveOpenError::DataOffsetTooLarge;
            dataSize_ = size;
            dataOffset_ = static_cast<std::uint32_t>(consumed);
            bytesPerSample_ = bits / 8u;
            return WaveOpenError::None;
        }
        // Chunks follow each other without a pad byte after an odd size: that is how these files are read.
        if (knownSize && consumed + size > fileSize)
            return WaveOpenError::NoDataChunk;
        const off_t moved = ::lseek(fileHandle_, static_cast<off_t>(size), SEEK_CUR);
        if (moved <= 0)
            return WaveOpenError::NoDataChunk;
        consumed += size;
    }
    return WaveOpenError::NoDataChunk;
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
    constexpr auto kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
    if (byteOffset > kMaxOffset - dataOffset_)
        return false;
    const off_t moved = ::lseek(fileHandle_, static_cast<off_t>(dataOffset_ + byteOffset), SEEK_SET);
    if (moved < 0)
        return false;
    readPosition_ = static_cast<std::uint64_t>(moved) - dataOffset_;
    return true;
}
