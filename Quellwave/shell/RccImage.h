// Checks a Qt binary resource image (.rcc) before it is handed to Qt. Qt's own checks when it registers an
// image only look at the header; a damaged or hostile file whose tree, names or data point outside the
// file would be read out of bounds later, at the first look-up. This check walks everything a look-up can
// reach and accepts the image only when all of it lies inside the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rcc {

// Largest size a compressed resource may claim to unpack to: Qt allocates what a block claims before it
// unpacks it, so a damaged claim would otherwise cost up to gigabytes.
inline constexpr std::uint64_t kMaxUnpackedBytes = 64u * 1024 * 1024;

enum class ImageCheck {
    kOk,
    kTooShort,     // shorter than the header
    kBadMagic,     // does not start with "qres"
    kBadVersion,   // format version other than 1, 2 or 3
    kBadFlags,     // format flags Qt does not know
    kOutOfBounds,  // a node, name or data block reaches past the end
    kBadTree,      // the root is not a folder, or a folder's children loop back or overlap
    kTooManyNodes, // more nodes than the file can hold
    kBadName,      // a name that is empty, "." or "..", or holds a "/"
    kTooLarge,     // a compressed block claims to unpack to more than kMaxUnpackedBytes
};

// Checks the image in data[0, size). Pure function of its input; any thread.
ImageCheck CheckImage(const std::uint8_t* data, std::size_t size) noexcept;

} // namespace rcc
