#include "CDsdFileSource.h"

#include "Platform/ByteOrder.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace engine {

namespace {

using platform::ReadLe32;
using platform::ReadLe64;

// DSDIFF stores the earliest sample of a byte in bit 7; the device blocks want it in bit 0.
using platform::kBitReversed;

constexpr std::int64_t kMaxOffset = std::numeric_limits<std::int64_t>::max();

// What a channel plays where it has no sample byte: the DSD idle pattern.
constexpr unsigned char kDsdSilence = 0x69;

} // namespace

const char* DsdOpenErrorText(DsdOpenError error) noexcept {
    switch (error) {
    case DsdOpenError::None:
        return "ok";
    case DsdOpenError::Unreadable:
        return "unreadable";
    case DsdOpenError::NoSuchFile:
        return InputFileErrorText(InputFileError::NoSuchFile);
    case DsdOpenError::IsDirectory:
        return InputFileErrorText(InputFileError::IsDirectory);
    case DsdOpenError::PermissionDenied:
        return InputFileErrorText(InputFileError::PermissionDenied);
    case DsdOpenError::NotRegularFile:
        return InputFileErrorText(InputFileError::NotRegularFile);
    case DsdOpenError::NoAudioData:
        return "no audio data";
    case DsdOpenError::NotDsd:
        return "not DSF or DSDIFF";
    case DsdOpenError::TruncatedHeader:
        return "truncated header";
    case DsdOpenError::BadSizeFactors:
        return "bad size factors";
    case DsdOpenError::OutOfMemory:
        return "out of memory";
    case DsdOpenError::NoFormatChunk:
        return "no fmt chunk";
    case DsdOpenError::BadFormatSize:
        return "fmt chunk not 52 bytes";
    case DsdOpenError::NotRawDsd:
        return "not raw DSD";
    case DsdOpenError::NotStereo:
        return "not stereo";
    case DsdOpenError::UnsupportedRate:
        return "not 2 822 400, 5 644 800 or 11 289 600 Hz";
    case DsdOpenError::NotOneBit:
        return "not 1 bit per sample";
    case DsdOpenError::BadBlockSize:
        return "block size not 4096";
    case DsdOpenError::NoDataChunk:
        return "no data chunk";
    case DsdOpenError::BadDataSize:
        return "data chunk too small";
    case DsdOpenError::NotDsdForm:
        return "FRM8 form not DSD";
    case DsdOpenError::NoVersionChunk:
        return "no FVER chunk";
    case DsdOpenError::NoPropertyChunk:
        return "no PROP chunk";
    case DsdOpenError::NotSoundProperty:
        return "PROP not SND";
    case DsdOpenError::NoRateChunk:
        return "no FS chunk";
    case DsdOpenError::NoChannelChunk:
        return "no CHNL chunk";
    case DsdOpenError::NotLeftRight:
        return "channels not SLFT and SRGT";
    case DsdOpenError::Compressed:
        return "compressed";
    case DsdOpenError::DstCompressed:
        return "DST-compressed DSDIFF is not supported";
    case DsdOpenError::NoSoundData:
        return "no DSD sound data chunk";
    }
    return "unknown";
}

std::uint64_t DsdLengthMs(std::uint64_t totalSampleBytes, platform::DsdRate rate) noexcept {
    // x * 1000 / d split into quotient and remainder so the product stays far below 2^64.
    const std::uint64_t x = (totalSampleBytes / 8) / 2;
    const std::uint64_t d = 44100 * static_cast<std::uint64_t>(platform::DsdRateMultiple(rate));
    return (x / d) * 1000 + (x % d) * 1000 / d;
}

CDsdFileSource::CDsdFileSource() : sourceLock_(std::make_unique<std::mutex>()) {}

CDsdFileSource::~CDsdFileSource() {
    Close();
}

std::uint64_t CDsdFileSource::ElementsPerChannel() const noexcept {
    // A channel whose bytes end inside an element still gets that element, completed with silence.
    return format_.channelCount == 0 ? 0 : (totalSampleBytes_ / format_.channelCount + 3) / 4;
}

