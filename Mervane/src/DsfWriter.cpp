#include "Mervane/DsfWriter.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint64_t kDsdChunkBytes = 28;
constexpr std::uint64_t kFmtChunkBytes = 52;
constexpr std::uint64_t kDataHeaderBytes = 12;

void Put32(std::uint8_t* p, std::uint32_t v) noexcept {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void Put64(std::uint8_t* p, std::uint64_t v) noexcept {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The whole 92-byte header for a stream of the given number of blocks.
void BuildHeader(std::uint8_t (&h)[DsfWriter::kHeaderBytes], std::uint64_t blocks) noexcept {
    const std::uint64_t dataBytes = blocks * DsfWriter::kBlockBytes;
    const std::uint64_t samplesPerChannel = blocks * DsfWriter::kChannelBlockBytes * 8;
    std::uint8_t* p = h;
    // "DSD " chunk: its size, the total file size, no metadata.
    p[0] = 'D', p[1] = 'S', p[2] = 'D', p[3] = ' ';
    Put64(p + 4, kDsdChunkBytes);
    Put64(p + 12, DsfWriter::kHeaderBytes + dataBytes);
    Put64(p + 20, 0);
    p += kDsdChunkBytes;
    // "fmt " chunk: version 1, raw DSD, stereo layout, two channels, DSD64, LSB first.
    p[0] = 'f', p[1] = 'm', p[2] = 't', p[3] = ' ';
    Put64(p + 4, kFmtChunkBytes);
    Put32(p + 12, 1);
    Put32(p + 16, 0);
    Put32(p + 20, 2);
    Put32(p + 24, 2);
    Put32(p + 28, DsfWriter::kSampleRate);
    Put32(p + 32, 1);
    Put64(p + 36, samplesPerChannel);
    Put32(p + 44, DsfWriter::kChannelBlockBytes);
    Put32(p + 48, 0);
    p += kFmtChunkBytes;
    // "data" chunk: its size counts its own 12-byte header.
    p[0] = 'd', p[1] = 'a', p[2] = 't', p[3] = 'a';
    Put64(p + 4, kDataHeaderBytes + dataBytes);
}

} // namespace

DsfWriter::~DsfWriter() {
    Close();
}

bool DsfWriter::WriteAt(const std::uint8_t* bytes, std::size_t count, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t put = ::pwrite(fd_, bytes + done, count - done, static_cast<off_t>(offset + done));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (put == 0)
            return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

bool DsfWriter::Create(const std::string& path) {
    Close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0)
        return false;
    blocks_ = 0;
    if (!Flush()) {
        ::close(fd_);
        fd_ = -1;
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
        (void)::ftruncate(fd_, static_cast<off_t>(offset));
        return false;
    }
    ++blocks_;
    return true;
}

bool DsfWriter::Flush() {
    if (fd_ < 0)
        return false;
    std::uint8_t header[kHeaderBytes];
    BuildHeader(header, blocks_);
    return WriteAt(header, sizeof header, 0);
}

bool DsfWriter::Sync() {
    return Flush() && ::fsync(fd_) == 0;
}

bool DsfWriter::Close() {
    if (fd_ < 0)
        return true;
    const bool flushed = Flush();
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    return flushed && closed;
}
