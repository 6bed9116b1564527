// A file read as a sequence of tagged chunks (identifier, size, data), with a stack of the chunks entered,
// for the DSDIFF reader (64-bit big-endian sizes) and any 32-bit little-endian chunk format.
#pragma once

#include "CBasicFile.h"

#include <cstdint>
#include <list>

namespace engine {

class CChunkStream : public CBasicFile {
public:
    struct ChunkEntry {
        std::uint64_t size = 0;         // the chunk's data size as its header states it
        std::uint64_t dataPosition = 0; // file offset just after the chunk header
    };

    // Most nodes the chunk stack may hold; one more push throws std::length_error.
    static constexpr std::size_t kMaxChunkDepth = 0x0FFFFFFF;

    CChunkStream() = default;

    // Chunk headers carry 8-byte sizes instead of 4-byte ones. Off after construction.
    void SetSizes64(bool on) noexcept { sizes64_ = on; }
    // Chunk sizes are stored big-endian. Off after construction.
    void SetBigEndian(bool on) noexcept { bigEndian_ = on; }
    bool Sizes64() const noexcept { return sizes64_; }
    bool BigEndian() const noexcept { return bigEndian_; }

    // Scans the chunk headers from the current position (from offset 0 after emptying the stack, with
    // rewind) for the first chunk named id (4 bytes), stepping over the pad byte after each odd-sized chunk
    // (unless the writer left it out: see SkipPadByte). Found: pushes its size and data position and leaves
    // the file at its data. Not found (the file ends, a header is cut short, or a size cannot be skipped):
    // false, with the file position somewhere after where the scan began. Throws std::length_error when
    // the stack is full. Sizes beyond what a file offset can hold fail rather than wrap into a backward
    // move, so the scan always moves forward and ends.
    bool FindChunk(const char* id, bool rewind = false);

    // Leaves the innermost chunk entered: seeks to its data position + size (+ the pad byte after an odd
    // size, unless the writer left it out) and pops it.
    // False when the stack is empty or the seek fails (the entry is popped all the same).
    bool EndChunk();

    // Reads a 2-, 4- or 8-byte unsigned value in the stream's byte order. False on a short read.
    bool ReadValue(std::uint16_t& value);
    bool ReadValue(std::uint32_t& value);
    bool ReadValue(std::uint64_t& value);

    // The innermost chunk entered, or null when the stack is empty.
    const ChunkEntry* Top() const noexcept { return stack_.empty() ? nullptr : &stack_.back(); }
    std::size_t Depth() const noexcept { return stack_.size(); }
    void ClearChunks() noexcept { stack_.clear(); }

private:
    // At the end of a chunk of the given size: moves past its pad byte when the size is odd and the byte
    // after the pad starts a chunk identifier, or when the byte at the end does not. False when the
    // position cannot be read or set.
    bool SkipPadByte(std::uint64_t size);
    bool ReadUnsigned(std::uint64_t& value, int bytes);

    std::list<ChunkEntry> stack_;
    bool sizes64_ = false;
    bool bigEndian_ = false;
};

} // namespace engine