std::uint64_t CDsdFileSource::BytesLeftPerChannel() const noexcept {
    if (!open_ || format_.channelCount == 0)
        return 0;
    const std::uint64_t perChannel = totalSampleBytes_ / format_.channelCount;
    const std::uint64_t done = nextElement_ * 4; // never more than a channel's elements
    return perChannel > done ? perChannel - done : 0;
}

bool CDsdFileSource::Open(const char* path, std::int32_t sizeFactorA, std::int32_t sizeFactorB) {
    if (open_)
        Close();
    lastError_ = DsdOpenError::None;
    // The file buffer holds A blocks per channel and the rings max(A, B) blocks; factors outside this
    // range would leave a buffer too small for one read, or sizes that overflow.
    if (sizeFactorA < 1 || sizeFactorB < 1 || sizeFactorA > kMaxSizeFactor || sizeFactorB > kMaxSizeFactor) {
        lastError_ = DsdOpenError::BadSizeFactors;
        return false;
    }
    if (path == nullptr || !stream_.Open(path, GENERIC_READ)) {
        switch (stream_.LastOpenError()) {
        case InputFileError::NoSuchFile:
            lastError_ = DsdOpenError::NoSuchFile;
            break;
        case InputFileError::IsDirectory:
            lastError_ = DsdOpenError::IsDirectory;
            break;
        case InputFileError::PermissionDenied:
            lastError_ = DsdOpenError::PermissionDenied;
            break;
        case InputFileError::NotRegularFile:
            lastError_ = DsdOpenError::NotRegularFile;
            break;
        default:
            lastError_ = DsdOpenError::Unreadable;
            break;
        }
        return false;
    }
    sizeFactorA_ = sizeFactorA;
    sizeFactorB_ = sizeFactorB;
    positioned_ = false;
    nextElement_ = 0;
    lastError_ = Detect();
    if (lastError_ != DsdOpenError::None) {
        stream_.Close();
        stream_.ClearChunks();
        isDsdiff_ = false;
        return false;
    }
    try {
        ResetRings();
        const std::size_t blocks =
            static_cast<std::size_t>(std::max(sizeFactorA_, sizeFactorB_)) * format_.channelCount;
        fileBufferBytes_ = blocks * kDsfBlockBytes;
        fileBuffer_ = std::make_unique<std::uint32_t[]>(fileBufferBytes_ / 4);
    } catch (const std::bad_alloc&) {
        lastError_ = DsdOpenError::OutOfMemory;
        stream_.Close();
        fileBuffer_.reset();
        isDsdiff_ = false;
        return false;
    }
    open_ = stream_.IsOpen();
    return open_;
}

bool CDsdFileSource::Close() {
    if (!open_)
        return false;
    stream_.Close();
    stream_.ClearChunks();
    fileBuffer_.reset();
    fileBufferBytes_ = 0;
    open_ = false;
    isDsdiff_ = false;
    positioned_ = false;
    return true;
}

void CDsdFileSource::ResetRings() {
    const std::int32_t n = std::max(sizeFactorA_, sizeFactorB_) * 8192;
    for (CSampleRing& ring : rings_)
        ring.Create(n / 4, n / 8, n / 8, false);
}

DsdOpenError CDsdFileSource::Detect() {
    // Nothing of an earlier file may survive into this one's record.
    format_ = DsdFormat{};
    totalSampleBytes_ = 0;
    dataBytes_ = 0;
    try {
        if (stream_.Seek(0, FILE_BEGIN) != 0)
            return DsdOpenError::Unreadable;
        char magic[4];
        const std::uint32_t got = stream_.Read(magic, 4);
        if (got == 4 && std::memcmp(magic, "DSD ", 4) == 0) {
            isDsdiff_ = false;
            stream_.SetSizes64(false);
            stream_.SetBigEndian(false);
            stream_.ClearChunks();
            const DsdOpenError error = ParseDsf();
            return error != DsdOpenError::None ? error : ClampToFile();
        }
        if (got == 4 && std::memcmp(magic, "FRM8", 4) == 0) {
            isDsdiff_ = true;
            stream_.SetSizes64(true);
            stream_.SetBigEndian(true);
            stream_.ClearChunks();
            const DsdOpenError error = ParseDsdiff();
            return error != DsdOpenError::None ? error : ClampToFile();
        }
        // A file shorter than the magic that starts like one is a cut DSD file, not some other format.
        if (got > 0 && got < 4 &&
            (std::memcmp(magic, "DSD ", got) == 0 || std::memcmp(magic, "FRM8", got) == 0))
            return DsdOpenError::TruncatedHeader;
        return DsdOpenError::NotDsd;
    } catch (...) {
        return DsdOpenError::Unreadable;
    }
}

