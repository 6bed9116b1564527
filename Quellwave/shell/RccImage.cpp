#include "RccImage.h"

#include <vector>

namespace rcc {
namespace {

constexpr std::uint16_t kFlagCompressed = 0x01;
constexpr std::uint16_t kFlagDirectory = 0x02;
constexpr std::uint16_t kFlagCompressedZstd = 0x04;
// Format flags of version 3 images: which compression the image uses.
constexpr std::uint32_t kKnownFormatFlags = 0x01 | 0x04;

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

    // True when [offset, offset + length) lies inside the image; guards against wrap-around.
    bool Holds(std::uint64_t offset, std::uint64_t length) const noexcept {
        return offset <= size_ && length <= size_ - offset;
    }
    std::uint32_t U32(std::size_t at) const noexcept {
        return (std::uint32_t{data_[at]} << 24) | (std::uint32_t{data_[at + 1]} << 16) |
               (std::uint32_t{data_[at + 2]} << 8) | std::uint32_t{data_[at + 3]};
    }
    std::uint8_t U8(std::size_t at) const noexcept { return data_[at]; }
    std::uint16_t U16(std::size_t at) const noexcept {
        return static_cast<std::uint16_t>((data_[at] << 8) | data_[at + 1]);
    }
    std::size_t size() const noexcept { return size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// A name: 2-byte length in UTF-16 units, 4-byte hash, then the units. A name is one path component, so
// it is never empty, "." or "..", and never holds a "/": such names would make paths that lead back
// into the tree.
ImageCheck CheckName(const Reader& in, std::uint64_t names, std::uint32_t offset) noexcept {
    const std::uint64_t at = names + offset;
    if (!in.Holds(at, 6)) {
        return ImageCheck::kOutOfBounds;
    }
    const std::size_t length = in.U16(static_cast<std::size_t>(at));
    if (!in.Holds(at + 6, std::uint64_t{length} * 2)) {
        return ImageCheck::kOutOfBounds;
    }
    const std::size_t first = static_cast<std::size_t>(at + 6);
    bool allDots = true;
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint16_t unit = in.U16(first + 2 * i);
        if (unit == '/') {
            return ImageCheck::kBadName;
        }
        allDots = allDots && unit == '.';
    }
    return length == 0 || (allDots && length <= 2) ? ImageCheck::kBadName : ImageCheck::kOk;
}

// The size a compressed block says it unpacks to. zlib blocks (Qt's own format) start with it as a
// 4-byte big-endian count; zstd frames carry it in their header when they carry it at all.
std::uint64_t ClaimedSize(const Reader& in, std::size_t block, std::size_t length, bool zstd) noexcept {
    if (!zstd) {
        return length >= 4 ? in.U32(block) : 0;
    }
    if (length < 6) {
        return 0;
    }
    auto byte = [&](std::size_t i) -> std::uint64_t { return in.U8(block + i); };
    const bool isFrame = byte(0) == 0x28 && byte(1) == 0xB5 && byte(2) == 0x2F && byte(3) == 0xFD;
    if (!isFrame) {
        return 0; // not a frame Qt can unpack; it fails the read without allocating
    }
    const std::uint64_t descriptor = byte(4);
    const bool singleSegment = (descriptor & 0x20) != 0;
    const std::size_t dictionaryBytes[] = {0, 1, 2, 4};
    const std::size_t sizeBytes[] = {singleSegment ? 1u : 0u, 2, 4, 8};
    const std::size_t sizeField = 5 + (singleSegment ? 0 : 1) + dictionaryBytes[descriptor & 3];
    const std::size_t count = sizeBytes[descriptor >> 6];
    if (count == 0 || sizeField + count > length) {
        return 0;
    }
    std::uint64_t size = 0;
    for (std::size_t i = count; i-- > 0;) {
        size = (size << 8) | byte(sizeField + i);
    }
    return count == 2 ? size + 256 : size;
}

// A data block: 4-byte length, then the bytes.
ImageCheck CheckData(const Reader& in, std::uint64_t data, std::uint32_t offset,
                     std::uint16_t flags) noexcept {
    const std::uint64_t at = data + offset;
    if (!in.Holds(at, 4)) {
        return ImageCheck::kOutOfBounds;
    }
    const std::uint32_t length = in.U32(static_cast<std::size_t>(at));
    if (!in.Holds(at + 4, length)) {
        return ImageCheck::kOutOfBounds;
    }
    if ((flags & (kFlagCompressed | kFlagCompressedZstd)) != 0 &&
        ClaimedSize(in, static_cast<std::size_t>(at + 4), length, (flags & kFlagCompressedZstd) != 0) >
            kMaxUnpackedBytes) {
        return ImageCheck::kTooLarge;
    }
    return ImageCheck::kOk;
}

} // namespace

ImageCheck CheckImage(const std::uint8_t* data, std::size_t size) noexcept {
    if (data == nullptr || size < 20) {
        return ImageCheck::kTooShort;
    }
    const Reader in(data, size);
    if (data[0] != 'q' || data[1] != 'r' || data[2] != 'e' || data[3] != 's') {
        return ImageCheck::kBadMagic;
    }
    const std::uint32_t version = in.U32(4);
    if (version < 1 || version > 3) {
        return ImageCheck::kBadVersion;
    }
    const std::uint64_t tree = in.U32(8);
    const std::uint64_t payload = in.U32(12);
    const std::uint64_t names = in.U32(16);
    if (version >= 3) {
        if (size < 24) {
            return ImageCheck::kTooShort;
        }
        if ((in.U32(20) & ~kKnownFormatFlags) != 0) {
            return ImageCheck::kBadFlags;
        }
    }
    // Version 1 nodes are 14 bytes; later versions add an 8-byte modification time.
    const std::uint64_t nodeSize = version >= 2 ? 22 : 14;
    if (!in.Holds(tree, nodeSize)) {
        return ImageCheck::kOutOfBounds;
    }
    const std::uint64_t maxNodes = (size - tree) / nodeSize;
    auto nodeAt = [&](std::uint64_t index) { return static_cast<std::size_t>(tree + index * nodeSize); };

    if ((in.U16(nodeAt(0) + 4) & kFlagDirectory) == 0) {
        return ImageCheck::kBadTree;
    }
    // Every node has one parent in an image rcc writes, so a node reached twice means a loop or shared
    // children; both are refused rather than followed.
    std::vector<bool> seen(static_cast<std::size_t>(maxNodes), false);
    std::vector<std::uint64_t> pending{0};
    seen[0] = true;
    std::uint64_t visited = 0;
    while (!pending.empty()) {
        const std::uint64_t index = pending.back();
        pending.pop_back();
        if (++visited > maxNodes) {
            return ImageCheck::kTooManyNodes;
        }
        const std::size_t node = nodeAt(index);
        // The root's name is never read by a look-up; every other node's is compared.
        if (index != 0) {
            if (const ImageCheck name = CheckName(in, names, in.U32(node)); name != ImageCheck::kOk) {
                return name;
            }
        }
        const std::uint16_t flags = in.U16(node + 4);
        if ((flags & kFlagDirectory) != 0) {
            const std::uint64_t count = in.U32(node + 6);
            const std::uint64_t first = in.U32(node + 10);
            if (count > maxNodes || first > maxNodes - count) {
                return ImageCheck::kOutOfBounds;
            }
            for (std::uint64_t child = first; child < first + count; ++child) {
                if (seen[static_cast<std::size_t>(child)]) {
                    return ImageCheck::kBadTree;
                }
                seen[static_cast<std::size_t>(child)] = true;
                pending.push_back(child);
            }
        } else {
            if ((flags & ~(kFlagCompressed | kFlagCompressedZstd)) != 0) {
                return ImageCheck::kBadTree;
            }
            if (const ImageCheck block = CheckData(in, payload, in.U32(node + 10), flags);
                block != ImageCheck::kOk) {
                return block;
            }
        }
    }
    return ImageCheck::kOk;
}

} // namespace rcc
