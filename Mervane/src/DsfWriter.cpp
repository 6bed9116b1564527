#include "Mervane/DsfWriter.h"

#include "Platform/ByteOrder.h"
#include "Platform/FileIo.h"

#include <cerrno>

namespace {

constexpr std::uint64_t kDsdChunkBytes = 28;
constexpr std::uint64_t kFmtChunkBytes = 52;
constexpr std::uint64_t kDataHeaderBytes = 12;

using platform::WriteLe32;
using platform::WriteLe64;

// The whole 92-byte header for a stream of the given number of blocks.
void BuildHeader(std::uint8_t (&h)[DsfWriter::kHeaderBytes], std::uint64_t blocks,
                 platform::DsdRate rate) noexcept {
    const std::uint64_t dataBytes = blocks * DsfWriter::kBlockBytes;
    const std::uint64_t samplesPerChannel = blocks * DsfWriter::kChannelBlockBytes * 8;
    std::uint8_t* p = h;
    // "DSD " chunk: its size, the total file size, no metadata.
    p[0] = 'D', p[1] = 'S', p[2] = 'D', p[3] = ' ';
    WriteLe64(p + 4, kDsdChunkBytes);
    WriteLe64(p + 12, DsfWriter::kHeaderBytes + dataBytes);
    WriteLe64(p + 20, 0);
    p += kDsdChunkBytes;
    // "fmt " chunk: version 1, raw DSD, stereo layout, two channels, the rate, LSB first.
    p[0] = 'f', p[1] = 'm', p[2] = 't', p[3] = ' ';
    WriteLe64(p + 4, kFmtChunkBytes);
    WriteLe32(p + 12, 1);
    WriteLe32(p + 16, 0);
    WriteLe32(p + 20, 2);
    WriteLe32(p + 24, 2);
    WriteLe32(p + 28, platform::DsdSampleRate(rate));
    WriteLe32(p + 32, 1);
    WriteLe64(p + 36, samplesPerChannel);
    WriteLe32(p + 44, DsfWriter::kChannelBlockBytes);
    WriteLe32(p + 48, 0);
    p += kFmtChunkBytes;
    // "data" chunk: its size counts its own 12-byte header.
    p[0] = 'd', p[1] = 'a', p[2] = 't', p[3] = 'a';
    WriteLe64(p + 4, kDataHeaderBytes + dataBytes);
}

} // namespace

DsfWriter::~DsfWriter() {
    Close();
}

bool DsfWriter::WriteAt(const std::uint8_t* bytes, std::size_t count, std::uint64_t offset) {
    return platform::WriteFullyAt(fd_, bytes, count, offset);
}

bool DsfWriter::Create(const std::string& path, platform::DsdRate rate) {
    Close();
    return Begin(platform::CreateFileForWriting(path.c_str(), false, 0644), path, rate);
}

bool DsfWriter::CreateNew(const std::string& path, platform::DsdRate rate) {
    Close();
    return Begin(platform::CreateNewFileForWriting(path.c_str(), 0644), path, rate);
}

bool DsfWriter::Begin(int fd, const std::string& path, platform::DsdRate rate) {
    rate_ = rate;
    if (fd < 0)
        return false;
    fd_ = fd;
    blocks_ = 0;
    if (!Flush()) {
        const int error = errno;
        platform::CloseFile(fd_);
        fd_ = -1;
        platform::RemoveFile(path.c_str());
        errno = error;
        return false;
    }
    return true;
}

bool DsfWriter::WriteBlock(const std::uint8_t* block) {
    if (fd_ < 0 || block == nullptr)
        return false;
    const std::uint64_t offset = kHeaderBytes + blocks_ * kBlockBytes;
    if (!WriteAt(block, kBlockBytes, offset)) {
        // Drop a partly written block so the data stays a whole number of blocks.
        (void)platform::TruncateFile(fd_, offset);
        return false;
    }
    ++blocks_;
    return true;
}

bool DsfWriter::Flush() {
    if (fd_ < 0)
        return false;
    std::uint8_t header[kHeaderBytes];
    BuildHeader(header, blocks_, rate_);
    return WriteAt(header, sizeof header, 0);
}

bool DsfWriter::Sync() {
    return Flush() && platform::SyncFile(fd_);
}

bool DsfWriter::Close() {
    if (fd_ < 0)
        return true;
    const bool flushed = Flush();
    const bool closed = platform::CloseFile(fd_);
    fd_ = -1;
    return flushed && closed;
}