DsdOpenError CDsdFileSource::ParseDsf() {
    char id[4];
    if (stream_.Seek(28, FILE_BEGIN) != 28)
        return DsdOpenError::Unreadable;
    std::uint32_t got = stream_.Read(id, 4);
    if (got != 4)
        return DsdOpenError::TruncatedHeader;
    if (std::memcmp(id, "fmt ", 4) != 0)
        return DsdOpenError::NoFormatChunk;

    unsigned char record[48];
    if (stream_.Read(record, sizeof record) != sizeof record)
        return DsdOpenError::TruncatedHeader;
    format_.chunkSize = ReadLe64(record);
    format_.formatVersion = ReadLe32(record + 8);
    format_.formatId = ReadLe32(record + 12);
    format_.channelType = ReadLe32(record + 16);
    format_.channelCount = ReadLe32(record + 20);
    format_.samplingFrequency = ReadLe32(record + 24);
    format_.bitsPerSample = ReadLe32(record + 28);
    format_.sampleCount = ReadLe64(record + 32);
    format_.blockSizePerChannel = ReadLe32(record + 40);
    format_.reserved = ReadLe32(record + 44);

    if (format_.chunkSize != 52)
        return DsdOpenError::BadFormatSize;
    if (format_.formatId != 0)
        return DsdOpenError::NotRawDsd;
    if (format_.channelCount != 2)
        return DsdOpenError::NotStereo;
    if (!platform::DsdRateFromSampleRate(format_.samplingFrequency))
        return DsdOpenError::UnsupportedRate;
    if (format_.bitsPerSample != 1)
        return DsdOpenError::NotOneBit;
    if (format_.blockSizePerChannel != kDsfBlockBytes)
        return DsdOpenError::BadBlockSize;
    totalSampleBytes_ = (format_.sampleCount / 8) * 2;

    got = stream_.Read(id, 4);
    if (got != 4)
        return DsdOpenError::TruncatedHeader;
    if (std::memcmp(id, "data", 4) != 0)
        return DsdOpenError::NoDataChunk;
    unsigned char size[8];
    if (stream_.Read(size, sizeof size) != sizeof size)
        return DsdOpenError::TruncatedHeader;
    // The size counts the chunk's own 12-byte header; a smaller one would wrap to an endless payload.
    const std::uint64_t chunkSize = ReadLe64(size);
    if (chunkSize < 12)
        return DsdOpenError::BadDataSize;
    dataBytes_ = chunkSize - 12;
    return DsdOpenError::None;
}

