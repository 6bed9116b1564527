#include "CChunkStream.h"

#include <cstring>
#include <limits>
#include <stdexcept>

namespace engine {

bool CChunkStream::ReadUnsigned(std::uint64_t& value, int bytes) {
    unsigned char raw[8];
    if (Read(raw, static_cast<std::uint32_t>(bytes)) != static_cast<std::uint32_t>(bytes))
        return false;
    value = 0;
    for (int i = 0; i < bytes; ++i) {
        const int shift = bigEndian_ ? 8 * (bytes - 1 - i) : 8 * i;
        value |= static_cast<std::uint64_t>(raw[i]) << shift;
    }
    return true;
}

bool CChunkStream::ReadValue(std::uint16_t& value) {
    std::uint64_t v = 0;
    if (!ReadUnsigned(v, 2))
        return false;
    value = static_cast<std::uint16_t>(v);
    return true;
}

bool CChunkStream::ReadValue(std::uint32_t& value) {
    std::uint64_t v = 0;
    if (!ReadUnsigned(v, 4))
        return false;
    value = static_cast<std::uint32_t>(v);
    return true;
}

bool CChunkStream::ReadValue(std::uint64_t& value) {
    return ReadUnsigned(value, 8);
}

namespace {

bool PlausibleChunkId(const unsigned char* id) noexcept {
    for (int i = 0; i < 4; ++i)
        if (id[i] < 0x20 || id[i] > 0x7E)
            return false;
    return true;
}

} // namespace

bool CChunkStream::SkipPadByte(std::uint64_t size) {
    if (size % 2 == 0)
        return true;
    const std::int64_t end = Tell();
    // A chunk that ends at the largest offset a file can have has no room for a pad byte, nor for a
    // chunk after it (and the padded position would not be representable).
    if (end < 0 || end == std::numeric_limits<std::int64_t>::max())
        return false;
    // An odd-sized chunk is followed by a pad byte. Some writers leave it out: when the padded position
    // holds no chunk identifier but the unpadded one does, the pad is taken to be missing.
    unsigned char id[5] = {};
    const std::uint32_t got = Read(id, sizeof id);
    const bool padded = got == 5 && PlausibleChunkId(id + 1);
    const bool unpadded = got >= 4 && PlausibleChunkId(id);
    return Seek(end + (!padded && unpadded ? 0 : 1), FILE_BEGIN) >= 0;
}

bool CChunkStream::FindChunk(const char* id, bool rewind) {
    if (rewind) {
        stack_.clear();
        if (Seek(0, FILE_BEGIN) != 0)
            return false;
    }
    for (;;) {
        char found[4];
        if (Read(found, 4) != 4)
            return false;
        std::uint64_t size = 0;
        if (!ReadUnsigned(size, sizes64_ ? 8 : 4))
            return false;
        // A size that does not fit a signed offset would turn the skip below into a backward move and
        // could bring the scan back to a header it already passed, forever.
        if (size > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return false;
        if (std::memcmp(found, id, 4) == 0) {
            const std::int64_t position = Tell();
            if (position < 0)
                return false;
            if (stack_.size() >= kMaxChunkDepth)
                throw std::length_error("chunk stack too deep");
            stack_.push_back({size, static_cast<std::uint64_t>(position)});
            return true;
        }
        const std::int64_t here = Tell();
        if (here < 0 || static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max() - here) < size)
            return false;
        if (Seek(static_cast<std::int64_t>(size), FILE_CURRENT) < 0 || !SkipPadByte(size))
            return false;
    }
}

bool CChunkStream::EndChunk() {
    if (stack_.empty())
        return false;
    const ChunkEntry top = stack_.back();
    stack_.pop_back();
    if (top.dataPosition > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) - top.size)
        return false;
    return Seek(static_cast<std::int64_t>(top.dataPosition + top.size), FILE_BEGIN) >= 0 &&
           SkipPadByte(top.size);
}

} // namespace engine
