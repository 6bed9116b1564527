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
    std::uint16_t U16(std::size_t at) const noexcept {
        return static_cast<std::uint16_t>((data_[at] << 8) | data_[at + 1]);
    }
    std::size_t size() const noexcept { return size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// A name: 2-byte length in UTF-16 units, 4-byte hash, then the units.
bool NameFits(const Reader& in, std::uint64_t names, std::uint32_t offset) noexcept {
    const std::uint64_t at = names + offset;
    if (!in.Holds(at, 6)) {
        return false;
    }
    return in.Holds(at + 6, std::uint64_t{in.U16(static_cast<std::size_t>(at))} * 2);
}

// A data block: 4-byte length, then the bytes (a compressed block carries its own sizes, which the
// decompressor checks).
bool DataFits(const Reader& in, std::uint64_t data, std::uint32_t offset) noexcept {
    const std::uint64_t at = data + offset;
    if (!in.Holds(at, 4)) {
        return false;
    }
    return in.Holds(at + 4, in.U32(static_cast<std::size_t>(at)));
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
        if (index != 0 && !NameFits(in, names, in.U32(node))) {
            return ImageCheck::kOutOfBounds;
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
            if (!DataFits(in, payload, in.U32(node + 10))) {
                return ImageCheck::kOutOfBounds;
            }
        }
    }
    return ImageCheck::kOk;
}

} // namespace rcc