DsdOpenError CDsdFileSource::ParseDsdiff() {
    char type[4];
    // The magic was read, so the only way to miss the form chunk is a header cut short.
    if (!stream_.FindChunk("FRM8", true))
        return DsdOpenError::TruncatedHeader;
    if (stream_.Read(type, 4) != 4)
        return DsdOpenError::TruncatedHeader;
    if (std::memcmp(type, "DSD ", 4) != 0)
        return DsdOpenError::NotDsdForm;

    if (!stream_.FindChunk("FVER"))
        return DsdOpenError::NoVersionChunk;
    if (!stream_.ReadValue(format_.formatVersion) || !stream_.EndChunk())
        return DsdOpenError::TruncatedHeader;

    if (!stream_.FindChunk("PROP"))
        return DsdOpenError::NoPropertyChunk;
    const std::uint32_t got = stream_.Read(type, 4);
    if (got != 4)
        return DsdOpenError::TruncatedHeader;
    if (std::memcmp(type, "SND ", 4) != 0)
        return DsdOpenError::NotSoundProperty;

    // Without a rate or a channel count the block size or channel count would stay 0, which the reads
    // and Seek divide by: such files are refused here.
    if (!stream_.FindChunk("FS  "))
        return DsdOpenError::NoRateChunk;
    if (!stream_.ReadValue(format_.samplingFrequency))
        return DsdOpenError::TruncatedHeader;
    format_.bitsPerSample = 1;
    format_.blockSizePerChannel = 1;
    if (!platform::DsdRateFromSampleRate(format_.samplingFrequency))
        return DsdOpenError::UnsupportedRate;
    if (!stream_.EndChunk())
        return DsdOpenError::TruncatedHeader;

    if (const DsdOpenError error = ParseChannels(); error != DsdOpenError::None)
        return error;

    if (stream_.FindChunk("CMPR")) {
        if (stream_.Read(type, 4) != 4)
            return DsdOpenError::TruncatedHeader;
        if (std::memcmp(type, "DST ", 4) == 0)
            return DsdOpenError::DstCompressed;
        if (std::memcmp(type, "DSD ", 4) != 0)
            return DsdOpenError::Compressed;
        if (!stream_.EndChunk())
            return DsdOpenError::TruncatedHeader;
    }
    if (!stream_.EndChunk()) // leaves PROP
        return DsdOpenError::TruncatedHeader;

    if (!stream_.FindChunk("DSD "))
        return DsdOpenError::NoSoundData;
    totalSampleBytes_ = stream_.Top()->size;
    const std::uint64_t perChannel = totalSampleBytes_ / format_.channelCount;
    format_.sampleCount = perChannel > std::numeric_limits<std::uint64_t>::max() / 8
                              ? std::numeric_limits<std::uint64_t>::max()
                              : perChannel * 8;
    return DsdOpenError::None;
}

DsdOpenError CDsdFileSource::ParseChannels() {
    if (!stream_.FindChunk("CHNL"))
        return DsdOpenError::NoChannelChunk;
    std::uint16_t channels = 0;
    if (!stream_.ReadValue(channels))
        return DsdOpenError::TruncatedHeader;
    if (channels != 2)
        return DsdOpenError::NotStereo;
    // The identifiers say which stored channel is which: a file may list the right one first.
    bool seen[2] = {false, false};
    for (std::size_t c = 0; c < 2; ++c) {
        char id[4];
        if (stream_.Read(id, 4) != 4)
            return DsdOpenError::TruncatedHeader;
        const int ring = std::memcmp(id, "SLFT", 4) == 0 ? 0 : std::memcmp(id, "SRGT", 4) == 0 ? 1 : -1;
        if (ring < 0 || seen[ring])
            return DsdOpenError::NotLeftRight;
        seen[ring] = true;
        dsdiffRing_[c] = static_cast<std::uint8_t>(ring);
    }
    format_.channelCount = channels;
    if (!stream_.EndChunk())
        return DsdOpenError::TruncatedHeader;
    return DsdOpenError::None;
}

DsdOpenError CDsdFileSource::ClampToFile() {
    const std::int64_t fileSize = stream_.Size();
    if (fileSize < 0)
        return DsdOpenError::Unreadable;
    const std::uint64_t channels = format_.channelCount;
    std::uint64_t perChannel = 0;
    if (isDsdiff_) {
        // Frames of one byte per channel from the sound chunk's data on.
        const std::uint64_t start = stream_.Top()->dataPosition;
        const std::uint64_t present = static_cast<std::uint64_t>(fileSize) > start ? fileSize - start : 0;
        perChannel = std::min(totalSampleBytes_, present) / channels;
    } else {
        // Blocks of 4096 bytes per channel, channel after channel: a file cut inside a group of blocks
        // holds, for every channel, only what its last channel holds.
        const std::uint64_t present = static_cast<std::uint64_t>(fileSize) > kDsfDataOffset
                                          ? std::min<std::uint64_t>(fileSize - kDsfDataOffset, dataBytes_)
                                          : 0;
        const std::uint64_t group = std::uint64_t{kDsfBlockBytes} * channels;
        const std::uint64_t rest = present % group;
        const std::uint64_t lastChannel = group - kDsfBlockBytes;
        perChannel = present / group * kDsfBlockBytes + (rest > lastChannel ? rest - lastChannel : 0);
        perChannel = std::min(perChannel, totalSampleBytes_ / channels);
    }
    totalSampleBytes_ = perChannel * channels;
    if (totalSampleBytes_ == 0)
        return DsdOpenError::NoAudioData;
    if (isDsdiff_)
        format_.sampleCount = perChannel * 8;
    return DsdOpenError::None;
}

