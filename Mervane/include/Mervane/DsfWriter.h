// Writes a DSD stereo stream (DSD64, DSD128, DSD256 or DSD512) as a DSF file, one 8192-byte DSD block at a
// time.
#pragma once

#include "Platform/DsdRate.h"

#include <cstdint>
#include <string>

// Builds a DSF file whose header always describes the blocks written so far once Flush or Close has run:
// the header is written first with zero lengths, blocks are appended, and Flush/Close rewrite the total
// size, the sample count and the data chunk size in place. A recording cut off by a crash therefore opens
// as a valid file holding everything up to the last Flush (and any whole blocks after it, though the header
// will not count those).
//
// Not thread-safe: one thread (the output driver's) calls every member. All calls block on file I/O;
// results are bool and nothing throws.
class DsfWriter {
public:
    // One block: 4096 bytes of the left channel, then 4096 of the right; eight one-bit samples per byte,
    // earliest sample in bit 0 (the DSF "LSB first" order, so bytes go to the file unchanged). The DSF
    // block size per channel is 4096 at every rate.
    static constexpr std::uint32_t kBlockBytes = 8192;
    static constexpr std::uint32_t kChannelBlockBytes = 4096;
    static constexpr std::uint32_t kSampleRate = 2822400;
    // "DSD " chunk (28) + "fmt " chunk (52) + "data" chunk header (12).
    static constexpr std::uint32_t kHeaderBytes = 92;

    DsfWriter() noexcept = default;
    ~DsfWriter(); // closes (and so finalises) an open file
    DsfWriter(const DsfWriter&) = delete;
    DsfWriter& operator=(const DsfWriter&) = delete;

    // Closes any open file, then creates or truncates path (UTF-8) and writes the header of an empty
    // stream at rate (the header's sampling frequency). False (errno set) when the file cannot be created
    // or written; a file whose header could not be written (a full disk) is removed again, so no empty
    // file is left behind.
    bool Create(const std::string& path, platform::DsdRate rate = platform::DsdRate::kDsd64);
    // The same, but only when nothing has that name yet: an existing file (or link) is never touched, and
    // false is returned with errno EEXIST.
    bool CreateNew(const std::string& path, platform::DsdRate rate = platform::DsdRate::kDsd64);

    // Appends one block (kBlockBytes bytes, read from block). False when no file is open, block is null
    // or the write fails; a failed write leaves the file at its previous whole-block length.
    bool WriteBlock(const std::uint8_t* block);

    // Rewrites the header so it describes every block appended so far. Meant to be called periodically
    // (the output driver does so once a second). False when no file is open or the write fails.
    bool Flush();

    // Flushes, then asks the system to put the file on the disk (so a rename after Close cannot leave an
    // empty or partial file under the new name after a crash). False when no file is open or either step
    // fails.
    bool Sync();

    // Flushes and closes. True when there was nothing to close or everything was written; false when the
    // final header could not be written or the close reported an error.
    bool Close();

    bool IsOpen() const noexcept { return fd_ >= 0; }
    platform::DsdRate Rate() const noexcept { return rate_; }
    std::uint64_t BlockCount() const noexcept { return blocks_; }
    // Samples per channel in the blocks written so far.
    std::uint64_t SampleCount() const noexcept { return blocks_ * kChannelBlockBytes * 8; }

private:
    // Takes over fd, a file just created as path, and writes its first header.
    bool Begin(int fd, const std::string& path, platform::DsdRate rate);
    bool WriteAt(const std::uint8_t* bytes, std::size_t count, std::uint64_t offset);

    int fd_ = -1;
    std::uint64_t blocks_ = 0;
    platform::DsdRate rate_ = platform::DsdRate::kDsd64;
};