bool CDsdFileSource::Fill() {
    return isDsdiff_ ? FillDsdiff() : FillDsf();
}

bool CDsdFileSource::FillDsf() {
    const std::int64_t p = stream_.Tell();
    if (p < static_cast<std::int64_t>(kDsfDataOffset))
        return false;
    const std::uint64_t done = static_cast<std::uint64_t>(p) - kDsfDataOffset;
    // The data chunk may hold more than the sample count (padding, trailing blocks): nothing past the
    // sample count is sample data.
    if (done >= dataBytes_ || done >= totalSampleBytes_)
        return false;
    const std::uint32_t channels = format_.channelCount;
    const std::uint32_t groupBytes = kDsfBlockBytes * channels;
    auto* bytes = reinterpret_cast<unsigned char*>(fileBuffer_.get());
    const std::uint32_t got = stream_.Read(bytes, static_cast<std::uint32_t>(sizeFactorA_) * groupBytes);
    if (got == 0)
        return false;
    const std::uint64_t valid = std::min<std::uint64_t>(got, totalSampleBytes_ - done);

    std::lock_guard<std::mutex> lock(*sourceLock_);
    for (std::uint32_t group = 0; group < got; group += groupBytes) {
        if (valid <= group)
            break;
        const std::uint64_t validHere = valid - group;
        std::uint32_t perChannel =
            validHere >= groupBytes ? kDsfBlockBytes : static_cast<std::uint32_t>(validHere / channels);
        // A file that ends inside a group gives the later channels less: every channel gets only what
        // all of them have, so the channels stay in step.
        for (std::uint32_t c = 0; c < channels; ++c) {
            const std::uint32_t start = group + c * kDsfBlockBytes;
            const std::uint32_t present = got > start ? std::min(got - start, kDsfBlockBytes) : 0;
            perChannel = std::min(perChannel, present);
        }
        if (perChannel == 0)
            break;
        // The last element of a channel that ends inside it is completed with silence.
        const std::uint32_t elements = (perChannel + 3) / 4;
        for (std::uint32_t c = 0; c < channels; ++c) {
            unsigned char* block = bytes + group + c * kDsfBlockBytes;
            std::memset(block + perChannel, kDsdSilence, elements * 4 - perChannel);
            rings_[c].Write(fileBuffer_.get() + (group + c * kDsfBlockBytes) / 4,
                            static_cast<std::int32_t>(elements));
        }
    }
    return true;
}

bool CDsdFileSource::FillDsdiff() {
    const CChunkStream::ChunkEntry* sound = stream_.Top();
    const std::int64_t p = stream_.Tell();
    if (sound == nullptr || p < 0 || static_cast<std::uint64_t>(p) < sound->dataPosition)
        return false;
    const std::uint64_t done = static_cast<std::uint64_t>(p) - sound->dataPosition;
    if (done >= totalSampleBytes_)
        return false;
    const std::uint32_t channels = format_.channelCount;
    const std::uint32_t groupBytes = 4 * channels; // four frames of one byte per channel
    const std::uint64_t remaining = totalSampleBytes_ - done;
    std::uint64_t wanted = std::min<std::uint64_t>(
        static_cast<std::uint64_t>(sizeFactorA_) * channels * kDsfBlockBytes, remaining);
    // Whole groups only, except for the end of the data: a partial one would shift the channel order of
    // every later read.
    const bool toTheEnd = wanted == remaining;
    if (!toTheEnd)
        wanted -= wanted % groupBytes;
    if (wanted == 0)
        return false;
    auto* bytes = reinterpret_cast<unsigned char*>(fileBuffer_.get());
    const std::uint32_t got = stream_.Read(bytes, static_cast<std::uint32_t>(wanted));
    const std::uint32_t groups = got / groupBytes;
    // The frames of a final partial group (fewer than four) become one element per channel, completed
    // with silence; a short read leaves its partial group for the next read instead.
    const std::uint32_t tailFrames = toTheEnd && got == wanted ? (got % groupBytes) / channels : 0;
    if (tailFrames == 0 && got % groupBytes != 0)
        stream_.Seek(-static_cast<std::int64_t>(got % groupBytes), FILE_CURRENT);
    if (groups == 0 && tailFrames == 0)
        return false;

    std::lock_guard<std::mutex> lock(*sourceLock_);
    const std::uint32_t elements = groups + (tailFrames > 0 ? 1 : 0);
    for (std::uint32_t g = 0; g < elements; ++g) {
        const unsigned char* frames = bytes + static_cast<std::size_t>(g) * groupBytes;
        const std::uint32_t framesHere = g < groups ? 4 : tailFrames;
        for (std::uint32_t c = 0; c < channels; ++c) {
            unsigned char element[4] = {kDsdSilence, kDsdSilence, kDsdSilence, kDsdSilence};
            for (std::uint32_t f = 0; f < framesHere; ++f)
                element[f] = kBitReversed[frames[f * channels + c]];
            CSampleRing::Element value;
            std::memcpy(&value, element, sizeof value);
            rings_[dsdiffRing_[c]].PushOne(value);
        }
    }
    return true;
}

bool CDsdFileSource::Seek(std::uint64_t position) {
    if (!open_)
        return false;
    if (positioned_ && position == lastSeekPosition_)
        return true;
    positioned_ = false;
    try {
        ResetRings();
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (position >= ElementsPerChannel())
        return false;
    const std::uint64_t g = position * 4;
    const std::uint64_t blockBytes = format_.blockSizePerChannel;
    const std::uint64_t base = isDsdiff_ ? stream_.Top()->dataPosition : kDsfDataOffset;
    const std::uint64_t block = g / blockBytes;
    // g < total sample bytes, so block * blockBytes * channels stays within the declared data.
    const std::uint64_t offset = base + block * blockBytes * format_.channelCount;
    if (offset > static_cast<std::uint64_t>(kMaxOffset))
        return false;
    if (stream_.Seek(static_cast<std::int64_t>(offset), FILE_BEGIN) < 0)
        return false;
    if (!Fill())
        return false;
    // The remainder within the block is a byte count; it is dropped as the elements it spans, so the
    // next Get starts exactly at element `position` (DSDIFF reads from the exact byte: nothing to drop).
    const auto skip = static_cast<std::int32_t>((g % blockBytes) / 4);
    if (skip > 0) {
        std::array<CSampleRing::Element, kDsfBlockBytes / 4> scratch;
        std::lock_guard<std::mutex> lock(*sourceLock_);
        for (std::uint32_t c = 0; c < format_.channelCount; ++c)
            if (!rings_[c].Read(scratch.data(), skip))
                return false;
    }
    lastSeekPosition_ = position;
    positioned_ = true;
    nextElement_ = position;
    return true;
}

int CDsdFileSource::Get(int count, std::uint32_t* const* destinations) {
    if (!open_ || count <= 0 || destinations == nullptr)
        return 0;
    CSampleRing& first = rings_[0];
    // A Fill adds up to one read's worth; once the ring has no room for that, more reads would lose data,
    // so a count beyond what the ring can hold is served in part.
    while (first.Overflowed() || first.Readable() < count) {
        if (first.Free() <= ElementsPerFill())
            break;
        if (!Fill())
            break;
    }
    int delivered = 0;
    {
        std::lock_guard<std::mutex> lock(*sourceLock_);
        for (std::uint32_t c = 0; c < format_.channelCount; ++c) {
            CSampleRing& ring = rings_[c];
            if (ring.Read(destinations[c], count)) {
                delivered = count;
                continue;
            }
            const std::int32_t left = ring.Overflowed() ? 0 : ring.Readable();
            delivered = left > 0 && ring.Read(destinations[c], left) ? left : 0;
        }
    }
    positioned_ = false;
    nextElement_ += static_cast<std::uint64_t>(delivered);
    return delivered;
}

} // namespace engine
